// A deployment: every record the board wrote into a data folder (or a list
// of data files), each with its time in UTC, in the order the writes
// happened, and what lies between them. pelmok-data's subcommands read data
// files through this model (LoadDeployment); BuildDeployment builds it from
// names and sizes alone.
//
// Times are UTC only when the board's zone is known (--time-zone, the
// deployment file or TZ; never the host's own zone). Without it the model
// runs on the names' local clock and every output says UTC is not known.
//
// A file's name is the local time of its first write, to the second, with no
// zone. Under the board's time-zone setting (BoardZone) a name stands for one
// UTC second, or for two in the repeated hour after a change back to standard
// time, or for none in the hour the change forward skips. Records appended to
// one file (writes in the same local second, or in both passes of a repeated
// hour) lie in it back to back in the order they were written, and are split
// when the record length is known.
//
// A repeated-hour name is resolved by the cadence, the interval between
// writes: of all ways to put the ambiguous records into the two passes, the
// one with the fewest breaks in the cadence is taken when it is the only one;
// otherwise the record keeps both candidates and is reported as not told. An
// interval between two writes keeps the cadence when it is within
// CadenceTolerance of it: a second for the names' resolution, plus 1 % of the
// cadence for the converter's clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/configuration.h"
#include "tools/common/board_time.h"
#include "tools/common/deployment_file.h"
#include "tools/formats/data_file.h"

namespace datatools {

// What the tools are told about the run, from flags or the configuration file.
// What to take for a record whose name the cadence cannot place in either
// pass of a repeated hour: nothing (it keeps both candidates), or the user's pick.
enum class Assume { kNothing, kEarlier, kLater };

struct DeploymentFlags {
  std::optional<uint32_t> rate;              // --rate HZ
  std::optional<uint64_t> samplesPerRecord;  // --samples-per-record N
  std::string configPath;                    // --config FILE, "" for none
  std::optional<std::string> timeZone;       // --time-zone ZONE; unset: the file's, else TZ
  std::string deploymentPath;                // --deployment FILE; "": the one found
  DeploymentDescription deployment;          // the deployment file as read (path "": none)
  Assume assume = Assume::kNothing;          // --assume earlier|later
};

struct DeploymentSettings {
  BoardZone zone;
  // False: no zone was given. The zone is then UTC0 in name only: every
  // "UTC" time of the model is the board's local clock, and no output may
  // call it UTC or give it an offset.
  bool zoneKnown = true;
  Assume assume = Assume::kNothing;
  uint32_t rate = 0;              // Hz; 0: not known
  bool rateAssumed = false;       // set by a tool that goes on with a default rate
  uint64_t samplesPerRecord = 0;  // words; 0: not known (a file is then one record)
  // From the configuration file only (0: not known).
  int64_t recordsPerFile = 0;  // records read per iteration: the cadence
  int64_t filesPerRun = 0;     // "Number of Flash Disk files per USB write"
  std::string configPath;
  AcquisitionConfig config{};         // as the board's reader set it, when configPath is given
  DeploymentDescription description;  // the deployment file's, when there is one
};

// Flags, the deployment file and the configuration file (read by the
// board's own reader) into settings. A flag that says otherwise than either
// file (--rate against "Sample rate", --samples-per-record against "Number
// of samples per record", --time-zone or --config against the deployment
// file's) is an error. False with a one-line reason.
bool ResolveSettings(const DeploymentFlags& flags, DeploymentSettings* settings,
                     std::string* error);

// How a record's UTC time was found.
enum class TimeSource {
  kName,       // the name stands for one UTC second
  kCadence,    // a repeated-hour name; the cadence chose one of its two seconds
  kAmbiguous,  // a repeated-hour name the cadence could not tell: both candidates kept
  kAssumed,    // such a name, placed in the pass the user chose (--assume)
  kNone,       // no time: not a data file name, or a name the rule never gives
};
// "name", "cadence", "ambiguous", "assumed", "none"
const char* TimeSourceText(TimeSource source);

// Record flags, a bit mask.
enum RecordFlag : uint32_t {
  kAppended = 1u << 0,        // not the first record of its file
  kSharedName = 1u << 1,      // its file holds more than one record
  kEarlierRunFile = 1u << 2,  // appended to a file an earlier run of the deployment started
  kShortRecord = 1u << 3,     // fewer words than the record length: a write cut short
  kTornTail = 1u << 4,        // 1 to 3 bytes after its last whole word
  kSkippedHour = 1u << 5,     // a name in the hour the change forward skips
  kNotDataName = 1u << 6,     // the file's name is no data file name
  kRunStart = 1u << 7,        // first record of a run (the deployment's first, or after a restart)
  kAfterGap = 1u << 8,        // writes are missing before it, or a run ended before it
  kCrossesChange = 1u << 9,   // the record's samples straddle a clock change
  kZeroFilled = 1u << 10,     // ends in zero words, as a read that timed out leaves a record
  kEpochClock = 1u << 11,  // named in 2000: the board's clock ran from its epoch (a lost battery)
};
// "appended,shared-name,..." (empty for none), for CSV and reports.
std::string RecordFlagsText(uint32_t flags);

struct DeploymentFile {
  std::string path;
  std::string name;    // base name
  bool named = false;  // carries a data file name
  DataFileName local;  // the name's fields, when named
  uint64_t bytes = 0;
  uint32_t tornBytes = 0;       // bytes % 4
  std::vector<size_t> records;  // indices into Deployment::records, in file order
};

struct Candidate {
  int64_t utc = 0;            // the write's UTC second
  int32_t offsetMinutes = 0;  // offset in force then, minutes east of UTC
};

struct Record {
  size_t file = 0;         // index into Deployment::files
  uint32_t index = 0;      // record number within its file, from 0
  uint64_t firstWord = 0;  // where it starts in its file
  uint64_t words = 0;      // samples
  TimeSource source = TimeSource::kNone;
  // The write, to the second (the write happened within [writeUtc, +1 s)),
  // and the offset in force: the chosen candidate, or the earlier of two
  // when ambiguous. Unset when source is kNone.
  int64_t writeUtc = 0;
  int32_t offsetMinutes = 0;
  std::vector<Candidate> candidates;  // what the name allows: 1, 2 or 0
  uint32_t flags = 0;
  size_t run = 0;  // index into Deployment::runs

