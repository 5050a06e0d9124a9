#include "tools/pelmok-data/sound_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "tools/common/welch.h"
#include "tools/pelmok-data/record_samples.h"

namespace datatools {
namespace {

constexpr double kNotCovered = std::numeric_limits<double>::quiet_NaN();

double Db10(double power) {
  return power > 0 ? 10 * std::log10(power) : -std::numeric_limits<double>::infinity();
}

// The record's Welch density in the calibrated unit per Hz.
std::vector<double> CalibratedDensity(const WelchSpectra& welch, const Calibration& c) {
  std::vector<double> density = welch.Mean();
  for (size_t k = 0; k < density.size(); ++k)
    density[k] *= c.PowerPerCodeSquared(k * welch.BinHz());
  return density;
}

std::vector<double> BandLevels(const std::vector<Band>& bands, const std::vector<double>& density,
                               double binHz, const Calibration& c, bool perHz) {
  std::vector<double> levels;
  levels.reserve(bands.size());
  for (const Band& b : bands) {
    if (!c.Covers(b.lowHz, b.highHz)) {
      levels.push_back(kNotCovered);
      continue;
    }
    const double power = BandPower(density, binHz, b.lowHz, b.highHz);
    levels.push_back(Db10(perHz ? power / b.WidthHz() : power));
  }
  return levels;
}

}  // namespace

LevelUnits UnitsOf(const Calibration& c) {
  if (c.calibrated)
    return {"dB re 1 \xC2\xB5Pa", "dB re 1 \xC2\xB5Pa", "dB re 1 \xC2\xB5Pa\xC2\xB2s",
            "dB re 1 \xC2\xB5Pa\xC2\xB2/Hz"};
  return {"dBFS", "dBFS", "dB re 1 FS\xC2\xB2s", "dB re 1 FS\xC2\xB2/Hz"};
}

LevelBands BandsFor(uint32_t rateHz, double windowSeconds, const Calibration& c) {
  LevelBands b;
  b.rateHz = rateHz;
  b.windowSeconds = windowSeconds;
  const double nyquist = rateHz / 2.0;
  b.broadband = {0, 0, nyquist};
  b.frequencyCalibrated = !c.curve.empty();
  if (b.frequencyCalibrated && !c.extrapolate)
    b.broadband = {0, std::min(c.curve.front().hz, nyquist), std::min(c.curve.back().hz, nyquist)};
  b.decidecade = DecidecadeBands(nyquist);
  b.hmd = HybridMillidecadeBands(nyquist);
  return b;
}

bool MeasureRecord(const Deployment& d, const Record& r, const LevelBands& bands,
                   const Calibration& c, RecordLevels* levels, std::string* error) {
  WelchSpectra welch(WindowSamples(bands.windowSeconds, bands.rateHz, r.words), bands.rateHz);
  double squares = 0;
  int64_t peak = 0;
  const bool read = ForEachRecordBlock(
      d, r,
      [&](const std::vector<int32_t>& codes, const std::vector<uint32_t>&) {
        for (int32_t code : codes) {
          squares += static_cast<double>(code) * code;
          peak = std::max<int64_t>(peak, std::llabs(code));
        }
        welch.Add(codes.data(), codes.size());
      },
      error);
  if (!read) return false;
  *levels = RecordLevels{};
  levels->samples = r.words;
  levels->windows = welch.Windows();
  levels->windowLength = welch.Length();
  const std::vector<double> density = CalibratedDensity(welch, c);
  // Flat: the mean square of the samples; by frequency: the calibrated density integrated.
  const double meanSquare =
      bands.frequencyCalibrated
          ? BandPower(density, welch.BinHz(), bands.broadband.lowHz, bands.broadband.highHz)
          : squares / std::max<uint64_t>(1, r.words) * c.PowerPerCodeSquared(1000);
  const double seconds = static_cast<double>(r.words) / bands.rateHz;
  levels->broadbandDb = Db10(meanSquare);
  levels->selDb = Db10(meanSquare * seconds);
  // The waveform's peak has no frequency: the sensitivity at 1 kHz.
  levels->peakDb = Db10(static_cast<double>(peak) * peak * c.PowerPerCodeSquared(1000));
  levels->decidecadeDb = BandLevels(bands.decidecade, density, welch.BinHz(), c, false);
  levels->hmdDb = BandLevels(bands.hmd, density, welch.BinHz(), c, true);
  return true;
}

}  // namespace datatools
