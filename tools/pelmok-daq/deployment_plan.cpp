#include "tools/pelmok-daq/deployment_plan.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <map>

#include "hardware/ssp3.h"
#include "platform/host/fat_volume.h"
#include "sim/bus.h"
#include "tools/pelmok-daq/predicted_writes.h"

namespace daq {
namespace {

namespace fat = host::fat;

constexpr uint32_t kMaxRecordWords = 0x3FFFFFFF;  // beyond it the board's allocation fails
constexpr uint64_t kSimulatedRecords = 4000000;   // records worked out one by one; the rest scaled

// The reads at the converter's rate, as the sample reader polls: each poll
// one access, a record's read giving up after the reader's budget of polls
// with no frame. With a frame period within the budget the reader keeps up;
// beyond it a record takes at most one word before it times out. Past a
// stall no frame comes: each record's read gives up after the budget.
void PlanReads(uint32_t frameRateHz, uint64_t records, uint64_t words, int64_t stall, Plan* plan) {
  const double period = 1e9 / frameRateHz;
  const double budget =
      static_cast<double>(kSspPollBudget + 1) * static_cast<double>(sim::kDefaultAccessCost);
  if (records == 0 || words == 0) return;
  const uint64_t frames = stall < 0 ? UINT64_MAX : static_cast<uint64_t>(stall);
  if (period <= budget) {
    const uint64_t whole = std::min(records, frames / words);  // records read before the stall
    plan->timedOutRecords = records - whole;
    const double read =
        whole < records ? static_cast<double>(frames) : static_cast<double>(whole) * words;
    plan->runSeconds = (read * period + static_cast<double>(records - whole) * budget) / 1e9;
    return;
  }
  const uint64_t worked = std::min(records, kSimulatedRecords);
  double t = 0;
  uint64_t timedOut = 0;
  for (uint64_t r = 0; r < worked; ++r) {
    const double frame = (std::floor(t / period) + 1) * period;
    if (frame - t > budget || std::floor(t / period) + 1 > static_cast<double>(frames)) {
      t += budget;  // no word: the read gives up
    } else {
      t = frame;
      if (words == 1) continue;
      t += budget;  // the next frame is further off than the budget
    }
    ++timedOut;
  }
  const double scale = static_cast<double>(records) / static_cast<double>(worked);
  plan->runSeconds = t / 1e9 * scale;
  plan->timedOutRecords =
      static_cast<uint64_t>(std::llround(static_cast<double>(timedOut) * scale));
}

// The room the data volume has: whole clusters with --volume-size, as the
// host's file layer counts them, or the host disk's free bytes.
struct Room {
  uint64_t clusterBytes = 0;    // 0: bytes, not clusters
  uint64_t free = 0;            // clusters, or bytes
  uint64_t entries = 2;         // the data folder's, "." and ".." included
  int64_t budget = -1;          // bytes a disk-full fault leaves; -1: no limit
  uint64_t powerLossWrite = 0;  // the write the power fails in, after powerLossBytes
  uint64_t powerLossBytes = 0;
};

Room RoomOf(const PlanInput& in, bool exists) {
  Room room;
  room.budget = in.faults.volumeBytes;
  room.powerLossWrite = in.faults.powerLossWrite;
  room.powerLossBytes = in.faults.powerLossBytes;
  if (exists) room.entries = fat::FolderEntries(in.dataDir, false);
  const std::string volume = in.dataDir.substr(0, in.dataDir.rfind("/Pelmok/"));
  if (in.volumeSize > 0) {
    room.clusterBytes = fat::ClusterBytesFor(in.volumeSize);
    const uint64_t all = fat::ClustersOf(in.volumeSize);
    // Folders the run's layout makes take a cluster each.
    const uint64_t used = fat::ClustersUsed(volume, room.clusterBytes) + (exists ? 0 : 2);
    room.free = used < all ? all - used : 0;
    return room;
  }
  std::string probe = in.dataDir;
  struct statvfs vfs;
  while (statvfs(probe.c_str(), &vfs) != 0 && probe.find('/') != std::string::npos)
    probe = probe.substr(0, probe.rfind('/'));
  room.free = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return room;
}

// Bytes of a write of `bytes` to a file of `size` that the volume's clusters
// or the host disk's free bytes take.
uint64_t TakeClusters(Room& room, uint64_t size, uint64_t bytes) {
  if (room.clusterBytes == 0) {
    const uint64_t fits = std::min(bytes, room.free);
    room.free -= fits;
    return fits;
  }
  const uint64_t c = room.clusterBytes;
  const uint64_t fits = std::min(bytes, fat::FileClusters(size, c) * c - size + room.free * c);
  room.free -= fat::FileClusters(size + fits, c) - fat::FileClusters(size, c);
  return fits;
}

// The same within a disk-full fault's budget, which the host's file layer
// applies first.
uint64_t TakeRoom(Room& room, uint64_t size, uint64_t bytes) {
  if (room.budget < 0) return TakeClusters(room, size, bytes);
  const uint64_t fits =
      TakeClusters(room, size, std::min(bytes, static_cast<uint64_t>(room.budget)));
  room.budget -= static_cast<int64_t>(fits);
  return fits;
}

void Bind(Plan* plan, const char* limit, uint64_t write) {
  if (!plan->binding.empty()) return;
  plan->binding = limit;
  plan->bindingWrite = write;
}

constexpr long long kNoFile = -1;     // a name the write creates
constexpr long long kNoOpening = -2;  // a name taken by what no data file opens as

// The size of the data file a write goes into, as the host's file layer
// finds it: a link (no FAT volume holds one), a folder or a device under the
// name is refused as the board's open fails on it.
long long SizeBeforeTheRun(const std::string& name, std::vector<std::string>* refused) {
  struct stat st;
  if (lstat(name.c_str(), &st) != 0) return kNoFile;
  if (S_ISREG(st.st_mode)) return st.st_size;
  refused->push_back(name + (S_ISLNK(st.st_mode)   ? " (a symbolic link, which no FAT volume holds)"
                             : S_ISDIR(st.st_mode) ? " (a folder)"
                                                   : " (no regular file)"));
  return kNoOpening;
}

// One write of the run as the file layer takes it.
void PlanWrite(const std::string& name, uint64_t index, uint64_t recordBytes, Room& room,
               std::map<std::string, long long>& sizes, Plan* plan) {
  auto [at, added] = sizes.emplace(name, kNoFile);
  if (added) at->second = SizeBeforeTheRun(name, &plan->unopenable);
  if (at->second == kNoOpening) {
    ++plan->writesRefused;
    Bind(plan, "data file", index);
    return;
  }
  if (at->second == kNoFile) {
    const uint64_t after = room.entries + fat::EntriesOf(name.substr(name.rfind('/') + 1));
    const uint64_t grows = room.clusterBytes == 0
                               ? 0
                               : fat::FolderClusters(after, room.clusterBytes) -
                                     fat::FolderClusters(room.entries, room.clusterBytes);
    if (after > fat::kMaxFolderEntries || grows > room.free) {
      ++plan->writesRefused;
      Bind(plan, after > fat::kMaxFolderEntries ? "folder entries" : "volume", index);
      return;
    }
    room.entries = after;
    room.free -= grows;
    at->second = 0;
    ++plan->filesMade;
  }
  const uint64_t size = static_cast<uint64_t>(at->second);
  const uint64_t fileRoom = size >= fat::kMaxFileBytes ? 0 : fat::kMaxFileBytes - size;
  const bool powerFails = index == room.powerLossWrite;
  const uint64_t meant = std::min(recordBytes, fileRoom);
  const uint64_t asked = powerFails ? std::min(meant, room.powerLossBytes) : meant;
  const uint64_t fits = TakeRoom(room, size, asked);
  // The board cuts a torn word; a power cut leaves it.
  const uint64_t stored = powerFails ? fits : fits - fits % 4;
  at->second += static_cast<long long>(stored);
  plan->bytesStored += stored;
  if (stored == recordBytes && !powerFails) {
    ++plan->writesWhole;
    return;
  }
  ++(stored == recordBytes ? plan->writesWhole
     : stored > 0          ? plan->writesShort
                           : plan->writesRefused);
  Bind(plan,
       fileRoom < recordBytes        ? "file size"
       : fits < asked || !powerFails ? "volume"
                                     : "power loss",
       index);
}

// The run's writes one by one into the data folder: by their names as far
// as they were worked out, beyond them by bytes alone until the volume is full.
void WalkWrites(const PlanInput& in, bool exists, uint64_t recordBytes, Plan* plan) {
  Room room = RoomOf(in, exists);
  std::map<std::string, long long> sizes;
  const uint64_t named = std::min<uint64_t>(plan->writes, in.names.size());
  for (uint64_t k = 0; k < named; ++k)
    PlanWrite(in.dataDir + "/" + in.names[k].first, k + 1, recordBytes, room, sizes, plan);
  bool filled = plan->binding == "volume" || plan->binding == "folder entries";
  for (uint64_t k = named; k < plan->writes && !filled; ++k) {
    const uint64_t fits = TakeRoom(room, 0, recordBytes);
    plan->bytesStored += fits - fits % 4;
    plan->filesMade += fits > 0;
    filled = fits < recordBytes;
    if (filled) Bind(plan, "volume", k + 1);
    ++(!filled ? plan->writesWhole : fits > 0 ? plan->writesShort : plan->writesRefused);
  }
  // Past the write a limit cut, every write the walk left is lost too.
  plan->writesRefused = plan->writes - plan->writesWhole - plan->writesShort;
}

// A run of no reads still sets the port up, some tens of microseconds: it is
// never said to take no time.
std::string RunTime(double seconds) {
  if (seconds < 0.001) return "under 0.001 s";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

void PrintBudget(const Plan& plan, uint64_t recordBytes, size_t files, FILE* out) {
  const double cadence = plan.writes > 0 ? plan.runSeconds / static_cast<double>(plan.writes) : 0;
  if (cadence > 0) {
    std::fprintf(
        out, "  budget            %s bytes an hour (a write of %s bytes every %.3f s), %s files\n",
        Grouped(static_cast<uint64_t>(3600.0 / cadence * static_cast<double>(recordBytes))).c_str(),
        Grouped(recordBytes).c_str(), cadence, Grouped(files).c_str());
  }
  const double when = cadence * static_cast<double>(plan.bindingWrite);
  if (plan.binding == "the run's own end") {
    std::fprintf(out, "  first limit       the run's own end, after %s writes, %s\n",
                 Grouped(plan.writes).c_str(), RunTime(plan.runSeconds).c_str());
  } else {
    std::fprintf(out, "  first limit       %s, at write %s, about %.3f s into the run (%.1f h)\n",
                 plan.binding.c_str(), Grouped(plan.bindingWrite).c_str(), when, when / 3600);
  }
}

// The faults that change nothing planned, and the reads' losses.
void WarnOfTheReads(const PlanInput& in, Plan* plan, FILE* out) {
  for (const std::string& fault : in.faults.harmless)
    std::fprintf(out, "  fault             %s\n", fault.c_str());
  if (plan->timedOutRecords > 0 && in.faults.stallFrames >= 0)
    plan->warnings.push_back(Grouped(plan->timedOutRecords) +
                             " records time out: the converter makes no frame after frame " +
                             std::to_string(in.faults.stallFrames));
  else if (plan->timedOutRecords > 0)
    plan->warnings.push_back(
        Grouped(plan->timedOutRecords) + " records time out at " + std::to_string(in.frameRateHz) +
        " Hz: a frame comes less often than the reader " + "waits, so their words are zeros");
  if (in.frameRateHz > 1000000 && plan->writes > 0)
    plan->warnings.push_back("at " + std::to_string(in.frameRateHz) +
                             " Hz frames come faster than the reader's " +
                             "two accesses a word (1 µs): the FIFO overruns and frames are lost");
}

}  // namespace

double PlanRunSeconds(const AcquisitionConfig& c, uint32_t frameRateHz, uint64_t* timedOut,
                      const PlannedFaults& faults) {
  const uint32_t words = static_cast<uint32_t>(c.samplesPerRecord);
  const bool allocates = words <= kMaxRecordWords;
  uint64_t iterations = c.filesPerUsbWrite > 0 ? static_cast<uint64_t>(c.filesPerUsbWrite) : 0;
  // The power fails in a write: the iterations after it never run.
  if (faults.powerLossWrite > 0 && c.sleepSeconds > 0)
    iterations = std::min(iterations, faults.powerLossWrite);
  const uint64_t recordsEach = c.recordsPerFile > 0 ? static_cast<uint64_t>(c.recordsPerFile) : 0;
  Plan plan;
  PlanReads(frameRateHz, allocates ? iterations * recordsEach : 0, allocates ? words : 0,
            faults.stallFrames, &plan);
  if (timedOut != nullptr) *timedOut = plan.timedOutRecords;
  return plan.runSeconds;
}

PlannedFaults PlannedFaultsOf(const std::vector<Fault>& faults) {
  PlannedFaults planned;
  for (const Fault& f : faults) {
    switch (f.kind) {
      case FaultKind::kDiskFull: planned.volumeBytes = f.first; break;
      case FaultKind::kPowerLoss:
        planned.powerLossWrite = static_cast<uint64_t>(f.first);
        planned.powerLossBytes = static_cast<uint64_t>(f.second);
        break;
      case FaultKind::kStall:
        if (planned.stallFrames < 0 || f.first < planned.stallFrames) planned.stallFrames = f.first;
        break;
      case FaultKind::kOverrun:
        planned.harmless.push_back(Placed(f) +
                                   ": frames lost to the FIFO's overrun; no file, byte or " +
                                   "time-out changes");
        break;
      case FaultKind::kStuckBit:
        planned.harmless.push_back(Placed(f) +
                                   ": the codes change, no file, byte or time-out does");
        break;
      default: break;  // the converter's rate and the board's clock: the plan's own inputs
    }
  }
  return planned;
}

Plan PlanDeployment(const PlanInput& in, FILE* out) {
  Plan plan;
  const AcquisitionConfig& c = in.config;
  const uint32_t words = static_cast<uint32_t>(c.samplesPerRecord);
  const bool allocates = words <= kMaxRecordWords;
  const uint64_t iterations =
      c.filesPerUsbWrite > 0 ? static_cast<uint64_t>(c.filesPerUsbWrite) : 0;
  const uint64_t recordBytes = allocates ? uint64_t{words} * 4 : 0;
  plan.writes = allocates && c.sleepSeconds > 0 ? iterations : 0;
  if (in.faults.powerLossWrite > 0) plan.writes = std::min(plan.writes, in.faults.powerLossWrite);
  plan.runSeconds = PlanRunSeconds(c, in.frameRateHz, &plan.timedOutRecords, in.faults);

  std::fprintf(out, "The plan:\n");
  if (plan.writes == 0)
    plan.warnings.push_back(iterations == 0 ? "the run makes no file iteration: it records nothing"
                            : !allocates
                                ? "no record buffer can be allocated: the run records nothing"
                                : "\"Seconds to sleep between acquisitions\" is " +
                                      std::to_string(c.sleepSeconds) +
                                      ", which switches writing off: the run records nothing");
  if (!allocates && iterations > 0)
    plan.warnings.push_back(Grouped(iterations) +
                            " file iterations that only print (two console lines each)");
  WarnOfTheReads(in, &plan, out);

  struct stat st;
  const bool exists = stat(in.dataDir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (!exists && in.bare) {
    plan.errors.push_back("the data folder " + in.dataDir +
                          " is missing: the board never creates it, so no " +
                          "write would be stored (run without --bare, or create it)");
    plan.writesRefused = plan.writes;
    Bind(&plan, "data folder", 1);
  } else if (exists && access(in.dataDir.c_str(), W_OK | X_OK) != 0) {
    plan.errors.push_back("the data folder " + in.dataDir +
                          " is not writable: no data file can be opened");
    plan.writesRefused = plan.writes;
    Bind(&plan, "data folder", 1);
  } else {
    if (!exists)
      std::fprintf(out, "  data folder       %s is missing: the run lays it out\n",
                   in.dataDir.c_str());
    WalkWrites(in, exists, recordBytes, &plan);
  }
  if (plan.binding.empty()) Bind(&plan, "the run's own end", plan.writes);
  if (!plan.unopenable.empty())
    plan.errors.push_back(
        Grouped(plan.unopenable.size()) + " of the run's data file names " +
        (plan.unopenable.size() == 1 ? "is" : "are") +
        " taken by what the board cannot open, so their writes are not written: " +
        plan.unopenable.front() + (plan.unopenable.size() > 1 ? ", ..." : ""));
  if (plan.binding == "power loss")
    plan.errors.push_back("the power fails during write " + Grouped(plan.bindingWrite) + " after " +
                          Grouped(in.faults.powerLossBytes) + " of its bytes: the run stops there");
  else if (plan.binding != "the run's own end" && plan.binding != "data folder" &&
           plan.binding != "data file")
    plan.errors.push_back("the " + plan.binding + " limit binds at write " +
                          Grouped(plan.bindingWrite) + " of " + Grouped(plan.writes) + ": " +
                          Grouped(plan.writesShort) + " writes short, " +
                          Grouped(plan.writesRefused) + " not written");
  std::fprintf(out, "  writes            %s: %s whole, %s short, %s not written; %s bytes stored\n",
               Grouped(plan.writes).c_str(), Grouped(plan.writesWhole).c_str(),
               Grouped(plan.writesShort).c_str(), Grouped(plan.writesRefused).c_str(),
               Grouped(plan.bytesStored).c_str());
  std::fprintf(out, "  files made        %s\n", Grouped(plan.filesMade).c_str());
  std::fprintf(out, "  records timed out %s\n", Grouped(plan.timedOutRecords).c_str());
  std::fprintf(out, "  run time          %s simulated\n", RunTime(plan.runSeconds).c_str());
  PrintBudget(plan, recordBytes, plan.writes > in.names.size() ? plan.writes : in.files, out);
  return plan;
}

}  // namespace daq
