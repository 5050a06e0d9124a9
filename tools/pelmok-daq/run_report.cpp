#include "tools/pelmok-daq/run_report.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "sim/pxa27x_ssp.h"
#include "tools/common/board_time.h"
#include "tools/pelmok-daq/predicted_writes.h"

namespace daq {
namespace {

// The second a write happened in: the board clock in nanoseconds, floored.
int64_t UtcSecond(int64_t nanoseconds) {
  return static_cast<int64_t>(std::floor(static_cast<double>(nanoseconds) / 1e9));
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

RunReport::RunReport(std::string dataDir, const sim::Pxa27xSsp& ssp)
    : dataDir_(std::move(dataDir)), ssp_(ssp) {}

RunReport::~RunReport() { Stop(); }

void RunReport::Listen() {
  readAtRecordStart_ = ssp_.FramesRead();
  lostAtRecordStart_ = ssp_.FramesLost();
  host::ObserveDeviceFileWrites(HeardWrite, this);
  host::ListenToConsole(HeardConsole, this);
}

void RunReport::Stop() {
  host::ObserveDeviceFileWrites(nullptr, nullptr);
  host::ListenToConsole(nullptr, nullptr);
}

void RunReport::HeardWrite(const host::DeviceFileWrite& w, void* self) {
  RunReport& r = *static_cast<RunReport*>(self);
  const std::string folder = r.dataDir_ + "/";
  if (w.path.compare(0, folder.size(), folder) != 0) return;
  r.writes_.push_back(Write{w.path, w.existed, w.opened, w.refusal, w.bytesBefore, -1,
                            w.utcNanoseconds, w.trueUtcNanoseconds});
}

// The run as its console tells it: a record ends at its "Record Count" line,
// an iteration at its "File Count" line; a time-out comes before the first.
void RunReport::HeardConsole(const std::string& message, void* self) {
  RunReport& r = *static_cast<RunReport*>(self);
  if (StartsWith(message, "Samples per record ")) {
    // The configuration's echo: each write is meant to carry that many words.
    const long long words = std::atoll(message.c_str() + 19);
    r.recordBytes_ = words > 0 && words <= 0x3FFFFFFF ? static_cast<uint64_t>(words) * 4 : 0;
  } else if (StartsWith(message, "Read SSP timed out")) {
    r.recordTimedOut_ = true;
  } else if (StartsWith(message, "Record Count = ")) {
    if (r.recordTimedOut_)
      r.timedOut_.push_back({r.iteration_, std::atoi(message.c_str() + 15),
                             r.ssp_.FramesRead() - r.readAtRecordStart_});
    const uint64_t lost = r.ssp_.FramesLost() - r.lostAtRecordStart_;
    if (lost > 0) r.overruns_.push_back({r.iteration_, std::atoi(message.c_str() + 15), lost});
    r.recordTimedOut_ = false;
    r.readAtRecordStart_ = r.ssp_.FramesRead();
    r.lostAtRecordStart_ = r.ssp_.FramesLost();
  } else if (StartsWith(message, "File Count = ")) {
    r.iteration_ = std::atoi(message.c_str() + 13) + 1;
    r.readAtRecordStart_ = r.ssp_.FramesRead();
    r.lostAtRecordStart_ = r.ssp_.FramesLost();
  }
}

std::string RunReport::WriteLine(size_t index, const std::string& when) const {
  const Write& w = writes_[index];
  const std::string path = w.path;
  if (!w.opened)
    return when + "  not written: " + path + " (" + w.refusal + "): 0 of " + Grouped(recordBytes_) +
           " bytes";
  const long long added = w.after >= 0 ? w.after - w.before : 0;
  const bool whole = added >= 0 && static_cast<uint64_t>(added) == recordBytes_;
  const std::string shortBy =
      "short: " + Grouped(added > 0 ? added : 0) + " of " + Grouped(recordBytes_) + " bytes";
  if (!w.existed)
    return when + "  wrote " + path + " (" + (whole ? std::to_string(added) + " bytes" : shortBy) +
           "): created";
  size_t first = index;
  for (size_t i = 0; i < index; ++i)
    if (writes_[i].path == w.path && writes_[i].opened) first = std::min(first, i);
  const std::string whose = first == index
                                ? std::string("an earlier run's")
                                : "this run's, from its write " + std::to_string(first + 1);
  return when + "  appended to " + path + ", which existed before: " +
         (whole ? std::to_string(added) + " bytes added" : shortBy + " added") + " (" +
         std::to_string(w.after) + " bytes now): into an existing file (" + whose + ")";
}

// The write's second by the board's clock, in UTC and as the board's local
// time; with both clocks, the board's and the true one to the millisecond.
std::string RunReport::When(size_t index, const datatools::BoardZone& zone, bool bothClocks) const {
  const Write& w = writes_[index];
  const int64_t utc = UtcSecond(w.utcNanoseconds);
  std::string when = datatools::UtcText(utc) + "  " +
                     datatools::LocalText(zone, utc).substr(11, 8) + " " +
                     datatools::OffsetText(zone.OffsetAt(utc));
  if (bothClocks)
    when += "  board clock " + datatools::UtcText(static_cast<double>(w.utcNanoseconds) / 1e9, 3) +
            ", true UTC " + datatools::UtcText(static_cast<double>(w.trueUtcNanoseconds) / 1e9, 3);
  return when;
}

void RunReport::PrintClockChecks(const ClockReading& start, const ClockReading& end) {
  const auto text = [](int64_t ns) { return datatools::UtcText(static_cast<double>(ns) / 1e9, 3); };
  const double elapsed = static_cast<double>(end.trueNanoseconds - start.trueNanoseconds);
  const double gained = static_cast<double>((end.boardNanoseconds - end.trueNanoseconds) -
                                            (start.boardNanoseconds - start.trueNanoseconds));
  std::printf(
      "pelmok-daq: the board's clock against true UTC, %+.3f s over the run (%+.1f ppm); as clock "
      "checks for deployment.toml:\n",
      gained / 1e9, elapsed > 0 ? gained / elapsed * 1e6 : 0.0);
  const ClockReading readings[] = {start, end};
  const char* const moments[] = {"start", "end"};
  for (int i = 0; i < 2; ++i)
    std::printf("[[clock_check]]  # the run's %s\nboard = \"%s\"\nreference = \"%s\"\n", moments[i],
                text(readings[i].boardNanoseconds).c_str(),
                text(readings[i].trueNanoseconds).c_str());
}

// What each write left: the file's size when the run next opened it, or
// after the run, the data folder as the deployment model reads it.
void RunReport::ReadBack(const datatools::BoardZone& zone) {
  datatools::DeploymentSettings settings;
  settings.zone = zone;
  settings.samplesPerRecord = recordBytes_ / 4;
  std::string error;
  if (!datatools::LoadDeployment({dataDir_}, settings, &folder_, &error)) {
    std::printf("pelmok-daq: the data folder cannot be read back: %s\n", error.c_str());
    folder_ = datatools::Deployment();
  }
  std::map<std::string, long long> size;  // by path: the final one, then each write's after it
  for (const datatools::DeploymentFile& f : folder_.files)
    size[dataDir_ + "/" + f.name] = static_cast<long long>(f.bytes);
  for (size_t i = writes_.size(); i-- > 0;) {
    Write& w = writes_[i];
    const auto found = size.find(w.path);
    if (w.opened) w.after = found != size.end() ? found->second : -1;
    if (w.existed || w.opened) size[w.path] = w.before;
  }
}

bool RunReport::PrintWrites(const datatools::BoardZone& zone, bool bothClocks) {
  ReadBack(zone);
  bool lost = false;
  for (size_t i = 0; i < writes_.size(); ++i) {
    const Write& w = writes_[i];
    std::printf("pelmok-daq: %s\n", WriteLine(i, When(i, zone, bothClocks)).c_str());
    lost = lost || !w.opened || w.after - w.before != static_cast<long long>(recordBytes_);
  }
  if (writes_.empty()) std::printf("pelmok-daq: no data file written in %s\n", dataDir_.c_str());
  if (!folder_.files.empty())
    std::printf(
        "pelmok-daq: the data folder now holds %s data file%s, %s bytes, read as %s record%s\n",
        Grouped(folder_.files.size()).c_str(), folder_.files.size() == 1 ? "" : "s",
        Grouped(folder_.bytes).c_str(), Grouped(folder_.records.size()).c_str(),
        folder_.records.size() == 1 ? "" : "s");
  if (!writes_.empty()) {
    const int64_t from = UtcSecond(writes_.front().utcNanoseconds);
    const int64_t to = UtcSecond(writes_.back().utcNanoseconds);
    for (const datatools::ClockChange& c : zone.ChangesBetween(from, to + 1))
      std::printf("pelmok-daq: the run crossed a clock change at %s: %s to %s%s\n",
                  datatools::UtcText(c.utc).c_str(), datatools::OffsetText(c.offsetBefore).c_str(),
                  datatools::OffsetText(c.offsetAfter).c_str(),
                  c.offsetAfter < c.offsetBefore ? " (names repeat for the hour after it)" : "");
  }
  if (!timedOut_.empty()) {
    std::string examples;
    for (size_t i = 0; i < timedOut_.size() && i < 3; ++i)
      examples += (i ? ", " : "") + std::string("file iteration ") +
                  std::to_string(timedOut_[i].iteration) + " record " +
                  std::to_string(timedOut_[i].record) + " after " +
                  Grouped(timedOut_[i].wordsRead) + " of " + Grouped(recordBytes_ / 4) + " words";
    std::printf(
        "pelmok-daq: reads timed out in %zu record%s, the words not read zero-filled: %s%s\n",
        timedOut_.size(), timedOut_.size() == 1 ? "" : "s", examples.c_str(),
        timedOut_.size() > 3 ? ", ..." : "");
    lost = true;
  }
  if (!overruns_.empty()) {
    std::string examples;
    for (size_t i = 0; i < overruns_.size() && i < 3; ++i)
      examples += (i ? ", " : "") + std::string("file iteration ") +
                  std::to_string(overruns_[i].iteration) + " record " +
                  std::to_string(overruns_[i].record) + " lost " + Grouped(overruns_[i].framesLost);
    std::printf(
        "pelmok-daq: frames lost to overrun in %zu record%s, the samples after each gap shifted: "
        "%s%s\n",
        overruns_.size(), overruns_.size() == 1 ? "" : "s", examples.c_str(),
        overruns_.size() > 3 ? ", ..." : "");
    lost = true;
  }
  return lost;
}

}  // namespace daq
