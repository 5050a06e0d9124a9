// Spectral statistics of a deployment: over every Welch window of every
// record, the distribution of each hybrid millidecade and decidecade band's
// density, kept as a histogram of 0.1 dB steps (so memory does not grow with
// the data), and its mean; the physical references the receiver's own noise
// is judged against.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tools/common/deployment.h"
#include "tools/pelmok-data/sound_levels.h"

namespace datatools {

class SpectralStatistics {
 public:
  // Densities over 300 dB (from -100 dB re 1 µPa²/Hz, or -300 dB re 1 FS²/Hz)
  // are told apart to 0.1 dB.
  SpectralStatistics(const LevelBands& bands, const Calibration& c);
  const LevelBands& Bands() const { return bands_; }
  // Every window of the record, read once; safe to call from several
  // threads at once (the histograms are shared, the mean is kept per call
  // and merged by the caller in record order through AddMean).
  bool AddRecord(const Deployment& d, const Record& r, std::vector<double>* meanSum,
                 uint64_t* windows, std::string* error);
  void AddMean(const std::vector<double>& meanSum, uint64_t windows);
  uint64_t Windows() const { return windows_; }
  // The p-th percentile (nearest rank over the windows, to 0.1 dB) of band i
  // of the hybrid millidecade bands (then the decidecade bands after them).
  double PercentileDb(size_t band, int p) const;
  // 10 log10 of the mean density.
  double MeanDb(size_t band) const;
  size_t HmdBands() const { return bands_.hmd.size(); }

 private:
  size_t Step(double db) const;
  LevelBands bands_;
  Calibration calibration_;
  double lowestDb_;
  std::mutex lock_;
  std::vector<uint32_t> histogram_;  // (hmd + decidecade bands) × steps
  std::vector<double> meanSum_;
  uint64_t windows_ = 0;
};

// Knudsen's sea-state spectrum levels (Urick): 44.5 dB re 1 µPa²/Hz at 1 kHz
// for sea state 0, 70 for sea state 6, falling 5 dB an octave.
double KnudsenDb(double hz, int seaState);
// The thermal noise of the sea: -15 + 20 log10(f / 1 kHz) dB re 1 µPa²/Hz.
double ThermalDb(double hz);

// The noise-floor verdict: the decidecade band from 100 Hz up where the
// median density comes closest to sea state 0 (or lies furthest above it),
// in words; empty without a calibration.
std::string NoiseFloorVerdict(const SpectralStatistics& s, const Calibration& c);

}  // namespace datatools
