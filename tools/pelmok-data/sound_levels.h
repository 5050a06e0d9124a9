// A record's sound levels as ocean acousticians give them, from the Welch
// density of every sample (tools/common/welch.h) and the calibration:
// broadband SPL, zero-to-peak level, SEL, decidecade band levels and hybrid
// millidecade band densities (tools/common/bands.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/bands.h"
#include "tools/common/deployment.h"
#include "tools/common/levels.h"

namespace datatools {

// The units of each kind of level under a calibration: dB re 1 µPa and so
// on, or against the converter's full-scale code (FS) without one.
struct LevelUnits {
  std::string level;     // broadband and band levels: "dB re 1 µPa" or "dBFS"
  std::string peak;      // zero-to-peak
  std::string exposure;  // SEL: "dB re 1 µPa²s" or "dB re 1 FS²s"
  std::string density;   // "dB re 1 µPa²/Hz" or "dB re 1 FS²/Hz"
};
LevelUnits UnitsOf(const Calibration& c);

// The bands a deployment's levels are given in, fixed by its rate and the
// calibration's range.
struct LevelBands {
  double rateHz = 0;
  double windowSeconds = 1;
  Band broadband;  // what the broadband level integrates: 0 Hz to Nyquist, or the calibration's
                   // points
  std::vector<Band> decidecade, hmd;
  bool frequencyCalibrated = false;  // a curve: broadband from the calibrated density
};
LevelBands BandsFor(uint32_t rateHz, double windowSeconds, const Calibration& c);

struct RecordLevels {
  uint64_t samples = 0;
  uint64_t windows = 0;     // Welch windows averaged
  size_t windowLength = 0;  // samples per window
  double broadbandDb = 0, peakDb = 0, selDb = 0;
  // NaN for a band the calibration does not cover.
  std::vector<double> decidecadeDb, hmdDb;
};

// Reads the record once, streamed. False with a one-line reason naming the file.
bool MeasureRecord(const Deployment& d, const Record& r, const LevelBands& bands,
                   const Calibration& c, RecordLevels* levels, std::string* error);

}  // namespace datatools
