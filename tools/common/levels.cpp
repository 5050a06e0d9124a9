#include "tools/common/levels.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "hardware/sample_values.h"
#include "tools/formats/data_file.h"

namespace datatools {
namespace {

std::string Format(const char* format, double v) {
  char text[48];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

double Db20(double ratio) {
  return ratio > 0 ? 20 * std::log10(ratio) : -std::numeric_limits<double>::infinity();
}

}  // namespace

std::string Calibration::Text() const {
  if (!calibrated) return "uncalibrated";
  char text[256];
  if (curve.empty()) {
    std::snprintf(text, sizeof text, "sensitivity %.1f dB re 1 V/\xC2\xB5Pa, gain %.1f dB",
                  sensitivityDb, gainDb);
  } else {
    std::snprintf(
        text, sizeof text,
        "calibration %s (%zu points, %g to %g Hz, linear in dB over log frequency%s), gain %.1f dB",
        curvePath.c_str(), curve.size(), curve.front().hz, curve.back().hz,
        extrapolate ? "; beyond them the end values" : "", gainDb);
  }
  return text;
}

double Calibration::SensitivityDbAt(double hz) const {
  if (curve.empty()) return sensitivityDb;
  if (hz <= curve.front().hz) return curve.front().sensitivityDb;
  if (hz >= curve.back().hz) return curve.back().sensitivityDb;
  size_t i = 1;
  while (curve[i].hz < hz) ++i;
  const CalibrationPoint& a = curve[i - 1];
  const CalibrationPoint& b = curve[i];
  const double t = std::log(hz / a.hz) / std::log(b.hz / a.hz);
  return a.sensitivityDb + t * (b.sensitivityDb - a.sensitivityDb);
}

bool Calibration::Covers(double lowHz, double highHz) const {
  if (curve.empty() || extrapolate) return true;
  // A millionth of slack: band edges computed from powers of ten.
  return lowHz >= curve.front().hz * (1 - 1e-6) && highHz <= curve.back().hz * (1 + 1e-6);
}

double Calibration::PowerPerCodeSquared(double hz) const {
  if (!calibrated) return 1.0 / (static_cast<double>(kFullScaleCode) * kFullScaleCode);
  const double lsb = AdcCodeToVolts(1);
  // The hydrophone gives 10^(S/20) V per µPa, raised by the gain.
  const double voltsPerUpa = std::pow(10.0, (SensitivityDbAt(hz) + gainDb) / 20);
  return lsb * lsb / (voltsPerUpa * voltsPerUpa);
}

// The converter's step as AdcCodeToVolts takes it: 2.5 V over 8388607 codes.
double CodesToVolts(double codes) { return codes * AdcCodeToVolts(1); }

// The voltage at the converter is the hydrophone's, raised by the gain; the
// hydrophone gives 10^(S/20) V per µPa.
double PressureDb(double volts, const Calibration& c) {
  return Db20(volts) - c.sensitivityDb - c.gainDb;
}

double CodesDbfs(double codes) { return Db20(codes / kFullScaleCode); }

Levels LevelsOf(const CodeStats& stats, const Calibration& c) {
  Levels l;
  l.calibrated = c.calibrated;
  l.rmsVolts = CodesToVolts(stats.Rms());
  l.peakVolts =
      std::fmax(std::fabs(AdcCodeToVolts(stats.minimum)), std::fabs(AdcCodeToVolts(stats.maximum)));
  l.rmsDbfs = stats.RmsDbfs();
  l.peakDbfs = stats.PeakDbfs();
  if (c.calibrated) {
    l.rmsDbUpa = PressureDb(l.rmsVolts, c);
    l.peakDbUpa = PressureDb(l.peakVolts, c);
  }
  return l;
}

std::string VoltsText(double volts) {
  const double a = std::fabs(volts);
  if (a >= 1 || a == 0) return Format("%.6f V", volts);
  if (a >= 1e-3) return Format("%.4f mV", volts * 1e3);
  return Format("%.3f \xC2\xB5V", volts * 1e6);
}

std::string DbfsText(double db) {
  return std::isfinite(db) ? Format("%.2f dBFS", db) : "-inf dBFS";
}

std::string PressureText(double db) {
  return (std::isfinite(db) ? Format("%.1f", db) : std::string("-inf")) + " dB re 1 \xC2\xB5Pa";
}

std::string LevelsLine(const Levels& l, const Calibration& c) {
  if (c.calibrated)
    return "RMS " + PressureText(l.rmsDbUpa) + ", peak " + PressureText(l.peakDbUpa) + " (" +
           c.Text() + ")";
  return "RMS " + VoltsText(l.rmsVolts) + " " + DbfsText(l.rmsDbfs) + ", peak " +
         VoltsText(l.peakVolts) + " " + DbfsText(l.peakDbfs) +
         " (at the converter; give --sensitivity and --gain for dB re 1 \xC2\xB5Pa)";
}

SpectrumLevel::SpectrumLevel(const Calibration& c, double windowSum, double windowSquareSum,
                             uint32_t rateHz) {
  if (c.calibrated) {
    // One-sided density: 2|X|² / (fs Σw²) in code²/Hz, then volts², then µPa².
    const double lsb = AdcCodeToVolts(1);
    const double perUpa = std::pow(10.0, (c.sensitivityDb + c.gainDb) / 20);  // volts per µPa
    factor_ = 2.0 / (rateHz * windowSquareSum) * lsb * lsb / (perUpa * perUpa);
    unit_ = "dB re 1 \xC2\xB5Pa\xC2\xB2/Hz";
  } else {
    // A sine of amplitude A codes gives |X| = A Σw / 2 in its bin.
    const double a = 2.0 / windowSum / kFullScaleCode;
    factor_ = a * a;
    unit_ = "dBFS";
  }
}

double SpectrumLevel::Db(double binPower) const {
  const double p = binPower * factor_;
  return p > 0 ? 10 * std::log10(p) : -std::numeric_limits<double>::infinity();
}

}  // namespace datatools