  bool HasTime() const { return source != TimeSource::kNone; }
  // One time, stated as the record's: false for an ambiguous name.
  bool Definite() const { return HasTime() && source != TimeSource::kAmbiguous; }
  // Reference time less the board's clock at the write (clock checks), in seconds.
  double correction = 0;

  // The write in reference time: the board's second corrected.
  double WriteTime() const { return static_cast<double>(writeUtc) + correction; }
  // The first sample's UTC time: the write less the record's length at
  // `rate` (the write at the end of the record); the write when rate is 0.
  double StartUtc(uint32_t rate) const {
    return rate ? WriteTime() - static_cast<double>(words) / rate : WriteTime();
  }
  // The last sample's end: its start plus its length at `rate`.
  double EndUtc(uint32_t rate) const {
    return rate ? StartUtc(rate) + static_cast<double>(words) / rate : WriteTime();
  }
};

enum class CadenceSource {
  kConfiguration,  // records per file × samples per record / rate
  kMeasured,       // the median interval between unambiguous neighbouring writes
  kNone,           // fewer than two writes, and no configuration
};
const char* CadenceSourceText(CadenceSource source);

struct Cadence {
  double seconds = 0;
  CadenceSource source = CadenceSource::kNone;
  double tolerance = 0;  // CadenceTolerance(seconds)
};
double CadenceTolerance(double cadenceSeconds);

enum class GapKind {
  kMissingWrites,  // the interval is a whole number of cadences: writes of one run missing
  kRestart,        // not a whole number, or more writes than a run makes (files per run):
                   // the run ended and a new one began
  kTooClose,       // shorter than the cadence: writes closer than one run makes them
};
const char* GapKindText(GapKind kind);  // "missing writes", "restart", "too close"

struct Gap {
  size_t after = 0;   // the record before the gap (index into records)
  size_t before = 0;  // the record after it
  GapKind kind = GapKind::kRestart;
  double interval = 0;  // seconds between the two writes
  double silence = 0;   // seconds without samples: from the end of `after` to the start of `before`
  int64_t missingWrites = 0;  // kMissingWrites: how many
};

// A run: records of one regular sequence of writes (between restarts).
struct Run {
  size_t first = 0;  // index into records
  size_t count = 0;
  // With the configuration's file count: fewer writes than it makes, the run stopped early.
  bool stoppedEarly = false;
};

struct Deployment {
  DeploymentSettings settings;
  std::vector<DeploymentFile> files;  // in the order found (names sorted as local times)
  // Timed records in UTC order (ambiguous ones at their earlier candidate),
  // then the untimed ones in file order.
  std::vector<Record> records;
  Cadence cadence;
  std::vector<Gap> gaps;
  std::vector<Run> runs;
  std::vector<ClockChange> changes;  // clock changes between the first and last record

  // Totals.
  uint64_t words = 0, bytes = 0;
  size_t ambiguous = 0, resolvedByCadence = 0, assumed = 0, untimed = 0, tornFiles = 0,
         sharedFiles = 0;
  // Folder entries with a data file's name that are no data files, each a warning.
  std::vector<SkippedEntry> skipped;
  // The first record's start to the last record's write, in seconds (0 for none).
  double SpanSeconds() const;
  // Samples recorded, in seconds at the rate.
  double RecordedSeconds() const;

