// pelmok-daq: the board's start-up code on the host. It lays out a simulated
// PXA27x board with its converter, points the platform layer at it and at a
// folder that stands for the device's volumes, and calls WinMain once, as the
// board would; the process exits with WinMain's result.
//
// Standard error carries exactly the debug console; standard output carries
// the program's banner and, after the run, this tool's own report.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "board/low_power.h"
#include "platform/host/fat_volume.h"
#include "platform/host/host.h"
#include "platform/host/session.h"
#include "sim/board.h"
#include "sim/fault.h"
#include "sim/pxa27x_ssp.h"
#include "sim/signal.h"
#include "sim/trace.h"
#include "tools/common/board_time.h"
#include "tools/common/device_configuration.h"
#include "tools/common/output_file.h"
#include "tools/common/standard_streams.h"
#include "tools/pelmok-daq/configuration_check.h"
#include "tools/pelmok-daq/deployment_plan.h"
#include "tools/pelmok-daq/device_volumes.h"
#include "tools/pelmok-daq/fault_schedule.h"
#include "tools/pelmok-daq/options.h"
#include "tools/pelmok-daq/run_report.h"

namespace {

// A short but real run: three file iterations of two one-second records at
// 100 kHz, so three data files of 100000 words each.
const char kDefaultConfiguration[] =
    "Sample rate:100000\r\n"
    "Number of samples per record:100000\r\n"
    "Number of hydrophones:4\r\n"
    "Number of records per Flash Disk file:2\r\n"
    "Number of Flash Disk files per USB write:3\r\n"
    "Seconds to sleep between acquisitions:1\r\n";

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (!partial.empty() && !IsDirectory(partial) && mkdir(partial.c_str(), 0755) != 0 &&
        errno != EEXIST)
      return false;
  }
  return true;
}

// Says why the device cannot be laid out, on one line; false if it cannot.
// Folders and the file are found as the board's FAT volumes find them, in any
// case; only what is missing is made, as written.
bool LayOutDevice(const std::string& root) {
  const std::string config = daq::DevicePathOn(root, "\\FlashFX Disk\\Pelmok\\PelmokConfig.txt");
  bool ok = MakeDirectories(daq::DevicePathOn(root, "\\FlashFX Disk\\Pelmok")) &&
            MakeDirectories(daq::DevicePathOn(root, "\\Hard Disk\\Pelmok\\Data")) &&
            MakeDirectories(daq::DevicePathOn(root, "\\Storage Card\\Pelmok\\Data"));
  std::string reason = ok ? "" : std::strerror(errno);
  struct stat st;
  if (ok && lstat(config.c_str(), &st) != 0) {
    // Whole or not at all: a full volume leaves no file, and the next run
    // writes it. One that another run lays out first is used as it is.
    datatools::OutputFile file;
    ok = (file.Open(config, datatools::OutputPolicy{}, &reason) &&
          file.Write(kDefaultConfiguration, sizeof kDefaultConfiguration - 1) &&
          file.Commit(&reason)) ||
         file.Error() == EEXIST;
  }
  if (!ok)
    std::fprintf(stderr, "pelmok-daq: cannot lay out the device in %s: %s\n", root.c_str(),
                 reason.c_str());
  return ok;
}

// The data folder, where it exists in any form, must be a folder: records
// written into a file, a link to nothing or a link loop would all be lost.
// Missing is fine: it is laid out, or (--bare) the run says so as the board would.
void CheckDataFolder(const std::string& dir) {
  struct stat st;
  const char* problem = nullptr;
  std::string reason;
  if (stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) problem = "is not a folder";
  } else if (errno == ENOENT) {
    if (lstat(dir.c_str(), &st) == 0) problem = "is a link to nothing";
  } else {
    reason = std::strerror(errno);
    problem = reason.c_str();
  }
  if (problem == nullptr) return;
  std::fprintf(stderr, "pelmok-daq: the data folder %s %s%s\n", dir.c_str(),
               reason.empty() ? "" : "cannot be used: ", problem);
  std::exit(2);
}

