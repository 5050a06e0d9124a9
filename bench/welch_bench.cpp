// The spectral engine's samples per second against FFTW's own transform
// rate on the same window length: the engine's cost beyond the FFT is the
// window, the copy of the overlap and the density of each bin.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/common/welch.h"

namespace {

std::vector<int32_t> Noise(size_t n) {
  std::vector<int32_t> codes(n);
  uint32_t state = 12345;
  for (int32_t& c : codes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<int32_t>(state >> 8) - (1 << 23);
  }
  return codes;
}

// Welch over 1 M samples; items: samples.
void BM_WelchEngine(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  const std::vector<int32_t> codes = Noise(1 << 20);
  for (auto _ : state) {
    datatools::WelchSpectra welch(length, 48000);
    welch.Add(codes.data(), codes.size());
    benchmark::DoNotOptimize(welch.Mean());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(codes.size()));
}
BENCHMARK(BM_WelchEngine)->Arg(1024)->Arg(48000);

// FFTW's r2c transform alone, as many transforms as the engine makes over
// the same samples (50% overlap: two per window length); items: samples.
void BM_FftwTransformsForTheSameSamples(benchmark::State& state) {
  const size_t length = static_cast<size_t>(state.range(0));
  double* in = fftw_alloc_real(length);
  fftw_complex* out = fftw_alloc_complex(length / 2 + 1);
  fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(length), in, out, FFTW_ESTIMATE);
  const std::vector<int32_t> codes = Noise(length);
  for (size_t i = 0; i < length; ++i) in[i] = codes[i];
  const size_t samples = 1 << 20;
  const size_t transforms = (samples - length) / (length - length / 2) + 1;
  for (auto _ : state) {
    for (size_t t = 0; t < transforms; ++t) fftw_execute(plan);
    benchmark::DoNotOptimize(out[1][0]);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(samples));
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
}
BENCHMARK(BM_FftwTransformsForTheSameSamples)->Arg(1024)->Arg(48000);

}  // namespace
