// Pictures of a deployment: the long-term spectral average of all its
// records on a UTC time axis, or one record's waveform above its
// spectrogram. Drawn with cairo into PNG bytes, for `plot` to write and for
// `report` to embed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/deployment.h"
#include "tools/common/levels.h"

namespace datatools {

struct PlotOptions {
  int width = 1200;
  int height = 800;
  std::optional<double> from, to;  // UTC seconds: only what lies between
  double lowHz = 0;                // frequency range; highHz 0: half the rate
  double highHz = 0;
  bool logFrequency = false;
  size_t fftSize = 1024;                 // a power of two, 64 to 65536
  std::optional<double> dbFloor, dbTop;  // colour range; default: 120 dB below the loudest
  Calibration calibration;
  unsigned jobs = 1;         // records measured at once
  double windowSeconds = 1;  // Welch windows of the percentiles and the bands
};

// One-line reason for options a picture cannot be drawn with.
bool CheckPlotOptions(const PlotOptions& o, uint32_t rateHz, std::string* error);

// The deployment's long-term spectral average: a column per record, its mean
// spectrum, from its start to the next record's, so a regular deployment
// reads as one picture; gaps (missing writes, restarts) drawn as gaps; marks
// above the picture at records whose time the cadence chose (resolved) or
// could not choose (ambiguous); the clock changes as lines.
bool DrawDeployment(const Deployment& d, const PlotOptions& o, std::string* png,
                    std::string* error);

// The deployment's spectral percentiles (5th, 50th, 95th and the mean of
// every window's hybrid millidecade densities) over a logarithmic frequency
// axis, with sea states 0 and 6 (Knudsen) and the sea's thermal noise when
// calibrated; *verdict: the noise-floor verdict (empty without calibration).
bool DrawPercentiles(const Deployment& d, const PlotOptions& o, std::string* png,
                     std::string* verdict, std::string* error);

// Decidecade band levels over UTC time, each record for its own length;
// each drawn record's levels into *decidecade when given.
bool DrawBands(const Deployment& d, const PlotOptions& o, std::string* png, std::string* error,
               std::vector<std::vector<double>>* decidecade = nullptr);

// One record: its waveform (volts at the converter, in V, mV or µV) above
// its spectrogram, on a time axis from its UTC start.
bool DrawRecord(const Deployment& d, const Record& r, const PlotOptions& o, std::string* png,
                std::string* error);

}  // namespace datatools