// Simulated time against the run's total, the data-file writes so far (from
// the file layer's write log, as the report has it) and the wall time left, on one terminal line of
// standard output. Only where standard output is a terminal: a file or a pipe gets the report
// alone. Driven by the bus's alarm every tenth of a simulated second, so the register accesses pay
// nothing for it; the line is redrawn at most four times a wall second.
class ProgressLine {
 public:
  ProgressLine(sim::Bus& bus, double totalSeconds, const daq::RunReport& report)
      : bus_(bus), total_(totalSeconds), report_(report), start_(std::chrono::steady_clock::now()) {
    Arm();
  }
  ~ProgressLine() { bus_.SetAlarm(0, nullptr, nullptr); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void End() {
    bus_.SetAlarm(0, nullptr, nullptr);
    if (shown_) std::printf("\r\033[K");
    std::fflush(stdout);
  }

 private:
  static constexpr sim::Nanoseconds kEvery = 100000000;  // 0.1 s simulated

  void Arm() {
    bus_.SetAlarm(
        bus_.Now() + kEvery, [](void* self) { static_cast<ProgressLine*>(self)->Ring(); }, this);
  }

  void Ring() {
    Arm();
    const auto now = std::chrono::steady_clock::now();
    if (now < nextShow_) return;
    nextShow_ = now + std::chrono::milliseconds(250);
    const double seconds = static_cast<double>(bus_.Now()) / 1e9;
    const size_t writes = report_.Writes();
    const double wall = std::chrono::duration<double>(now - start_).count();
    char left[48] = "";
    if (total_ > seconds && seconds > 0)
      std::snprintf(left, sizeof left, ", about %.1f s left", wall * (total_ - seconds) / seconds);
    std::printf("\rpelmok-daq: %.1f s of %.1f s simulated (%.0f%%), %zu data-file write%s%s\033[K",
                seconds, total_, total_ > 0 ? std::min(100.0, 100.0 * seconds / total_) : 100.0,
                writes, writes == 1 ? "" : "s", left);
    std::fflush(stdout);
    shown_ = true;
  }

  sim::Bus& bus_;
  double total_;
  const daq::RunReport& report_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point nextShow_{};
  bool shown_ = false;
};

// The run's length as --check plans it, from the configuration as the
// board's reader takes it: every record read, time-outs included.
double RunSeconds(const std::string& root, uint32_t frameRate) {
  AcquisitionConfig config;
  std::string console;
  datatools::ReadDeviceConfiguration(root, &config, &console);
  return daq::PlanRunSeconds(config, frameRate);
}

// Standard error stays the console alone, so the tool's word on a fault goes
// to standard output, and the run ends there with status 3.
sim::TextTrace* runTrace = nullptr;
sim::Bus* runBus = nullptr;  // the traced bus, whose run of reads the trace has not heard of yet
// At namespace scope, so an exit before the run discards what was begun.
datatools::OutputFile traceOutput;

// What the run's records need of the data volume when the trace shares it.
uint64_t recordRoom = 0;

// The bytes a trace on the data folder's volume may take: the volume's free
// bytes less what the run's records need (each write rounded up to whole
// blocks and one more, and a megabyte for the file system's own); no bound
// on another volume.
uint64_t TraceRoom(const std::string& dataDir, const daq::RunShape& shape) {
  struct stat trace, data;
  struct statvfs volume;
  if (fstat(traceOutput.Descriptor(), &trace) != 0 || stat(dataDir.c_str(), &data) != 0 ||
      trace.st_dev != data.st_dev || statvfs(dataDir.c_str(), &volume) != 0)
    return UINT64_MAX;
  const uint64_t block = volume.f_bsize != 0 ? volume.f_bsize : 4096;
  recordRoom =
      shape.writes * ((shape.recordBytes + block - 1) / block * block + block) + (1u << 20);
  const uint64_t free = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
  return free > recordRoom ? free - recordRoom : 0;
}

// The trace goes into place (or, streamed, is closed); false, said on
// standard output, when any of it failed to go out.
bool FinishTrace(bool written) {
  std::string error;
  if (traceOutput.Commit(&error) && written) return true;
  if (traceOutput.LimitReached()) {
    std::printf(
        "pelmok-daq: the register trace gave way to the records: it stopped where the data volume "
        "had only the %llu bytes the run's records need left, and is not written\n",
        static_cast<unsigned long long>(recordRoom));
    return false;
  }
  if (error.empty()) error = traceOutput.Path() + ": a write failed";
  std::printf("pelmok-daq: the register trace is incomplete: %s\n", error.c_str());
  return false;
}

void StopRun(const char* why, const std::string& message) {
  std::fflush(stderr);
  // The accesses that led to the fault are the trace's most useful lines.
  if (runTrace != nullptr) {
    runBus->EndTraceRun();
    FinishTrace(runTrace->Flush());
  }
  std::printf("\npelmok-daq: %s, run stopped: %s\n", why, message.c_str());
  std::fflush(stdout);
  std::_Exit(3);
}

void StopOnFault(const std::string& message) { StopRun("simulated board fault", message); }

// Set once WinMain (or EnterLowPower) has been called: an error from then on
// ends the run as a fault does.
bool runStarted = false;

// The stand-in vendor libraries: an installed pelmok-daq finds them under the
// library folder beside its bin/ (from /proc/self/exe, so a moved installation
// still finds its own); a program in the build tree, the build's.
std::string DefaultLibraryDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<size_t>(n));
    dir = dir.substr(0, dir.rfind('/') + 1) + PELMOK_STANDIN_INSTALLED "/full";
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  }
  return PELMOK_STANDIN_DIR "/full";
}

