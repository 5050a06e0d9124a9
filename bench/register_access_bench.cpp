// What the simulation costs: a register read through a host window against a
// plain volatile load (the board's access), and the speed of a whole
// acquisition path in simulated seconds per wall second at 100 kHz.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hardware/pxa27x_ssp_regs.h"
#include "hardware/register_windows.h"
#include "hardware/ssp3.h"
#include "platform/host/session.h"
#include "sim/board.h"

namespace {

// Baseline: the load the board makes, from ordinary memory.
void BM_PlainVolatileLoad(benchmark::State& state) {
  volatile uint32_t reg[16] = {};
  reg[2] = 0x8;
  for (auto _ : state) benchmark::DoNotOptimize(reg[2]);
}
BENCHMARK(BM_PlainVolatileLoad);

// An SSSR read through a mapped window: address translation, the bus, the
// SSP model's catch-up and status update.
void BM_WindowRegisterRead(benchmark::State& state) {
  sim::Board board;
  std::string console;
  host::SessionOptions options;
  options.console = &console;
  host::Session session(board, options);
  RegisterWindow ssp = MapPhysicalAddr(0x41900000, 24);
  for (auto _ : state) benchmark::DoNotOptimize(RegRead(ssp, SSSR));
  UnmapRegisterWindow(ssp);
}
BENCHMARK(BM_WindowRegisterRead);

// The acquisition path: the port set up as the program does, then records of
// 100000 samples (one simulated second each at 100 kHz, the default tone)
// polled out of the FIFO.
void BM_SimulatedAcquisition(benchmark::State& state) {
  sim::Board board;
  std::string console;
  host::SessionOptions options;
  options.console = &console;
  host::Session session(board, options);
  MapSspRegisters();
  InitNSSP();
  std::vector<uint32_t> record(100000);
  const uint64_t start = board.bus().Now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadSspSamples(record.data(), static_cast<int32_t>(record.size())));
  }
  const double simulated = static_cast<double>(board.bus().Now() - start) / 1e9;
  state.counters["simulated_s_per_wall_s"] =
      benchmark::Counter(simulated, benchmark::Counter::kIsRate);
  UnmapRegisterWindow(v_pClkRegs);
  UnmapRegisterWindow(SspRegPtr);
  UnmapRegisterWindow(GpioRegPtr);
}
BENCHMARK(BM_SimulatedAcquisition)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
