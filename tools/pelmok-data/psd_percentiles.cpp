#include "tools/pelmok-data/psd_percentiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "tools/common/welch.h"
#include "tools/pelmok-data/record_samples.h"

namespace datatools {
namespace {

constexpr double kStepDb = 0.1;
constexpr size_t kSteps = 3000;  // 300 dB

}  // namespace

SpectralStatistics::SpectralStatistics(const LevelBands& bands, const Calibration& c)
    : bands_(bands),
      calibration_(c),
      lowestDb_(c.calibrated ? -100 : -300),
      histogram_((bands.hmd.size() + bands.decidecade.size()) * kSteps, 0),
      meanSum_(bands.hmd.size() + bands.decidecade.size(), 0.0) {}

size_t SpectralStatistics::Step(double db) const {
  if (!(db > lowestDb_)) return 0;
  return std::min(kSteps - 1, static_cast<size_t>((db - lowestDb_) / kStepDb));
}

bool SpectralStatistics::AddRecord(const Deployment& d, const Record& r,
                                   std::vector<double>* meanSum, uint64_t* windows,
                                   std::string* error) {
  WelchSpectra welch(WindowSamples(bands_.windowSeconds, bands_.rateHz, r.words), bands_.rateHz);
  std::vector<double> factors(welch.Bins());
  for (size_t k = 0; k < factors.size(); ++k)
    factors[k] = calibration_.PowerPerCodeSquared(k * welch.BinHz());
  const size_t hmd = bands_.hmd.size(), all = hmd + bands_.decidecade.size();
  meanSum->assign(all, 0.0);
  *windows = 0;
  std::vector<double> density, band(all);
  const WelchSpectra::WindowSink sink = [&](const std::vector<double>& raw) {
    density.resize(raw.size());
    for (size_t k = 0; k < raw.size(); ++k) density[k] = raw[k] * factors[k];
    for (size_t i = 0; i < all; ++i) {
      const Band& b = i < hmd ? bands_.hmd[i] : bands_.decidecade[i - hmd];
      band[i] = BandPower(density, welch.BinHz(), b.lowHz, b.highHz) / b.WidthHz();
      (*meanSum)[i] += band[i];
    }
    ++*windows;
    std::lock_guard<std::mutex> hold(lock_);
    for (size_t i = 0; i < all; ++i)
      ++histogram_[i * kSteps + Step(band[i] > 0 ? 10 * std::log10(band[i]) : -1e9)];
  };
  return ForEachRecordBlock(
      d, r,
      [&](const std::vector<int32_t>& codes, const std::vector<uint32_t>&) {
        welch.Add(codes.data(), codes.size(), sink);
      },
      error);
}

void SpectralStatistics::AddMean(const std::vector<double>& meanSum, uint64_t windows) {
  for (size_t i = 0; i < meanSum_.size() && i < meanSum.size(); ++i) meanSum_[i] += meanSum[i];
  windows_ += windows;
}

double SpectralStatistics::PercentileDb(size_t band, int p) const {
  const uint32_t* h = &histogram_[band * kSteps];
  uint64_t total = 0;
  for (size_t s = 0; s < kSteps; ++s) total += h[s];
  if (total == 0) return std::numeric_limits<double>::quiet_NaN();
  const uint64_t rank = std::max<uint64_t>(1, (static_cast<uint64_t>(p) * total + 99) / 100);
  uint64_t seen = 0;
  for (size_t s = 0; s < kSteps; ++s) {
    seen += h[s];
    // The first step holds everything below the histogram's range (silence: -inf).
    if (seen >= rank)
      return s == 0 ? -std::numeric_limits<double>::infinity() : lowestDb_ + (s + 0.5) * kStepDb;
  }
  return lowestDb_ + kSteps * kStepDb;
}

double SpectralStatistics::MeanDb(size_t band) const {
  const double mean = windows_ ? meanSum_[band] / windows_ : 0;
  return mean > 0 ? 10 * std::log10(mean) : -std::numeric_limits<double>::infinity();
}

double KnudsenDb(double hz, int seaState) {
  return (seaState == 0 ? 44.5 : 70.0) - 5 * std::log2(hz / 1000);
}

double ThermalDb(double hz) { return -15 + 20 * std::log10(hz / 1000); }

std::string NoiseFloorVerdict(const SpectralStatistics& s, const Calibration& c) {
  if (!c.calibrated || s.Windows() == 0) return "";
  const LevelBands& bands = s.Bands();
  double worst = -std::numeric_limits<double>::infinity(), median = 0;
  const Band* at = nullptr;
  for (size_t i = 0; i < bands.decidecade.size(); ++i) {
    const Band& b = bands.decidecade[i];
    const double p50 = s.PercentileDb(s.HmdBands() + i, 50);
    if (b.centreHz < 99 || std::isnan(p50) || !c.Covers(b.lowHz, b.highHz)) continue;
    if (!at || p50 - KnudsenDb(b.centreHz, 0) > worst) {
      worst = p50 - KnudsenDb(b.centreHz, 0);
      median = p50;
      at = &b;
    }
  }
  if (!at) return "";
  char text[320];
  std::snprintf(text, sizeof text,
                "closest to sea state 0 in the decidecade band at %.0f Hz: median %.1f dB re 1 "
                "\xC2\xB5Pa\xC2\xB2/Hz, "
                "%.1f dB %s sea state 0 (%.1f)%s",
                at->centreHz, median, std::fabs(worst), worst < 0 ? "below" : "above",
                KnudsenDb(at->centreHz, 0),
                worst < 0 ? ": the recording lies below sea state 0 in every band from 100 Hz up"
                          : ": the recording does not reach down to sea state 0 there");
  return text;
}

}  // namespace datatools
