// The bench's faults: `--fault KIND[@WHERE]` (repeatable) and `--seed N`.
// A fault given without WHERE is placed inside the run by the seed, so the
// same seed makes the same run, access for access. Each strikes in the model
// where it happens on a board (the converter, its signal, the board's clock,
// the data volume), never on the register path, and says so in one line on
// the console when it does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "sim/board.h"
#include "sim/converter.h"

namespace daq {

enum class FaultKind {
  kDiskFull,
  kPowerLoss,
  kRtcReset,
  kConverterPpm,
  kOverrun,
  kStuckBit,
  kStall
};

struct Fault {
  FaultKind kind;
  std::string given;    // as on the command line
  bool placed = false;  // WHERE given, or placed by the seed
  // disk-full: bytes; power-loss: write, bytes; converter-ppm: ppm;
  // overrun: frame, count; stuck-bit: bit, value; stall: frames.
  int64_t first = 0;
  int64_t second = 0;
  bool secondGiven = false;
};

// Parses one --fault; false with a one-line reason.
bool ParseFault(const std::string& text, Fault* fault, std::string* error);

// The run the faults are placed in, as the configuration makes it.
struct RunShape {
  uint64_t frames = 0;  // frames the run reads
  uint64_t writes = 0;  // data-file writes
  uint64_t recordBytes = 0;
};

// The run the device's configuration makes, read by the board's own reader.
RunShape ShapeOfRun(const std::string& deviceRoot);

// The board's real-time clock after its backup battery died.
constexpr int64_t kRtcEpoch = 946684800;  // 2000-01-01T00:00:00Z

class FaultSchedule {
 public:
  FaultSchedule(std::vector<Fault> faults, uint64_t seed)
      : faults_(std::move(faults)), seed_(seed) {}

  // Gives each fault without WHERE a place in the run, from the seed.
  void Place(const RunShape& run);
  // What must be set before the board is made: its clock, the converter's
  // rate and signal.
  void SetUpBoard(sim::BoardOptions* options) const;
  // What strikes during the run: the converter's bursts and death, the data
  // volume's faults. `onPowerLoss` ends the run where the power fails.
  using PowerLoss = void (*)(const std::string& text);
  void Arm(sim::Board& board, PowerLoss onPowerLoss);

  // "KIND@WHERE: what it did", one a fault, in the order given; a fault that
  // did not strike says so.
  std::vector<std::string> Outcomes() const;
  const std::vector<Fault>& faults() const { return faults_; }
  uint64_t seed() const { return seed_; }
  bool Any() const { return !faults_.empty(); }

 private:
  static void HeardBurst(const sim::Converter::Burst& burst, uint64_t lost, void* self);
  static void HeardFileFault(host::FileFault fault, const std::string& text, void* self);
  void Fired(size_t index, const std::string& what);

  std::vector<Fault> faults_;
  uint64_t seed_;
  std::vector<std::string> outcomes_;  // per fault, "" until it strikes
  std::vector<size_t> burstFault_;     // the fault of each burst, in frame order
  PowerLoss onPowerLoss_ = nullptr;
};

// The converter's frame rate with the converter-ppm faults, each rounded to
// a whole rate as the run sets it, never under 1 Hz.
uint32_t ConverterRateHz(uint32_t rateHz, const std::vector<Fault>& faults);

// "disk-full@1000", the fault as placed.
std::string Placed(const Fault& fault);

}  // namespace daq
