// pelmok-daq's report of a run, which hides no loss: each data-file write
// with the bytes that reached the disk against the bytes meant, the records
// whose reads timed out and the words they hold in place of samples, the
// frames lost to overrun, the faults that struck, and the board's own
// result. The run lost data when any of these fell short.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "tools/common/board_time.h"
#include "tools/common/deployment.h"

namespace sim {
class Pxa27xSsp;
}

namespace daq {

class RunReport {
 public:
  // `dataDir` is the data folder's host path. What each write is meant to
  // carry comes from the configuration's echo on the console.
  RunReport(std::string dataDir, const sim::Pxa27xSsp& ssp);
  ~RunReport();
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // Follows the run through the file layer and the console until Stop.
  void Listen();
  void Stop();

  // Prints the writes in the order they happened, each with its UTC and
  // local time, and the clock changes crossed; then the records that timed
  // out. True when a write fell short or a record timed out.
  // With `bothClocks` (the board's clock drifts or was reset) each write
  // gives the board's clock and the true UTC to the millisecond.
  bool PrintWrites(const datatools::BoardZone& zone, bool bothClocks = false);
  size_t Writes() const { return writes_.size(); }

  // What the board's clock read at two moments and the true UTC then, as
  // clock checks for the deployment file.
  struct ClockReading {
    int64_t boardNanoseconds;
    int64_t trueNanoseconds;
  };
  static void PrintClockChecks(const ClockReading& start, const ClockReading& end);

 private:
  struct Write {
    std::string path;
    bool existed;
    bool opened;
    std::string refusal;
    long long before;
    long long after = -1;
    int64_t utcNanoseconds;
    int64_t trueUtcNanoseconds;
  };
  struct TimedOut {
    int32_t iteration;
    int32_t record;
    uint64_t wordsRead;
  };
  struct Overrun {
    int32_t iteration;
    int32_t record;
    uint64_t framesLost;
  };
  static void HeardWrite(const host::DeviceFileWrite& w, void* self);
  static void HeardConsole(const std::string& message, void* self);
  std::string WriteLine(size_t index, const std::string& when) const;
  std::string When(size_t index, const datatools::BoardZone& zone, bool bothClocks) const;
  void ReadBack(const datatools::BoardZone& zone);

  std::string dataDir_;
  uint64_t recordBytes_ = 0;
  const sim::Pxa27xSsp& ssp_;
  std::vector<Write> writes_;
  datatools::Deployment folder_;  // the data folder after the run
  std::vector<TimedOut> timedOut_;
  std::vector<Overrun> overruns_;
  uint64_t lostAtRecordStart_ = 0;
  bool recordTimedOut_ = false;
  uint64_t readAtRecordStart_ = 0;
  int32_t iteration_ = 0;
};

}  // namespace daq