// What the report after the run needs, also where the power fails mid-run.
struct Ending {
  const daq::Options* options;
  sim::Board* board;
  daq::RunReport* report;
  const daq::FaultSchedule* faults;
  bool wavRate;
  ProgressLine* progress;
  // The board's clock and the true time as the run starts; both clocks are
  // reported when they can differ (a drift, or a clock reset).
  daq::RunReport::ClockReading clockAtStart;
  bool bothClocks;
};
Ending* theEnding = nullptr;

// The tool's own report, after the run. The board's result is WinMain's;
// pelmok-daq's status is 3 when the run lost data or its trace, so that a
// script can tell.
int Report(Ending& e, int result, bool traceWhole, bool powerLost) {
  const daq::Options& options = *e.options;
  sim::Board& board = *e.board;
  std::printf("\npelmok-daq: device folder %s, %.6f s of simulated time, %llu register accesses\n",
              options.deviceRoot.c_str(), static_cast<double>(board.bus().Now()) / 1e9,
              static_cast<unsigned long long>(board.bus().AccessCount()));
  bool lost = !traceWhole || powerLost;
  if (!options.lowPower) {
    const sim::Pxa27xSsp& ssp = board.ssp3();
    std::printf("pelmok-daq: converter at %u Hz%s\n", board.converter().FrameRateHz(),
                e.wavRate ? " (the WAV file's own rate)" : "");
    std::printf("pelmok-daq: converter frames made %llu, read %llu, lost to overrun %llu\n",
                static_cast<unsigned long long>(ssp.FramesMade()),
                static_cast<unsigned long long>(ssp.FramesRead()),
                static_cast<unsigned long long>(ssp.FramesLost()));
    lost = e.report->PrintWrites(options.timeZone, e.bothClocks) || lost || ssp.FramesLost() > 0;
  }
  if (e.bothClocks)
    daq::RunReport::PrintClockChecks(e.clockAtStart,
                                     {board.UtcNanoseconds(), board.TrueUtcNanoseconds()});
  for (const std::string& line : e.faults->Outcomes())
    std::printf("pelmok-daq: fault %s\n", line.c_str());
  if (!options.tracePath.empty() && traceWhole)
    std::printf("pelmok-daq: register trace in %s\n", options.tracePath.c_str());
  if (powerLost) {
    std::printf("pelmok-daq: the board's result: none, the power failed before WinMain returned\n");
  } else if (options.lowPower) {
    std::printf("pelmok-daq: EnterLowPower(%d) returned; WinMain was not called\n",
                options.lowPowerMode);
  } else {
    std::printf("pelmok-daq: the board's result: WinMain returned %d\n", result);
  }
  if (lost) std::printf("pelmok-daq: the run lost data or its trace: exit status 3\n");
  std::fflush(stdout);
  return lost ? 3 : result;
}

