// What a converter frame's code costs: the default tone's table look-up
// against a WAV file streamed through its block, a long file (a refill every
// block) and a short one held whole.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/signal.h"

namespace {

void BM_ToneCode(benchmark::State& state) {
  sim::ToneSignal tone(100000);
  uint64_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(tone.Code(k++));
}
BENCHMARK(BM_ToneCode);

// A 16-bit stereo PCM WAV of `frames` zero frames, sparse, under /tmp.
std::string ZeroWav(uint32_t frames) {
  char path[] = "/tmp/pelmok-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return "";
  const uint32_t data = frames * 4;
  const uint32_t header[11] = {
      0x46464952, 36 + data, 0x45564157, 0x20746D66, 16,  0x00020001,
      48000,      192000,    0x00100004, 0x61746164, data};  // little-endian host
  const bool ok = write(fd, header, sizeof header) == static_cast<ssize_t>(sizeof header) &&
                  ftruncate(fd, static_cast<off_t>(sizeof header + data)) == 0;
  close(fd);
  return ok ? path : "";
}

void BM_WavCode(benchmark::State& state) {
  const std::string path = ZeroWav(static_cast<uint32_t>(state.range(0)));
  std::string error;
  const auto wav = path.empty() ? nullptr : sim::WavSignal::Load(path, &error);
  if (!wav) {
    state.SkipWithError(("no WAV input: " + error).c_str());
    if (!path.empty()) std::remove(path.c_str());
    return;
  }
  uint64_t k = 0;
  for (auto _ : state) benchmark::DoNotOptimize(wav->Code(k++));
  state.counters["buffer_bytes"] = static_cast<double>(wav->BufferBytes());
  std::remove(path.c_str());
}
// 12.5 million frames (50 MB), streamed; 1000 frames, held whole.
BENCHMARK(BM_WavCode)->Arg(12500000)->Arg(1000);

}  // namespace
