// The one spectral engine of the data tools: Welch's power spectral density
// of converter codes, streamed. Windows of `length` samples, periodic Hann,
// each starting half a window (rounded up) after the one before, no
// detrending, one-sided density in codes²/Hz: the definitions of
// scipy.signal.welch(x, fs, window='hann', nperseg=length, detrend=False).
// Samples after the last whole window are not used, as there. Memory is one
// window, whatever the record's length.
#pragma once

#include <fftw3.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace datatools {

class WelchSpectra {
 public:
  // `length` samples per window (at least 2), `rateHz` the sample rate.
  WelchSpectra(size_t length, double rateHz);
  ~WelchSpectra();
  WelchSpectra(const WelchSpectra&) = delete;
  WelchSpectra& operator=(const WelchSpectra&) = delete;

  size_t Length() const { return length_; }
  size_t Bins() const { return length_ / 2 + 1; }
  double BinHz() const { return rate_ / length_; }
  // Windows completed so far.
  uint64_t Windows() const { return windows_; }

  // Each window's one-sided density, bins 0 to length/2, codes²/Hz.
  using WindowSink = std::function<void(const std::vector<double>& density)>;
  // Feeds the next samples of the record; calls `sink` (may be empty) for
  // each window they complete, and adds it to the mean.
  void Add(const int32_t* codes, size_t count, const WindowSink& sink = nullptr);
  // The mean density of the windows so far (zeros before the first).
  std::vector<double> Mean() const;

 private:
  void Transform(const WindowSink& sink);

  size_t length_;
  size_t step_;
  double rate_;
  std::vector<double> window_;
  std::vector<double> pending_;  // samples of the window being filled
  size_t filled_ = 0;
  std::vector<double> density_;  // the last window's
  std::vector<double> sum_;
  uint64_t windows_ = 0;
  double scale_ = 0;  // 1 / (fs Σw²)
  double* in_;
  fftw_complex* out_;
  fftw_plan plan_;
};

// The window length for `seconds` at the rate (at least 2 samples), no
// longer than a record of `samples` (one window of its own length).
size_t WindowSamples(double seconds, double rateHz, uint64_t samples);

}  // namespace datatools