// The power fails in the middle of a write: the run ends there, the device
// left as the cut left it; the report tells what reached the disk.
void PowerLost(const std::string&) {
  std::fflush(stderr);
  Ending& e = *theEnding;
  if (e.progress != nullptr) e.progress->End();
  e.report->Stop();
  bool traceWhole = true;
  if (runTrace != nullptr) {
    runBus->EndTraceRun();
    traceWhole = FinishTrace(runTrace->Flush());
  }
  std::_Exit(Report(e, 0, traceWhole, true));
}

using daq::DevicePathOn;

// The converter's signal; a recording replays at its own rate unless told
// otherwise (*wavRate then).
std::shared_ptr<sim::SignalSource> SignalOf(daq::Options& options, bool* wavRate) {
  std::string error;
  std::shared_ptr<sim::SignalSource> signal =
      sim::MakeSignal(options.signal, options.frameRate, &error);
  if (!signal) daq::UsageError("bad --signal '" + options.signal + "': " + error);
  const auto wav = std::dynamic_pointer_cast<sim::WavSignal>(signal);
  *wavRate = wav != nullptr && !options.frameRateGiven;
  if (*wavRate) {
    if (wav->FileRateHz() < 1 || wav->FileRateHz() > 10000000)
      daq::UsageError("bad --signal '" + options.signal + "': the file's rate " +
                      std::to_string(wav->FileRateHz()) +
                      " Hz is not 1 to 10000000 (give --frame-rate)");
    options.frameRate = wav->FileRateHz();
  }
  return signal;
}

int Check(const daq::Options& options) {
  const daq::RunClock clock{options.startTime, options.timeZone,
                            options.startTime.has_value() || options.timeZoneGiven,
                            options.clockDriftPpm};
  // The faults placed as the run places them, by the same seed.
  daq::FaultSchedule faults(options.faults, options.seed);
  faults.Place(options.faults.empty() ? daq::RunShape() : daq::ShapeOfRun(options.deviceRoot));
  return daq::CheckConfiguration(
      options.deviceRoot, options.frameRate, stdout, clock,
      daq::CheckDevice{options.bare, options.volumeSize, faults.faults()});
}

// Nothing is created or replaced until every check has passed: the data
// folder first, then the trace is begun beside its destination, the device
// laid out; the trace takes its name only when the run is over. The data
// folder's host path, as laid out.
std::string PrepareDevice(const daq::Options& options) {
  std::string dataDir = DevicePathOn(options.deviceRoot, "\\Hard Disk\\Pelmok\\Data");
  CheckDataFolder(dataDir);
  if (!options.tracePath.empty()) {
    datatools::OutputPolicy policy;
    policy.force = options.force;
    policy.stream = true;  // a pipe or a device is written as the run goes
    policy.inputs = {datatools::ConfigurationFilePath(options.deviceRoot), dataDir};
    if (options.signal.compare(0, 4, "wav:") == 0)
      policy.inputs.push_back(options.signal.substr(4));
    std::string error;
    if (!traceOutput.Open(options.tracePath, policy, &error))
      daq::UsageError("bad --trace: " + error);
  }
  if (options.bare) return dataDir;
  if (!LayOutDevice(options.deviceRoot)) std::exit(2);
  return DevicePathOn(options.deviceRoot, "\\Hard Disk\\Pelmok\\Data");
}

// The faults placed in the run's shape, which also keeps a trace on the data
// volume off the room the records need; read only when one needs it.
daq::FaultSchedule PlaceFaults(const daq::Options& options, const std::string& dataDir) {
  const bool fileTrace = traceOutput.Stream() != nullptr && !traceOutput.Streaming();
  const daq::RunShape shape =
      options.faults.empty() && !fileTrace ? daq::RunShape() : daq::ShapeOfRun(options.deviceRoot);
  if (fileTrace) traceOutput.SetLimit(TraceRoom(dataDir, shape));
  daq::FaultSchedule faults(options.faults, options.seed);
  faults.Place(shape);
  return faults;
}

