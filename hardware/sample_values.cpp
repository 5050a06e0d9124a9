#include "hardware/sample_values.h"

#include <cmath>

namespace {

// The ten-decimal value the tone has always been computed with; the full
// double π would shift every sample of a long tone.
const double kPi = 3.1415926535;
const double kToneHz = 10000.0;
const double kToneAmplitude = 50000.0;

}  // namespace

double AdcCodeToVolts(int32_t code) {
  // 8388607 steps above zero, 8388608 below: full scale is +2.5 V exactly.
  const double lsb = 2.5 / (std::pow(2.0, 23.0) - 1.0);
  if ((code & 0x800000) != 0) {
    const uint32_t magnitude = (~static_cast<uint32_t>(code) & 0xFFFFFFu) + 1u;
    return (-1.0 * static_cast<double>(magnitude)) * lsb;
  }
  // Bits above 23 of a positive code are part of its value.
  return static_cast<double>(code) * lsb;
}

bool FillTestTone(int32_t count, int32_t samplesPerSecond, int32_t* values) {
  // A zero rate would make every time NaN or infinite, and converting that to
  // an integer is undefined; refuse instead of writing garbage.
  if (samplesPerSecond == 0) return false;
  for (int32_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(samplesPerSecond);
    const double x = ((2.0 * kPi) * kToneHz) * t;
    const double s = std::sin(x) * kToneAmplitude;
    values[i] = static_cast<int32_t>(s);
  }
  return true;
}
