#include "tools/pelmok-data/calibration_options.h"

#include <cmath>

#include "tools/common/decimal_option.h"

namespace datatools {

void AddCalibrationOptions(CLI::App* command, CalibrationFlags* flags) {
  command
      ->add_option("--sensitivity", flags->sensitivityDb,
                   "hydrophone sensitivity, dB re 1 V/\xC2\xB5Pa (such as -165): levels in dB re 1 "
                   "\xC2\xB5Pa, "
                   "spectra in dB re 1 \xC2\xB5Pa\xC2\xB2/Hz")
      ->transform(tools::DecimalReal());
  command
      ->add_option("--gain", flags->gainDb,
                   "gain between the hydrophone and the converter, dB (default 0)")
      ->transform(tools::DecimalReal());
  command
      ->add_option("--calibration", flags->curvePath,
                   "the hydrophone's sensitivity by frequency: CSV of frequency Hz and dB re 1 "
                   "V/\xC2\xB5Pa, linear in dB over log frequency between points")
      ->type_name("FILE");
  command->add_flag("--calibration-extrapolate", flags->extrapolate,
                    "levels beyond the calibration's points too, at its end points' sensitivities "
                    "(without it they are left out)");
}

namespace {

bool ResolveCurve(const CalibrationFlags& flags, Calibration* calibration, std::string* error) {
  if (flags.sensitivityDb) {
    *error = "--calibration and --sensitivity both give the hydrophone's sensitivity: give one";
    return false;
  }
  if (!ReadCalibrationCurve(flags.curvePath, &calibration->curve, error)) return false;
  calibration->calibrated = true;
  calibration->curvePath = flags.curvePath;
  calibration->extrapolate = flags.extrapolate;
  calibration->gainDb = flags.gainDb.value_or(0);
  calibration->sensitivityDb = calibration->SensitivityDbAt(1000);
  return true;
}

}  // namespace

bool ResolveCalibration(const CalibrationFlags& flags, Calibration* calibration,
                        std::string* error) {
  *calibration = Calibration{};
  if (flags.gainDb && (!std::isfinite(*flags.gainDb) || std::fabs(*flags.gainDb) > 200)) {
    *error = "--gain must lie within -200 to 200 dB";
    return false;
  }
  if (!flags.curvePath.empty()) return ResolveCurve(flags, calibration, error);
  if (flags.extrapolate) {
    *error = "--calibration-extrapolate needs --calibration FILE";
    return false;
  }
  if (!flags.sensitivityDb) {
    if (flags.gainDb) {
      *error =
          "--gain needs --sensitivity: without the hydrophone's sensitivity levels stay in volts "
          "and dBFS";
      return false;
    }
    return true;
  }
  // A sensitivity in dB re 1 V/µPa is far below 0; a positive one is a sign slip.
  if (!std::isfinite(*flags.sensitivityDb) || *flags.sensitivityDb >= 0 ||
      *flags.sensitivityDb < -300) {
    *error = "--sensitivity is in dB re 1 V/\xC2\xB5Pa, below 0 (such as -165)";
    return false;
  }
  calibration->calibrated = true;
  calibration->sensitivityDb = *flags.sensitivityDb;
  calibration->gainDb = flags.gainDb.value_or(0);
  return true;
}

}  // namespace datatools
