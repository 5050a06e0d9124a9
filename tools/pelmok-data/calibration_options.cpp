#include "tools/pelmok-data/calibration_options.h"

#include <cmath>

#include "tools/common/decimal_option.h"

namespace datatools {

void AddCalibrationOptions(CLI::App* command, CalibrationFlags* flags) {
  command->add_option("--sensitivity", flags->sensitivityDb,
                      "hydrophone sensitivity, dB re 1 V/\xC2\xB5Pa (such as -165): levels in dB re 1 \xC2\xB5Pa, "
                      "spectra in dB re 1 \xC2\xB5Pa\xC2\xB2/Hz")
      ->transform(tools::DecimalReal());
  command->add_option("--gain", flags->gainDb, "gain between the hydrophone and the converter, dB (default 0)")
      ->transform(tools::DecimalReal());
}

bool ResolveCalibration(const CalibrationFlags& flags, Calibration* calibration, std::string* error) {
  *calibration = Calibration{};
  if (!flags.sensitivityDb) {
    if (flags.gainDb) {
      *error = "--gain needs --sensitivity: without the hydrophone's sensitivity levels stay in volts and dBFS";
      return false;
    }
    return true;
  }
  // A sensitivity in dB re 1 V/µPa is far below 0; a positive one is a sign slip.
  if (!std::isfinite(*flags.sensitivityDb) || *flags.sensitivityDb >= 0 || *flags.sensitivityDb < -300) {
    *error = "--sensitivity is in dB re 1 V/\xC2\xB5Pa, below 0 (such as -165)";
    return false;
  }
  if (flags.gainDb && (!std::isfinite(*flags.gainDb) || std::fabs(*flags.gainDb) > 200)) {
    *error = "--gain must lie within -200 to 200 dB";
    return false;
  }
  calibration->calibrated = true;
  calibration->sensitivityDb = *flags.sensitivityDb;
  calibration->gainDb = flags.gainDb.value_or(0);
  return true;
}

}  // namespace datatools
