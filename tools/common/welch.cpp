#include "tools/common/welch.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace datatools {
namespace {

// FFTW's planner is not thread-safe; plans are made and destroyed under one lock.
std::mutex& PlannerLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

WelchSpectra::WelchSpectra(size_t length, double rateHz)
    : length_(std::max<size_t>(2, length)),
      step_(length_ - length_ / 2),
      rate_(rateHz),
      window_(length_),
      pending_(length_),
      density_(Bins()),
      sum_(Bins(), 0.0) {
  double squares = 0;
  for (size_t i = 0; i < length_; ++i) {
    // Periodic Hann: the window of a length+1-point symmetric Hann without its last point.
    window_[i] = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / length_);
    squares += window_[i] * window_[i];
  }
  scale_ = 1.0 / (rate_ * squares);
  std::lock_guard<std::mutex> guard(PlannerLock());
  in_ = fftw_alloc_real(length_);
  out_ = fftw_alloc_complex(Bins());
  plan_ = fftw_plan_dft_r2c_1d(static_cast<int>(length_), in_, out_, FFTW_ESTIMATE);
}

WelchSpectra::~WelchSpectra() {
  std::lock_guard<std::mutex> guard(PlannerLock());
  fftw_destroy_plan(plan_);
  fftw_free(in_);
  fftw_free(out_);
}

void WelchSpectra::Add(const int32_t* codes, size_t count, const WindowSink& sink) {
  while (count > 0) {
    const size_t n = std::min(count, length_ - filled_);
    for (size_t i = 0; i < n; ++i) pending_[filled_ + i] = codes[i];
    filled_ += n;
    codes += n;
    count -= n;
    if (filled_ < length_) return;
    Transform(sink);
    // The next window starts `step_` samples on: keep its overlap.
    std::copy(pending_.begin() + static_cast<std::ptrdiff_t>(step_), pending_.end(),
              pending_.begin());
    filled_ = length_ - step_;
  }
}

void WelchSpectra::Transform(const WindowSink& sink) {
  for (size_t i = 0; i < length_; ++i) in_[i] = pending_[i] * window_[i];
  fftw_execute(plan_);
  // One-sided: every bin but 0 and (for an even length) the last holds the
  // power of its negative twin as well.
  const size_t last = Bins() - 1;
  for (size_t k = 0; k <= last; ++k) {
    const double power = out_[k][0] * out_[k][0] + out_[k][1] * out_[k][1];
    const bool single = k == 0 || (k == last && length_ % 2 == 0);
    density_[k] = power * scale_ * (single ? 1.0 : 2.0);
    sum_[k] += density_[k];
  }
  ++windows_;
  if (sink) sink(density_);
}

std::vector<double> WelchSpectra::Mean() const {
  std::vector<double> mean(sum_);
  if (windows_ > 0)
    for (double& p : mean) p /= static_cast<double>(windows_);
  return mean;
}

size_t WindowSamples(double seconds, double rateHz, uint64_t samples) {
  const double wanted = std::max(2.0, std::round(seconds * rateHz));
  return static_cast<size_t>(
      std::max<uint64_t>(2, std::min<uint64_t>(static_cast<uint64_t>(wanted), samples)));
}

}  // namespace datatools
