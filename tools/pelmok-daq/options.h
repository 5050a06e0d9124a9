// pelmok-daq's command line. A bad option or value is one line on standard
// error and exit status 2, before anything runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <vector>

#include "tools/common/board_time.h"
#include "tools/pelmok-daq/fault_schedule.h"

namespace daq {

struct Options {
  std::string deviceRoot = "pelmok-device";
  bool bare = false;
  bool check = false;  // read the configuration as the board would, run nothing
  std::string signal = "tone";
  uint32_t frameRate = 100000;
  bool frameRateGiven = false;
  std::vector<Fault> faults;  // --fault, and --stall-after as stall@FRAMES
  uint64_t seed = 0;          // places the faults given without WHERE
  uint64_t volumeSize = 0;    // the Hard Disk volume's bytes; 0: the host disk's room
  std::string tracePath;
  bool force = false;             // an existing --trace file may be replaced
  bool traceEveryAccess = false;  // one line an access, no runs of reads folded
  bool lowPower = false;
  int32_t lowPowerMode = 0;
  std::string libraryDir;
  std::optional<int64_t> startTime;  // UTC seconds; unset: the host's clock
  double clockDriftPpm = 0;          // the board's clock against true time
  datatools::BoardZone timeZone;     // from --time-zone, else from TZ, else the host's
  bool timeZoneGiven = false;        // --time-zone
};

// Parses the command line; --help prints the usage and exits 0.
Options ParseOptions(int argc, char** argv, const std::string& defaultLibraryDir);

[[noreturn]] void UsageError(const std::string& message);

}  // namespace daq
