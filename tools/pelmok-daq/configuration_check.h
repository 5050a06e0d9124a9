// pelmok-daq --check: the device's configuration file read by the board's own
// reader, and every line it reads differently from what the line plainly says.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/pelmok-daq/fault_schedule.h"
#include "tools/pelmok-daq/predicted_writes.h"

namespace daq {

// How the run would use the device: with --bare a missing data folder stays
// missing; --volume-size gives the data volume's size; the bench's faults,
// placed as the run places them, are planned with.
struct CheckDevice {
  bool bare = false;
  uint64_t volumeSize = 0;
  std::vector<Fault> faults;
};

// Prints the check of the configuration file and of the device to `out`.
// Returns 0 when every line is read as written and the device is ready, 1
// with a warning, 2 when the file cannot be read (one line on stderr) or the
// device cannot take the run (no data folder, too little free space).
int CheckConfiguration(const std::string& deviceRoot, uint32_t givenRateHz, FILE* out,
                       const RunClock& givenClock = RunClock(),
                       const CheckDevice& device = CheckDevice());

// Edits (insertions, deletions, substitutions) from a to b.
size_t EditDistance(const std::string& a, const std::string& b);

}  // namespace daq
