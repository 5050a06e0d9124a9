// Levels of converter codes in the units an engineer works in. Without a
// calibration: volts at the converter and dB against the full-scale code
// (dBFS). With the hydrophone's sensitivity (dB re 1 V/µPa) and the gain in
// front of the converter (dB): sound pressure in dB re 1 µPa, and spectra in
// dB re 1 µPa²/Hz. Every tool that prints or draws a level takes it from here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace datatools {

struct CodeStats;

// A point of a hydrophone's calibration curve.
struct CalibrationPoint {
  double hz = 0;
  double sensitivityDb = 0;  // dB re 1 V/µPa
};

struct Calibration {
  bool calibrated = false;
  // Hydrophone, dB re 1 V/µPa (typically -150 to -210). With a curve: its
  // value at 1 kHz (or the nearest end point), for levels of the waveform
  // (peak, broadband RMS of the time series) that have no frequency.
  double sensitivityDb = 0;
  double gainDb = 0;  // between the hydrophone and the converter
  // A calibration by frequency (--calibration FILE): points in ascending
  // frequency; between them linear in dB over log frequency; beyond them the
  // end point's value, and only when `extrapolate`.
  std::string curvePath;
  std::vector<CalibrationPoint> curve;
  bool extrapolate = false;

  // "sensitivity -165.0 dB re 1 V/µPa, gain 20.0 dB", "calibration
  // FILE (...)" or "uncalibrated".
  std::string Text() const;
  double SensitivityDbAt(double hz) const;
  // Whether levels of [lowHz, highHz] may be given: always when flat or
  // uncalibrated, within the curve's points otherwise (or `extrapolate`).
  bool Covers(double lowHz, double highHz) const;
  // What a code² becomes at `hz`: µPa² when calibrated, (full-scale code)²
  // when not.
  double PowerPerCodeSquared(double hz) const;
};

// Reads a calibration curve: CSV lines "frequency Hz,sensitivity dB re 1
// V/µPa", an optional header line, '#' comments; at least two points, in
// strictly ascending frequency. False with "PATH: line N: reason".
bool ReadCalibrationCurve(const std::string& path, std::vector<CalibrationPoint>* curve,
                          std::string* error);

// Volts at the converter for a level in codes (a fractional code, an RMS).
double CodesToVolts(double codes);
// Pressure level of a voltage at the converter, dB re 1 µPa.
double PressureDb(double volts, const Calibration& c);
// 20 log10(codes / full-scale code); -inf for 0.
double CodesDbfs(double codes);

// A record's or a file's levels, from its statistics.
struct Levels {
  bool calibrated = false;
  double rmsVolts = 0, peakVolts = 0;
  double rmsDbfs = 0, peakDbfs = 0;
  double rmsDbUpa = 0, peakDbUpa = 0;  // only when calibrated
};
Levels LevelsOf(const CodeStats& stats, const Calibration& c);

// Text for a table cell or a line: "0.001234 V" with a unit that suits it
// (V, mV or µV), "-12.34 dBFS", "123.4 dB re 1 µPa"; "-inf" for silence.
std::string VoltsText(double volts);
std::string DbfsText(double db);
std::string PressureText(double db);
// One line: RMS and peak in the calibrated unit, or in volts and dBFS with a
// note that the levels are not calibrated.
std::string LevelsLine(const Levels& l, const Calibration& c);

// Turns the squared magnitude of one bin of a windowed FFT of codes into a
// level. Uncalibrated: the amplitude of a sine in that bin against full scale
// (a full-scale sine reads 0 dBFS). Calibrated: the one-sided power spectral
// density of the pressure, dB re 1 µPa²/Hz.
class SpectrumLevel {
 public:
  // windowSum = Σw, windowSquareSum = Σw² over the frame.
  SpectrumLevel(const Calibration& c, double windowSum, double windowSquareSum, uint32_t rateHz);
  double Db(double binPower) const;
  const std::string& Unit() const { return unit_; }  // "dBFS" or "dB re 1 µPa²/Hz"
  // The bin's power in µPa²/Hz (calibrated) or in squared sine amplitudes of
  // full scale: Σ over a tone's bins times the bin width gives its mean square.
  double Scaled(double binPower) const { return binPower * factor_; }

 private:
  double factor_ = 1;
  std::string unit_;
};

}  // namespace datatools
