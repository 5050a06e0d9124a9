// The writes a run will make, worked out before it runs: when each happens by
// the board's clock, the name the board gives it, and the deployment the data
// tools will then read (the same model, BuildDeployment, that reads the folder
// afterwards), with its findings summed up rather than listed write by write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/configuration.h"
#include "tools/common/board_time.h"
#include "tools/common/deployment.h"

namespace daq {

// The board's clock for the run: its start (unset: the host's clock now), its
// time-zone setting and its drift against true time; `given` when
// --start-time or --time-zone was.
struct RunClock {
  std::optional<int64_t> startTime;
  datatools::BoardZone zone;
  bool given = false;
  double driftPpm = 0;
};

// One write: the file's name and the board's UTC second then.
struct PredictedWrite {
  std::string name;
  int64_t utc = 0;
};

// The run's writes in order, the first `limit` of them. Write k comes at the
// end of its iteration: `writeSeconds[k]` of true time into the run where
// given, else `iterationSeconds` after the one before.
std::vector<PredictedWrite> PredictWrites(uint64_t writes, double iterationSeconds,
                                          const RunClock& clock, uint64_t limit,
                                          const std::vector<double>& writeSeconds = {});

// Files the writes make: one a name.
uint64_t FilesOf(const std::vector<PredictedWrite>& writes);

// Writes in the repeated hour after a change back, beyond which the
// deployment model is not asked to tell the hour's two passes apart: its
// time is linear in them, but its memory grows with them times the writes
// a second (10,000 at a write a millisecond: about 1.2 s and 260 MB).
constexpr uint64_t kModelledRepeatedHour = 10000;

// The deployment those writes leave, each name one file holding its writes'
// records, as the data tools will read it.
datatools::Deployment PredictDeployment(const std::vector<PredictedWrite>& writes,
                                        const AcquisitionConfig& config, uint32_t frameRateHz,
                                        const datatools::BoardZone& zone);

// What is worth a word about the names, each finding once with a count and a
// few examples: writes that share a file (in one second, or in a repeated
// hour), records the data tools cannot give one UTC time, names that exist
// already in `dataDir` (the data folder as the deployment model reads it).
std::vector<std::string> NameFindings(const std::vector<PredictedWrite>& writes,
                                      const datatools::Deployment& predicted,
                                      const std::string& dataDir);

// "100,000".
std::string Grouped(uint64_t n);

}  // namespace daq