sim::BoardOptions BoardOptionsOf(const daq::Options& options,
                                 std::shared_ptr<sim::SignalSource> signal,
                                 const daq::FaultSchedule& faults) {
  sim::BoardOptions boardOptions;
  boardOptions.frameRateHz = options.frameRate;
  boardOptions.signal = std::move(signal);
  boardOptions.clockEpoch = options.startTime;
  boardOptions.clockDriftPpm = options.clockDriftPpm;
  boardOptions.timeZone = options.timeZone.Setting();
  faults.SetUpBoard(&boardOptions);
  return boardOptions;
}

std::unique_ptr<sim::TextTrace> StartTrace(const daq::Options& options, sim::Board& board) {
  FILE* traceFile = traceOutput.Stream();
  if (traceFile == nullptr) return nullptr;
  auto trace = std::make_unique<sim::TextTrace>(
      board.bus(), traceFile,
      options.traceEveryAccess ? sim::TextTrace::kEveryAccess : sim::TextTrace::kCompact);
  board.bus().SetTrace(trace.get());
  runTrace = trace.get();
  runBus = &board.bus();
  return trace;
}

// WinMain (or EnterLowPower) once, as the board's start-up code calls it.
int CallTheProgram(const daq::Options& options) {
  runStarted = true;
  if (options.lowPower) {
    EnterLowPower(options.lowPowerMode);
    return 0;
  }
  wchar_t commandLine[] = L"";
  return WinMain(nullptr, nullptr, commandLine, 0);
}

// The trace, when there is one, flushed and put in place; false when any of it was lost.
bool EndTrace(sim::Board& board, std::unique_ptr<sim::TextTrace> trace) {
  board.bus().SetTrace(nullptr);
  runTrace = nullptr;
  if (!trace) return true;
  const bool written = trace->Flush();
  trace.reset();
  return FinishTrace(written);
}

int Run(int argc, char** argv) {
  daq::Options options = daq::ParseOptions(argc, argv, DefaultLibraryDir());
  bool wavRate = false;
  std::shared_ptr<sim::SignalSource> signal = SignalOf(options, &wavRate);
  if (options.check) return Check(options);

  const std::string dataDir = PrepareDevice(options);
  daq::FaultSchedule faults = PlaceFaults(options, dataDir);
  sim::Board board(BoardOptionsOf(options, signal, faults));
  std::unique_ptr<sim::TextTrace> trace = StartTrace(options, board);
  sim::SetFaultHandler(StopOnFault);
  host::SessionOptions sessionOptions;
  sessionOptions.deviceRoot = options.deviceRoot;
  sessionOptions.libraryDirectory = options.libraryDir;
  auto session = std::make_unique<host::Session>(board, sessionOptions);
  host::SetDataVolumeSize(options.volumeSize);

  daq::RunReport report(dataDir, board.ssp3());
  const daq::RunReport::ClockReading clockAtStart{board.UtcNanoseconds(),
                                                  board.TrueUtcNanoseconds()};
  Ending ending{
      &options,
      &board,
      &report,
      &faults,
      wavRate,
      nullptr,
      clockAtStart,
      options.clockDriftPpm != 0 || clockAtStart.boardNanoseconds != clockAtStart.trueNanoseconds};
  theEnding = &ending;
  if (!options.lowPower) report.Listen();
  faults.Arm(board, PowerLost);
  std::unique_ptr<ProgressLine> progress;
  if (!options.lowPower && isatty(STDOUT_FILENO))
    progress = std::make_unique<ProgressLine>(
        board.bus(), RunSeconds(options.deviceRoot, options.frameRate), report);
  ending.progress = progress.get();

  const int result = CallTheProgram(options);
  std::fflush(stderr);
  if (progress) progress->End();
  ending.progress = nullptr;
  report.Stop();
  session.reset();
  const bool traceWhole = EndTrace(board, std::move(trace));
  return Report(ending, result, traceWhole, false);
}

// No exception ends the program unreported: before the run it is a bad start
// (one line on standard error, exit 2), once the run started it is reported
// as a fault is (standard output, exit 3), standard error staying the console.
void StopOnException(const char* what) {
  if (runStarted) StopRun("error", what);
  std::fprintf(stderr, "pelmok-daq: %s\n", what);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  datatools::GuardStandardStreams("pelmok-daq");
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    StopOnException(e.what());
  } catch (...) {
    StopOnException("unknown exception");
  }
}