  bool UtcKnown() const { return settings.zoneKnown; }
  // A time of the model as the tools state it: "2026-10-25T00:59:40Z" (with
  // `decimals` fractional digits), or the board's local clock without a zone,
  // "2026-10-25T02:59:40", when UTC is not known.
  std::string TimeText(double t, int decimals = 0) const;
  // The same in ISO 8601 basic form: "20261025T005940Z", "20261025T025940".
  std::string TimeBasicText(int64_t t) const;
  // What the tools say instead of a UTC time they do not have.
  static const char* UtcNotKnown();
  // Whether times are corrected from clock checks (two or more: piecewise
  // linear; one: a constant offset).
  bool Corrected() const { return corrected; }
  bool corrected = false;
  // Reference time less board time at board time `board` (0 uncorrected).
  double Correction(double board) const;
  // A board second (a candidate of a name) as the tools state it, corrected.
  std::string CandidateText(int64_t board) const;

  // A record's write and first sample as the tools state them: TimeText of
  // its time; for a name the cadence could not place, its local time
  // without an offset and both UTC candidates: "2026-10-25T02:59:59 (local;
  // UTC 2026-10-25T00:59:59Z or 2026-10-25T01:59:59Z)". "-" without a time.
  std::string WriteText(const Record& r) const;
  std::string StartText(const Record& r, int decimals) const;
};

// A run whose writes come further apart (or closer) on average than the
// configuration's cadence, by more than its one-second names allow: the
// converter's clock runs off its rate, for records are read by its frames.
// Times are the corrected ones where clock checks correct the board's clock.
struct ConverterClock {
  size_t run = 0;           // index into Deployment::runs
  int64_t writes = 0;       // from the run's first sure write to its last, missing ones counted
  double meanInterval = 0;  // seconds: (last - first) / (writes - 1)
  double error = 0;         // what names to the second allow the mean: 1 / (writes - 1) s
  double rate = 0;          // Hz at which the converter's frames explain the mean
  double ppm = 0;           // its rate less the configuration's, in parts per million
};
// Every such run, with the cadence from the configuration; runs of fewer
// than three writes, or with reads that timed out (their writes come early),
// say nothing. The finding in words: "writes 2.500 s apart on average, ...".
std::vector<ConverterClock> FindConverterClocks(const Deployment& d);
std::string ConverterClockText(const Deployment& d, const ConverterClock& c);

// Reads a data folder (every file carrying a data file name) or a list of
// files and folders into one deployment. Only the files' sizes are read,
// never their samples. A file reached twice (by device and inode) counts
// once; a folder's entries that carry a data file name but are no data
// files go to `skipped`. False with a one-line reason naming the path.
bool LoadDeployment(const std::vector<std::string>& paths, const DeploymentSettings& settings,
                    Deployment* deployment, std::string* error);

// The board clock's rate against the reference between two checks, in parts
// per million: positive when the board's clock runs fast.
double DriftPpm(const ClockCheck& a, const ClockCheck& b);
// Reference time less board time at board time `board`, from checks in board
// time order: interpolated between the two checks around it, extrapolated at
// the nearest segment's rate beyond the first or last; one check's offset
// throughout; 0 for none.
double ClockCorrection(const std::vector<ClockCheck>& checks, double board);

// Which records a subcommand works on. Every record when nothing is asked;
// else those of `files` and `picks`, or all when only a span is asked, less
// those outside [from, to).
struct RecordSelection {
  std::optional<double> from,
      to;  // UTC seconds; a record is kept when its samples reach into the span
  std::vector<std::string> files;  // paths: every record of each
  struct Pick {
    std::string file;  // a path, or a data file's name
    uint32_t index = 0;
  };
  std::vector<Pick> picks;  // --record FILE#N, N from 0 as everywhere
  bool Any() const { return from || to || !files.empty() || !picks.empty(); }
};
// "126-297-2-0-0#1" into a pick; false with a one-line reason.
bool ParsePick(const std::string& text, RecordSelection::Pick* pick, std::string* error);

// The deployment `all` narrowed to the selection: its records keep the times
// the whole deployment gave them. False with a one-line reason when a pick
// names no record or a file given is not in the deployment.
bool SelectRecords(const Deployment& all, const RecordSelection& selection, Deployment* selected,
                   std::string* error);

// The same from names and sizes alone, for names a run will write or a
// listing made elsewhere: each entry is a name with its size in bytes.
struct NamedSize {
  std::string name;
  uint64_t bytes = 0;
};
void BuildDeployment(const std::vector<NamedSize>& files, const DeploymentSettings& settings,
                     Deployment* deployment);

}  // namespace datatools
