// The deployment model against independent truths: the C library's
// localtime_r under the same POSIX rule for names and clock changes, and
// simulated deployments whose true write instants pelmok-daq's run reports,
// across changes to and from summer time in four zones (a 30-minute offset,
// a southern zone and a 30-minute daylight shift among them), read back
// through every time pelmok-data states: info, export's names, bext, GUANO
// and FLAC tags, plot titles and the report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tools/media_formats_test.h"
#include "tests/tools/tool_process.h"
#include "tools/common/deployment.h"

namespace {

using datatools::BoardZone;
using datatools::Deployment;
using datatools::DeploymentSettings;
using datatools::NamedSize;
using datatools::Record;
using datatools::TimeSource;
using toolprocess::Outcome;
using toolprocess::Quote;

// Sets TZ for the C library while alive.
class ScopedTz {
 public:
  explicit ScopedTz(const std::string& rule) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    setenv("TZ", rule.c_str(), 1);
    tzset();
  }
  ~ScopedTz() {
    had_ ? setenv("TZ", saved_.c_str(), 1) : unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

// The board's name of a UTC second by the C library: "<year-1900>-<yday>-h-m-s".
std::string LibraryName(int64_t utc, long* offset = nullptr) {
  const time_t t = static_cast<time_t>(utc);
  struct tm tm;
  localtime_r(&t, &tm);
  if (offset) *offset = tm.tm_gmtoff;
  return std::to_string(tm.tm_year) + "-" + std::to_string(tm.tm_yday) + "-" +
         std::to_string(tm.tm_hour) + "-" + std::to_string(tm.tm_min) + "-" +
         std::to_string(tm.tm_sec);
}

// The first second of `year` from `month` on whose offset differs from the
// one before, by the C library.
int64_t LibraryChange(int year, int month) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = 1;
  int64_t low = static_cast<int64_t>(timegm(&tm));
  long start = 0, now = 0;
  LibraryName(low, &start);
  int64_t high = low;
  do {
    high += 3600;
    LibraryName(high, &now);
  } while (now == start);
  while (high - low > 1) {
    const int64_t mid = low + (high - low) / 2;
    LibraryName(mid, &now);
    (now == start ? low : high) = mid;
  }
  return high;
}

std::string Iso(int64_t utc) {
  const time_t t = static_cast<time_t>(utc);
  struct tm tm;
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

struct Zone {
  const char* rule;
  int year;
  int backMonth, forwardMonth;  // months of the change back to standard time and forward
  int shiftMinutes;             // daylight saving's shift
};

const Zone kZones[] = {
    {"CET-1CEST,M3.5.0,M10.5.0/3", 2026, 10, 3, 60},
    {"NST3:30NDT,M3.2.0,M11.1.0", 2026, 11, 3, 60},             // 30-minute offset
    {"AEST-10AEDT,M10.1.0,M4.1.0/3", 2026, 4, 10, 60},          // southern
    {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", 2026, 4, 10, 30},  // Lord Howe: a 30-minute shift
};

TEST(BoardZone, NamesAndTheirUtcSecondsAgreeWithTheCLibrary) {
  for (const Zone& z : kZones) {
    ScopedTz tz(z.rule);
    BoardZone zone;
    std::string error;
    ASSERT_TRUE(BoardZone::FromRule(z.rule, &zone, &error)) << error;
    for (int month : {z.backMonth, z.forwardMonth}) {
      const int64_t change = LibraryChange(z.year, month);
      std::vector<datatools::ClockChange> changes =
          zone.ChangesBetween(change - 86400, change + 86400);
      ASSERT_EQ(changes.size(), 1u) << z.rule;
      EXPECT_EQ(changes[0].utc, change) << z.rule;
      // Every second's name, the C library's, read back: the second is among
      // its UTC seconds, and the count is how often the C library gives the name.
      std::map<std::string, std::vector<int64_t>> named;
      const int64_t span = 2 * 3600 + 60;
      for (int64_t t = change - span; t < change + span; t += 7) named[LibraryName(t)].push_back(t);
      for (int64_t t = change - span; t < change + span; t += 7) {
        long offset;
        const std::string name = LibraryName(t, &offset);
        EXPECT_EQ(zone.NameAt(t).Name(), name) << z.rule << " " << t;
        EXPECT_EQ(zone.OffsetAt(t) * 60, offset) << z.rule << " " << t;
        datatools::DataFileName ft;
        ASSERT_TRUE(datatools::DataFileName::Parse(name, &ft));
        const std::vector<int64_t> utc = zone.UtcOf(ft.LocalSeconds());
        EXPECT_NE(std::find(utc.begin(), utc.end(), t), utc.end()) << z.rule << " " << name;
        // Seconds 7 apart sample each name at most once per pass.
        EXPECT_GE(utc.size(), named[name].size()) << z.rule << " " << name;
        if (utc.size() == 2) {
          EXPECT_EQ(utc[1] - utc[0], z.shiftMinutes * 60) << z.rule;
        }
      }
    }
    // The skipped hour names no second.
    const int64_t forward = LibraryChange(z.year, z.forwardMonth);
    datatools::DataFileName before;
    ASSERT_TRUE(datatools::DataFileName::Parse(LibraryName(forward - 1), &before));
    EXPECT_TRUE(zone.UtcOf(before.LocalSeconds() + 1).empty()) << z.rule;
  }
}

TEST(BoardZone, TakesRulesAsPelmokDaqDoes) {
  BoardZone zone;
  std::string error;
  for (const char* bad : {"CET-1CEST,J60,J300", "CLT4CLST,M9.1.6/24,M4.1.6/24", "America/Santiago",
                          "No/Such_Zone", "X1", "UTC0:00:30"}) {
    EXPECT_FALSE(BoardZone::FromRule(bad, &zone, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  // A zone name by the rule at the end of its zoneinfo file, as TZ takes it.
  EXPECT_TRUE(BoardZone::FromRule("Europe/Berlin", &zone, &error)) << error;
  EXPECT_EQ(zone.OffsetAt(1782907200), 120);  // 2026-07-01T12:00:00Z, CEST
  EXPECT_TRUE(BoardZone::FromRule("<+0545>-5:45", &zone, &error)) << error;
  EXPECT_EQ(datatools::OffsetText(zone.OffsetAt(0)), "+05:45");
  const int64_t t = 1792886380;
  ScopedTz tz("<+0545>-5:45");
  const time_t tt = static_cast<time_t>(t);
  struct tm tm;
  localtime_r(&tt, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S+05:45", &tm);
  EXPECT_EQ(datatools::LocalText(zone, t), text);
  EXPECT_EQ(datatools::UtcText(t), Iso(t));
  gmtime_r(&tt, &tm);
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  EXPECT_EQ(datatools::UtcBasicText(t), text);
}

// ---- The model on names and sizes ------------------------------------------

DeploymentSettings Settings(const char* rule, uint32_t rate, uint64_t length,
                            int64_t recordsPerFile) {
  DeploymentSettings s;
  std::string error;
  EXPECT_TRUE(BoardZone::FromRule(rule, &s.zone, &error)) << error;
  s.rate = rate;
  s.samplesPerRecord = length;
  s.recordsPerFile = recordsPerFile;
  return s;
}

// Files as the board would name them for writes at these UTC seconds.
std::vector<NamedSize> Writes(const BoardZone& zone, const std::vector<int64_t>& utc,
                              uint64_t bytes) {
  std::map<std::string, uint64_t> files;
  for (int64_t t : utc) files[zone.NameAt(t).Name()] += bytes;
  std::vector<NamedSize> out;
  for (const auto& [name, size] : files) out.push_back(NamedSize{name, size});
  return out;
}

TEST(Deployment, GapsRunsSplitsAndTornTailsAgainstTheCadence) {
  const DeploymentSettings s = Settings("UTC0", 1000, 1000, 10);  // a write every 10 s
  const int64_t t0 = 1790000000;
  // A regular run, one write missing (t0+30), three missing (t0+50..70), a
  // restart 4 s off the grid, and writes too close.
  std::vector<int64_t> utc = {t0, t0 + 10, t0 + 20, t0 + 40, t0 + 80, t0 + 94, t0 + 104, t0 + 106};
  std::vector<NamedSize> files = Writes(s.zone, utc, 4000);
  files[1].bytes += 4000 + 2;  // a second record and a torn tail
  Deployment d;
  datatools::BuildDeployment(files, s, &d);
  ASSERT_EQ(d.records.size(), utc.size() + 1);
  EXPECT_EQ(d.cadence.source, datatools::CadenceSource::kConfiguration);
  EXPECT_DOUBLE_EQ(d.cadence.seconds, 10.0);
  const Record& torn = d.records[2];
  EXPECT_EQ(torn.index, 1u);
  EXPECT_EQ(torn.firstWord, 1000u);
  EXPECT_TRUE(torn.flags & datatools::kAppended);
  EXPECT_TRUE(torn.flags & datatools::kTornTail);
  EXPECT_TRUE(d.records[1].flags & datatools::kSharedName);
  ASSERT_EQ(d.gaps.size(), 5u);
  EXPECT_EQ(d.gaps[0].kind, datatools::GapKind::kTooClose);  // the two records of one second
  EXPECT_EQ(d.gaps[1].kind, datatools::GapKind::kMissingWrites);
  EXPECT_EQ(d.gaps[1].missingWrites, 1);
  EXPECT_DOUBLE_EQ(d.gaps[1].silence, 19.0);
  EXPECT_EQ(d.gaps[2].missingWrites, 3);
  EXPECT_EQ(d.gaps[3].kind, datatools::GapKind::kRestart);
  EXPECT_EQ(d.gaps[4].kind, datatools::GapKind::kTooClose);
  EXPECT_EQ(d.runs.size(), 4u);
  EXPECT_TRUE(d.records[2].flags & datatools::kEarlierRunFile);
  EXPECT_EQ(d.tornFiles, 1u);
  EXPECT_EQ(d.sharedFiles, 1u);

  // Three writes a run, every 2 s: a run that lost its second write, then a
  // new run 10 s after its third (five cadences, but a run makes no more).
  DeploymentSettings perRun = Settings("UTC0", 1000, 1000, 2);
  perRun.filesPerRun = 3;
  datatools::BuildDeployment(Writes(perRun.zone, {t0, t0 + 4, t0 + 14, t0 + 16, t0 + 18}, 4000),
                             perRun, &d);
  ASSERT_EQ(d.gaps.size(), 2u);
  EXPECT_EQ(d.gaps[0].kind, datatools::GapKind::kMissingWrites);
  EXPECT_EQ(d.gaps[0].missingWrites, 1);
  EXPECT_EQ(d.gaps[1].kind, datatools::GapKind::kRestart);
  ASSERT_EQ(d.runs.size(), 2u);
  EXPECT_EQ(d.runs[1].first, 2u);
  EXPECT_FALSE(d.runs[0].stoppedEarly);
}

TEST(Deployment, MeasuresTheCadenceWithoutAConfiguration) {
  DeploymentSettings s = Settings("UTC0", 1000, 0, 0);
  std::vector<int64_t> utc;
  for (int k = 0; k < 20; ++k)
    utc.push_back(1790000000 + static_cast<int64_t>(std::floor(k * 2.5)));
  Deployment d;
  datatools::BuildDeployment(Writes(s.zone, utc, 400), s, &d);
  EXPECT_EQ(d.cadence.source, datatools::CadenceSource::kMeasured);
  EXPECT_NEAR(d.cadence.seconds, 2.5, 0.05);
  EXPECT_TRUE(d.gaps.empty());
}

TEST(Deployment, ALoneRepeatedHourNameIsReportedWithBothCandidates) {
  const DeploymentSettings s = Settings("CET-1CEST,M3.5.0,M10.5.0/3", 1000, 1000, 10);
  ScopedTz tz("CET-1CEST,M3.5.0,M10.5.0/3");
  const int64_t change = LibraryChange(2026, 10);
  Deployment d;
  datatools::BuildDeployment(Writes(s.zone, {change - 1800}, 4000), s, &d);
  ASSERT_EQ(d.records.size(), 1u);
  EXPECT_EQ(d.records[0].source, TimeSource::kAmbiguous);
  ASSERT_EQ(d.records[0].candidates.size(), 2u);
  EXPECT_EQ(d.records[0].candidates[0].utc, change - 1800);
  EXPECT_EQ(d.records[0].candidates[1].utc, change + 1800);
  EXPECT_EQ(d.records[0].candidates[0].offsetMinutes, 120);
  EXPECT_EQ(d.records[0].candidates[1].offsetMinutes, 60);
  // A name in the skipped hour has no time.
  const int64_t forward = LibraryChange(2026, 3);
  LocalTimeFields skipped = s.zone.LocalAt(forward - 1);  // 01:59:59, then 03:00:00
  skipped.hour = 2;
  skipped.minute = 30;
  datatools::BuildDeployment({NamedSize{datatools::DataFileName::Of(skipped).Name(), 4000}}, s, &d);
  ASSERT_EQ(d.records.size(), 1u);
  EXPECT_EQ(d.records[0].source, TimeSource::kNone);
  EXPECT_TRUE(d.records[0].flags & datatools::kSkippedHour);
}

TEST(Deployment, SettingsRefuseAFlagThatContradictsTheConfiguration) {
  testsupport::ScratchDir scratch;
  scratch.WriteFile(
      "config.txt",
      "Sample rate:1000\nNumber of samples per record:500\nNumber of records per Flash "
      "Disk file:4\nNumber of Flash Disk files per USB write:9\n");
  datatools::DeploymentFlags flags;
  flags.configPath = scratch.path() + "/config.txt";
  flags.timeZone = "UTC0";
  DeploymentSettings s;
  std::string error;
  ASSERT_TRUE(datatools::ResolveSettings(flags, &s, &error)) << error;
  EXPECT_EQ(s.rate, 1000u);
  EXPECT_EQ(s.samplesPerRecord, 500u);
  EXPECT_EQ(s.recordsPerFile, 4);
  EXPECT_EQ(s.filesPerRun, 9);
  flags.rate = 1000;  // agrees
  EXPECT_TRUE(datatools::ResolveSettings(flags, &s, &error)) << error;
  flags.rate = 2000;
  EXPECT_FALSE(datatools::ResolveSettings(flags, &s, &error));
  EXPECT_NE(error.find("\"Sample rate\" 1000"), std::string::npos) << error;
  flags.rate.reset();
  flags.samplesPerRecord = 501;
  EXPECT_FALSE(datatools::ResolveSettings(flags, &s, &error));
  flags.samplesPerRecord.reset();
  flags.timeZone = "CET-1CEST,J60,J300";
  EXPECT_FALSE(datatools::ResolveSettings(flags, &s, &error));
  EXPECT_EQ(error.rfind("bad --time-zone: ", 0), 0u) << error;
}

// Seconds since 1970 of "2026-10-20T12:00:10.050Z".
double SecondsOf(const std::string& text) {
  struct tm t = {};
  const char* rest = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &t);
  EXPECT_NE(rest, nullptr) << text;
  return static_cast<double>(timegm(&t)) +
         (rest != nullptr && *rest == '.' ? std::atof(rest) : 0.0);
}

// ---- Simulated deployments --------------------------------------------------

struct Scenario {
  const char* what;
  std::vector<int64_t> starts;  // UTC second of each run, into one folder
  int samplesPerRecord;         // at 1000 Hz
  int recordsPerFile;
  int files;  // per run
};

struct Row {
  std::string file, writeUtc, startUtc, local, offset, timeFrom, candidates, flags, boardWriteUtc;
  unsigned record = 0;
};

// The timeline as Python's csv module reads it (RFC 4180): every row must
// have the header's width; the fields come back one to a tab-separated line.
std::vector<Row> ParseCsv(const std::string& path, const std::string& scratch) {
  const Outcome py = toolprocess::Run(
      "python3 -c 'import csv, sys\n"
      "rows = list(csv.reader(open(sys.argv[1], newline=\"\")))\n"
      "bad = [r for r in rows if len(r) != len(rows[0])]\n"
      "assert not bad and len(rows[0]) == 12, bad[:3]\n"
      "for r in rows[1:]: print(\"\\t\".join(r))' " +
          Quote(path),
      scratch);
  EXPECT_EQ(py.status, 0) << py.err;
  std::vector<Row> rows;
  std::istringstream in(py.out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream s(line);
    std::string cell;
    while (std::getline(s, cell, '\t')) f.push_back(cell);
    f.resize(12);
    Row r;
    r.file = f[0].substr(f[0].rfind('/') + 1);
    r.record = static_cast<unsigned>(std::stoul(f[1]));
    r.writeUtc = f[2];
    r.startUtc = f[3];
    r.local = f[4];
    r.offset = f[5];
    r.timeFrom = f[7];
    r.candidates = f[8];
    r.flags = f[9];
    r.boardWriteUtc = f[10];
    rows.push_back(r);
  }
  return rows;
}

// What the run reports of each write: the board's clock and the true UTC.
struct TrueWrite {
  double board = 0, utc = 0;
};
using RecordKey = std::pair<std::string, unsigned>;  // data file name, record from 0
using Truth = std::map<RecordKey, TrueWrite>;

// A time as the tools write it, "2026-10-25T00:59:40.990Z", with its local
// offset, "2026-10-25T02:59:40+02:00", or basic, "20261025T005940Z": seconds
// since 1970 UTC, the text's resolution and the offset in seconds east.
bool Instant(const std::string& text, double* utc, double* resolution, long* offset) {
  static const std::regex form(
      "(\\d{4})-?(\\d\\d)-?(\\d\\d)T(\\d\\d):?(\\d\\d):?(\\d\\d)(\\.\\d+)?(Z|([+-])(\\d\\d):("
      "\\d\\d))");
  std::smatch m;
  if (!std::regex_match(text, m, form)) return false;
  struct tm tm {};
  tm.tm_year = std::stoi(m[1]) - 1900;
  tm.tm_mon = std::stoi(m[2]) - 1;
  tm.tm_mday = std::stoi(m[3]);
  tm.tm_hour = std::stoi(m[4]);
  tm.tm_min = std::stoi(m[5]);
  tm.tm_sec = std::stoi(m[6]);
  *offset =
      m[9].matched ? (m[9] == "-" ? -1 : 1) * (std::stol(m[10]) * 3600 + std::stol(m[11]) * 60) : 0;
  *utc = static_cast<double>(timegm(&tm)) + (m[7].matched ? std::stod(m[7]) : 0.0) -
         static_cast<double>(*offset);
  *resolution = m[7].matched ? std::pow(10.0, 1 - static_cast<double>(m[7].length())) : 1.0;
  return true;
}

// A stated time is true when it lies before the truth by less than the
// names' second plus its text's resolution (a name is the second a write fell
// in, a text is cut to its digits), and after it by no more than the error of
// the clock checks' interpolation. A stated offset is the one the C library's
// localtime_r gives under the zone (TZ) at that instant.
constexpr double kInterpolationError = 0.01;

bool IsTrue(double stated, double resolution, double truth) {
  const double early = truth - stated;
  return early > -kInterpolationError && early < 1 + resolution + kInterpolationError;
}

void ExpectInstant(const std::string& what, double stated, double resolution, double truth) {
  EXPECT_TRUE(IsTrue(stated, resolution, truth))
      << what << " states " << datatools::UtcText(stated, 6) << ", true "
      << datatools::UtcText(truth, 3);
}

void ExpectTrue(const std::string& what, const std::string& text, double truth) {
  double t = 0, resolution = 0;
  long offset = 0;
  if (!Instant(text, &t, &resolution, &offset)) {
    ADD_FAILURE() << what << ": no time in '" << text << "'";
    return;
  }
  ExpectInstant(what + " '" + text + "'", t, resolution, truth);
  long zone = 0;
  LibraryName(static_cast<int64_t>(std::floor(t)), &zone);
  if (text.back() != 'Z') {
    EXPECT_EQ(offset, zone) << what << " '" << text << "'";
  }
}

// The board's local clock at board second `t` with its offset, by the C library.
std::string LibraryLocal(int64_t t) {
  const time_t tt = static_cast<time_t>(t);
  struct tm tm;
  localtime_r(&tt, &tm);
  char text[48];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  return text + datatools::OffsetText(static_cast<int32_t>(tm.tm_gmtoff / 60));
}

// Checks the times stated in outputs of pelmok-data against the run's truth.
class StatedTimes {
 public:
  StatedTimes(const std::string& scratch, const Truth& truth, double recordSeconds)
      : scratch_(scratch), truth_(truth), length_(recordSeconds) {}

  // Every output, for the data folder and for one of its files given alone.
  void ExpectAllTrue(const std::string& data, const std::string& alone) {
    for (const std::string& name : {std::string(), alone}) {
      const std::string input = name.empty() ? data : data + "/" + name,
                        tag = name.empty() ? "folder" : name;
      SCOPED_TRACE(tag);
      std::set<RecordKey> records;
      for (const auto& [key, w] : truth_)
        if (name.empty() || key.first == name) records.insert(key);
      Info(input, records);
      for (const char* format : {"wav", "flac"}) Export(input, tag, format, records);
      Plot(input, tag, records);
      Report(input, tag, records);
    }
  }

 private:
  double Start(const RecordKey& k) const { return truth_.at(k).utc - length_; }
  double Write(const RecordKey& k) const { return truth_.at(k).utc; }
  std::string BoardLocal(const RecordKey& k) const {
    return LibraryLocal(static_cast<int64_t>(std::floor(truth_.at(k).board)));
  }
  // From the earliest true start to the latest true write of `records`.
  double FirstStart(const std::set<RecordKey>& records) const {
    double first = HUGE_VAL;
    for (const RecordKey& k : records) first = std::min(first, Start(k));
    return first;
  }
  void ExpectSpan(const std::string& what, const std::string& from, const std::string& to,
                  const std::set<RecordKey>& records) const {
    double last = -HUGE_VAL;
    for (const RecordKey& k : records) last = std::max(last, Write(k));
    ExpectTrue(what + " from", from, FirstStart(records));
    ExpectTrue(what + " to", to, last);
  }
  static RecordKey Key(const std::string& file, const std::string& record) {
    return {file, static_cast<unsigned>(std::stoul(record))};
  }
  Outcome Data(const std::string& command) const {
    const Outcome o = toolprocess::Run(Quote(PELMOK_DATA_PATH) + " " + command, scratch_);
    EXPECT_EQ(o.status, 0) << command << ": " << o.err;
    return o;
  }

  // info's timeline (a folder) or its writes (a file alone), and the span.
  void Info(const std::string& input, const std::set<RecordKey>& records) const {
    const std::string out = Data("info " + Quote(input)).out;
    static const std::regex row(
        "\n  (\\S+Z) (\\d\\d:\\d\\d:\\d\\d) ([+-]\\d\\d:\\d\\d)  ([0-9-]+) +#(\\d+)/"),
        write("\n  write +(\\S+), ([0-9-]+)#(\\d+):"), span("\n  span +(\\S+) to (\\S+),");
    std::set<RecordKey> seen;
    for (auto m = std::sregex_iterator(out.begin(), out.end(), row); m != std::sregex_iterator();
         ++m) {
      const RecordKey k = Key((*m)[4], (*m)[5]);
      ExpectTrue("info's write", (*m)[1], Write(k));
      EXPECT_EQ(BoardLocal(k).substr(11), (*m)[2].str() + (*m)[3].str()) << "info's local clock";
      seen.insert(k);
    }
    for (auto m = std::sregex_iterator(out.begin(), out.end(), write); m != std::sregex_iterator();
         ++m) {
      const RecordKey k = Key((*m)[2], (*m)[3]);
      ExpectTrue("info's write", (*m)[1], Write(k));
      seen.insert(k);
    }
    EXPECT_EQ(seen, records) << out;
    std::smatch m;
    if (std::regex_search(out, m, span)) ExpectSpan("info's span", m[1], m[2], records);
  }

  // GUANO or Vorbis comment fields (FLAC adds DATE and TITLE), as read back.
  void Fields(const std::string& what, const RecordKey& k,
              const std::map<std::string, std::string>& fields) const {
    const auto field = [&](const std::string& key) {
      const auto it = fields.find(key);
      EXPECT_NE(it, fields.end()) << what << " lacks " << key;
      return it == fields.end() ? std::string() : it->second;
    };
    ExpectTrue(what + " Timestamp", field("Timestamp"), Start(k));
    ExpectTrue(what + " Pelmok|Start UTC", field("Pelmok|Start UTC"), Start(k));
    ExpectTrue(what + " Pelmok|Write UTC", field("Pelmok|Write UTC"), Write(k));
    EXPECT_EQ(field("Pelmok|Board Write UTC"),
              Iso(static_cast<int64_t>(std::floor(truth_.at(k).board))))
        << what;
    std::smatch m;
    const std::string note = field("Note");
    EXPECT_TRUE(std::regex_search(note, m, std::regex("starts (\\S+) \\(local (\\S+)\\)"))) << note;
    ExpectTrue(what + " Note", m[1], Start(k));
    ExpectTrue(what + " Note's local", m[2], Start(k));
    if (fields.count("DATE")) ExpectTrue(what + " DATE", field("DATE"), Start(k));
    if (fields.count("TITLE")) ExpectTrue(what + " TITLE", field("TITLE"), Start(k));
  }

  // A FLAC file's Vorbis comments as metaflac reads them.
  std::map<std::string, std::string> FlacTags(const std::string& path) const {
    const Outcome meta = toolprocess::Run("metaflac --export-tags-to=- " + Quote(path), scratch_);
    EXPECT_EQ(meta.status, 0) << meta.err;
    std::map<std::string, std::string> tags;
    std::istringstream lines(meta.out);
    std::string line;
    while (std::getline(lines, line))
      if (line.find('=') != std::string::npos)
        tags[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    return tags;
  }

  // One file per record into a folder: the names, and what each file says.
  void Export(const std::string& input, const std::string& tag, const std::string& format,
              const std::set<RecordKey>& records) const {
    const std::string folder = scratch_ + "/" + format + "-" + tag + "/";
    const std::string out =
        Data("export --format " + format + " -o " + Quote(folder) + " " + Quote(input)).out;
    static const std::regex written("(.*/([0-9TZ]+)(?:-\\d)?\\.(wav|flac))  ([0-9-]+)#(\\d+)\n");
    std::set<RecordKey> seen;
    for (auto m = std::sregex_iterator(out.begin(), out.end(), written);
         m != std::sregex_iterator(); ++m) {
      const RecordKey k = Key((*m)[4], (*m)[5]);
      const std::string what = format + " " + (*m)[2].str();
      seen.insert(k);
      ExpectTrue(what + "'s name", (*m)[2], Start(k));
      if (format == "flac") {
        Fields(what, k, FlacTags((*m)[1]));
        continue;
      }
      const std::vector<mediaformats::Chunk> chunks =
          mediaformats::RiffChunks(toolprocess::Slurp((*m)[1]));
      Fields(what, k, mediaformats::ReadGuano(mediaformats::FirstChunk(chunks, "guan")).fields);
      const mediaformats::Bext bext =
          mediaformats::ReadBext(mediaformats::FirstChunk(chunks, "bext"));
      ExpectTrue(what + " bext origination", bext.date + "T" + bext.time + "Z", Start(k));
      double midnight = 0, resolution = 0;
      long offset = 0;
      ASSERT_TRUE(Instant(bext.date + "T00:00:00Z", &midnight, &resolution, &offset)) << bext.date;
      ExpectInstant(what + " bext time reference",
                    midnight + static_cast<double>(bext.timeReference) / kRate, 1.0 / kRate,
                    Start(k));
    }
    EXPECT_EQ(seen, records) << out;
  }

  // The title the picture gives itself: a record's, or a deployment's span.
  void Plot(const std::string& input, const std::string& tag,
            const std::set<RecordKey>& records) const {
    const std::string png = scratch_ + "/" + tag + ".png";
    Data("plot -o " + Quote(png) + " " + Quote(input));
    const std::string title = mediaformats::PngTitle(toolprocess::Slurp(png));
    std::smatch m;
    if (std::regex_search(title, m,
                          std::regex("^([0-9-]+) record (\\d+)   starts (\\S+), written (\\S+)"))) {
      const RecordKey k = Key(m[1], m[2]);
      EXPECT_EQ(records, std::set<RecordKey>{k});
      ExpectTrue("plot's start", m[3], Start(k));
      ExpectTrue("plot's write", m[4], Write(k));
    } else if (std::regex_search(title, m, std::regex("^(\\d+) records, (\\S+) to (\\S+)   "))) {
      EXPECT_EQ(std::stoul(m[1]), records.size());
      ExpectSpan("plot", m[2], m[3], records);
    } else {
      ADD_FAILURE() << "plot's title: " << title;
    }
  }

  // The report's timeline: start, write, the board's local clock.
  void Report(const std::string& input, const std::string& tag,
              const std::set<RecordKey>& records) const {
    const std::string html = scratch_ + "/" + tag + ".html";
    Data("report -o " + Quote(html) + " " + Quote(input));
    const std::string page = toolprocess::Slurp(html);
    static const std::regex row(
        "<tr[^>]*><td>([^<]*)</td><td>([^<]*)</td><td>([^<]*)</td><td>([0-9-]+)#(\\d+)</td>");
    std::set<RecordKey> seen;
    for (auto m = std::sregex_iterator(page.begin(), page.end(), row); m != std::sregex_iterator();
         ++m) {
      const RecordKey k = Key((*m)[4], (*m)[5]);
      seen.insert(k);
      ExpectTrue("report's start", (*m)[1], Start(k));
      ExpectTrue("report's write", (*m)[2], Write(k));
      EXPECT_EQ((*m)[3], BoardLocal(k)) << "report's local clock";
    }
    EXPECT_EQ(seen, records);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(page, m, std::regex("<td>first start</td><td>([^<]*)</td>")));
    ExpectTrue("report's first start", m[1], FirstStart(records));
  }

  static constexpr int kRate = 1000;
  std::string scratch_;
  const Truth& truth_;
  double length_;
};

class SimulatedDeployment : public ::testing::Test {
 protected:
  static constexpr int kRate = 1000;
  // The board's clock runs fast; the runs' own clock checks correct it.
  static constexpr int kDriftPpm = 3000;

  // Runs pelmok-daq on the scenario into `scratch`/dev, its clock drifting,
  // and writes the deployment file with the runs' own clock checks. Returns
  // what the runs report of each write; each name must be the C library's
  // for the board's clock.
  static Truth Simulate(const Zone& z, const Scenario& sc, const testsupport::ScratchDir& scratch) {
    scratch.MakeDirs("dev/FlashFX Disk/Pelmok");
    const std::string config =
        "Sample rate:" + std::to_string(kRate) +
        "\r\nNumber of samples per record:" + std::to_string(sc.samplesPerRecord) +
        "\r\nNumber of records per Flash Disk file:" + std::to_string(sc.recordsPerFile) +
        "\r\nNumber of Flash Disk files per USB write:" + std::to_string(sc.files) +
        "\r\nSeconds to sleep between acquisitions:1\r\n";
    scratch.WriteFile("dev/FlashFX Disk/Pelmok/PelmokConfig.txt", config);
    Truth truth;
    std::map<std::string, unsigned> records;  // per name, written so far
    std::string checks;
    const std::regex write(
        "board clock (\\S+), true UTC (\\S+)  (?:wrote|appended to) \\S+ "
        "Disk/Pelmok/Data/([0-9-]+)[ ,]"),
        check("\\[\\[clock_check\\]\\].*\nboard = \"\\S+\"\nreference = \"\\S+\"\n");
    for (int64_t start : sc.starts) {
      const Outcome o = toolprocess::Run(
          std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) + " --device-root " +
              Quote(scratch.path() + "/dev") + " --signal counter --frame-rate " +
              std::to_string(kRate) + " --start-time " + Iso(start) + " --clock-drift " +
              std::to_string(kDriftPpm) + " --time-zone " + Quote(z.rule),
          scratch.path());
      EXPECT_EQ(o.status, 0) << o.out;
      for (auto m = std::sregex_iterator(o.out.begin(), o.out.end(), write);
           m != std::sregex_iterator(); ++m) {
        const TrueWrite w{SecondsOf((*m)[1]), SecondsOf((*m)[2])};
        EXPECT_EQ((*m)[3], LibraryName(static_cast<int64_t>(std::floor(w.board))));
        truth[{(*m)[3], records[(*m)[3]]++}] = w;
      }
      for (auto c = std::sregex_iterator(o.out.begin(), o.out.end(), check);
           c != std::sregex_iterator(); ++c)
        checks += c->str(0);
    }
    EXPECT_EQ(truth.size(), sc.starts.size() * static_cast<size_t>(sc.files));
    scratch.WriteFile("dev/deployment.toml",
                      "[board]\ntime_zone = \"" + std::string(z.rule) +
                          "\"\nconfiguration = \"FlashFX Disk/Pelmok/PelmokConfig.txt\"\n" +
                          checks);
    return truth;
  }

  // Reads the simulated folder back. Every record's UTC time must be the
  // true one, or ambiguous with the true one among its candidates; a file
  // alone must get the folder's times; and with none ambiguous, every time
  // every output states must be true. Returns the number of ambiguous records.
  size_t Check(const Zone& z, const Scenario& sc, size_t* shared = nullptr) {
    SCOPED_TRACE(std::string(z.rule) + ": " + sc.what + " from " + Iso(sc.starts.front()));
    ScopedTz tz(z.rule);
    testsupport::ScratchDir scratch;
    const Truth truth = Simulate(z, sc, scratch);
    const std::string data = scratch.path() + "/dev/Hard Disk/Pelmok/Data";
    const auto timeline = [&](const std::string& input) {
      const std::string csv = scratch.path() + "/" + input.substr(input.rfind('/') + 1) + ".csv";
      const Outcome o = toolprocess::Run(
          Quote(PELMOK_DATA_PATH) + " info --csv -o " + Quote(csv) + " " + Quote(input),
          scratch.path());
      EXPECT_EQ(o.status, 0) << o.err;
      return ParseCsv(csv, scratch.path());
    };
    const std::vector<Row> rows = timeline(data);
    EXPECT_EQ(rows.size(), truth.size());
    const double length = static_cast<double>(sc.samplesPerRecord) / kRate;
    size_t ambiguous = 0;
    for (const Row& r : rows) {
      const std::string what = "CSV " + r.file + "#" + std::to_string(r.record);
      auto it = truth.find({r.file, r.record});
      if (it == truth.end()) {
        ADD_FAILURE() << what << " was never written";
        continue;
      }
      if (r.timeFrom == "ambiguous") {
        ++ambiguous;
        std::istringstream candidates(r.candidates);
        std::string c;
        bool among = false;
        double t = 0, resolution = 0;
        long offset = 0;
        while (candidates >> c)
          among |= Instant(c, &t, &resolution, &offset) && IsTrue(t, resolution, it->second.utc);
        EXPECT_TRUE(among) << what << " candidates " << r.candidates;
        continue;
      }
      ExpectTrue(what + " write_utc", r.writeUtc, it->second.utc);
      ExpectTrue(what + " start_utc", r.startUtc, it->second.utc - length);
      const int64_t board = static_cast<int64_t>(std::floor(it->second.board));
      EXPECT_EQ(r.local + r.offset, LibraryLocal(board)) << what;
      EXPECT_EQ(r.boardWriteUtc, Iso(board)) << what;
    }
    // A file given alone is read within its folder: its records get the
    // times the folder gives them.
    const std::string alone = rows[rows.size() / 2].file;
    std::vector<std::string> fromFolder, fromAlone;
    for (const Row& r : rows)
      if (r.file == alone) fromFolder.push_back(r.writeUtc + r.candidates);
    for (const Row& r : timeline(data + "/" + alone))
      fromAlone.push_back(r.writeUtc + r.candidates);
    EXPECT_EQ(fromAlone, fromFolder) << alone;
    if (ambiguous == 0) StatedTimes(scratch.path(), truth, length).ExpectAllTrue(data, alone);
    if (shared)
      *shared = std::count_if(truth.begin(), truth.end(), [](const auto& write) {
        return write.first.second == 1;  // a file's second record
      });
    return ambiguous;
  }
};

TEST_F(SimulatedDeployment, EveryRecordInUtcAcrossChangesToAndFromSummerTimeInFourZones) {
  for (const Zone& z : kZones) {
    int64_t back, forward;
    {
      ScopedTz tz(z.rule);
      back = LibraryChange(z.year, z.backMonth);
      forward = LibraryChange(z.year, z.forwardMonth);
    }
    const int shift = z.shiftMinutes * 60;
    size_t shared = 0;
    // The issue's case: 12 writes 10 s apart from 30 s before the change.
    EXPECT_EQ(Check(z, {"back, 12 writes", {back - 30}, 1000, 10, 12}), 0u);
    // Two writes a second over the change: names shared within a second.
    EXPECT_EQ(Check(z, {"back, 0.5 s", {back - 25}, 500, 1, 100}, &shared), 0u);
    EXPECT_GT(shared, 40u);
    // A run in the first pass of the repeated hour and a restart in the
    // second that writes the same names: each file holds one record of each.
    EXPECT_EQ(
        Check(z,
              {"back, a restart in the second pass", {back - shift + 600, back + 600}, 1000, 10, 5},
              &shared),
        0u);
    EXPECT_EQ(shared, 5u);
    // Forward: no name is ambiguous, none falls in the skipped hour.
    EXPECT_EQ(Check(z, {"forward", {forward - 35}, 1000, 10, 7}), 0u);
  }
}

// Whole repeated hours at several cadences, the names made by the C library
// from true write instants (no simulation: hours of board time). No record
// gets a wrong time. The names tell the passes apart, every record resolved,
// unless writes of one pass share a second at a cadence within the tolerance
// of none (a file's records could then lie in either pass), or the shift is
// within the tolerance of a whole number of cadences without being one (the
// two passes' writes interleave, each keeping the cadence with the other's:
// Lord Howe's 30 minutes at 7 s).
TEST(Deployment, WholeRepeatedHoursResolveByTheCadence) {
  for (const Zone& z : kZones) {
    for (double cadence : {10.0, 7.0, 2.5, 0.75}) {
      SCOPED_TRACE(std::string(z.rule) + " every " + std::to_string(cadence) + " s");
      ScopedTz tz(z.rule);
      const int64_t back = LibraryChange(z.year, z.backMonth);
      const int shift = z.shiftMinutes * 60;
      const double start = static_cast<double>(back - shift - 100) + 0.3;
      std::map<std::string, uint64_t> sizes;
      std::map<std::pair<std::string, unsigned>, int64_t> byRecord;
      for (int k = 0; start + k * cadence < static_cast<double>(back + shift + 100); ++k) {
        const int64_t t = static_cast<int64_t>(std::floor(start + k * cadence));
        const std::string name = LibraryName(t);
        byRecord[{name, static_cast<unsigned>(sizes[name] / 4)}] = t;
        sizes[name] += 4;
      }
      std::vector<NamedSize> files;
      for (const auto& [name, bytes] : sizes) files.push_back(NamedSize{name, bytes});
      // Records of one sample at 4 Hz, as many per iteration as make the cadence.
      const DeploymentSettings s = Settings(z.rule, 4, 1, static_cast<int64_t>(cadence * 4));
      Deployment d;
      datatools::BuildDeployment(files, s, &d);
      EXPECT_DOUBLE_EQ(d.cadence.seconds, cadence);
      ASSERT_EQ(d.records.size(), byRecord.size());
      size_t wrong = 0, ambiguous = 0;
      for (const Record& r : d.records) {
        const int64_t t = byRecord.at({d.files[r.file].name, r.index});
        if (r.source == TimeSource::kAmbiguous) {
          ++ambiguous;
          const bool among = std::any_of(r.candidates.begin(), r.candidates.end(),
                                         [&](const datatools::Candidate& c) { return c.utc == t; });
          if (!among && ++wrong < 5)
            ADD_FAILURE() << d.files[r.file].name << "#" << r.index << " lacks " << Iso(t);
        } else if (r.writeUtc != t && ++wrong < 5) {
          ADD_FAILURE() << d.files[r.file].name << "#" << r.index << " at " << Iso(r.writeUtc)
                        << ", not " << Iso(t);
        }
      }
      EXPECT_EQ(wrong, 0u);
      const double tolerance = datatools::CadenceTolerance(cadence);
      const double off = std::fabs(shift - std::round(shift / cadence) * cadence);
      if (cadence > tolerance && (off == 0 || off > tolerance)) {
        EXPECT_EQ(ambiguous, 0u);
        EXPECT_EQ(d.gaps.size(), 0u);
      }
    }
  }
}

// Three runs of the default configuration (a write every 2 s, three per run)
// into one folder: one ending at the change back's first pass, one across the
// change, one starting 4 s after it. Whether the third run's writes and the
// second run's last lie in the first pass or the second, the split breaks
// the cadence twice (a restart either way): those names cannot be told and
// keep both candidates; none gets the wrong one.
TEST_F(SimulatedDeployment, RunsRestartedAroundTheChangeBackGetNoWrongTime) {
  const Zone& z = kZones[0];
  int64_t back;
  {
    ScopedTz tz(z.rule);
    back = LibraryChange(z.year, z.backMonth);
  }
  const int shift = z.shiftMinutes * 60;
  EXPECT_GT(Check(z, {"three runs around the change back",
                      {back - shift - 6, back - 4, back + 4},
                      1000,
                      2,
                      3}),
            0u);
}

// The board's clock 5,000 ppm fast over a ten-minute run (3 s gained), in a
// zone half an hour off the hour. The run's report gives each write's true
// UTC and the two clocks at its start and end; those, as clock checks in the
// deployment file beside the data, put every corrected write within 1 s of
// the truth (the names' second), while the board's own times are off by more,
// in the folder's timeline, in a file exported alone, and in the report.
TEST_F(SimulatedDeployment, ClockChecksFromTheRunCorrectADriftingClock) {
  testsupport::ScratchDir scratch;
  scratch.MakeDirs("dev/FlashFX Disk/Pelmok");
  scratch.WriteFile(
      "dev/FlashFX Disk/Pelmok/PelmokConfig.txt",
      "Sample rate:1000\r\nNumber of samples per record:10000\r\nNumber of records per Flash Disk "
      "file:1\r\nNumber of Flash Disk files per USB write:60\r\nSeconds to sleep between "
      "acquisitions:1\r\n");
  const std::string root = scratch.path() + "/dev", zone = kZones[1].rule;
  Outcome o = toolprocess::Run(
      std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) + " --device-root " +
          Quote(root) + " --signal counter --frame-rate 1000 --start-time " +
          "2026-10-20T12:00:00Z --clock-drift 5000 --time-zone " + Quote(zone),
      scratch.path());
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  std::map<std::string, double> truth;  // data file name -> true UTC of its write
  const std::regex write(
      "board clock \\S+, true UTC (\\S+)  wrote \\S+ Disk/Pelmok/Data/([0-9-]+) ");
  for (auto m = std::sregex_iterator(o.out.begin(), o.out.end(), write);
       m != std::sregex_iterator(); ++m)
    truth[(*m)[2]] = SecondsOf((*m)[1]);
  ASSERT_EQ(truth.size(), 60u) << o.out;
  std::string checks;
  const std::regex check("\\[\\[clock_check\\]\\].*\nboard = \"\\S+\"\nreference = \"\\S+\"\n");
  for (auto c = std::sregex_iterator(o.out.begin(), o.out.end(), check);
       c != std::sregex_iterator(); ++c)
    checks += c->str(0);
  ASSERT_FALSE(checks.empty()) << o.out;
  scratch.WriteFile("dev/deployment.toml",
                    "[board]\ntime_zone = \"" + zone +
                        "\"\nconfiguration = \"FlashFX Disk/Pelmok/PelmokConfig.txt\"\n" + checks);
  const std::string data = root + "/Hard Disk/Pelmok/Data";

  o = toolprocess::Run(Quote(PELMOK_DATA_PATH) + " info --csv -o " +
                           Quote(scratch.path() + "/t.csv") + " " + Quote(data),
                       scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<Row> rows = ParseCsv(scratch.path() + "/t.csv", scratch.path());
  ASSERT_EQ(rows.size(), 60u);
  double worstBoard = 0;
  for (const Row& r : rows) {
    const double t = truth.at(r.file);
    EXPECT_LT(std::fabs(SecondsOf(r.writeUtc) - t), 1.0) << r.file << " corrected " << r.writeUtc;
    worstBoard = std::max(worstBoard, std::fabs(SecondsOf(r.boardWriteUtc) - t));
  }
  EXPECT_GT(worstBoard, 2.0);

  // The last file alone, as a listening file: GUANO's write time corrected.
  const std::string last = std::prev(truth.end())->first;
  o = toolprocess::Run(Quote(PELMOK_DATA_PATH) + " export -o " +
                           Quote(scratch.path() + "/last.wav") + " " + Quote(data + "/" + last),
                       scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string wav = toolprocess::Slurp(scratch.path() + "/last.wav");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(wav, m, std::regex("Pelmok\\|Write UTC: (\\S+)\n"))) << last;
  EXPECT_LT(std::fabs(SecondsOf(m[1]) - truth.at(last)), 1.0) << m[1];
  ASSERT_TRUE(std::regex_search(wav, m, std::regex("Pelmok\\|Board Write UTC: (\\S+)\n")));
  EXPECT_GT(std::fabs(SecondsOf(m[1]) - truth.at(last)), 2.0) << m[1];
  EXPECT_NE(wav.find("Pelmok|Clock Drift: +5000.00 ppm"), std::string::npos);

  o = toolprocess::Run(Quote(PELMOK_DATA_PATH) + " report -o " + Quote(scratch.path() + "/r.html") +
                           " " + Quote(data),
                       scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(toolprocess::Slurp(scratch.path() + "/r.html").find("+5000.00 ppm"), std::string::npos);
}

// What is left of a tool's output once every pair of candidates ("A or B")
// is taken out must hold no UTC time and no offset.
void ExpectNoDefiniteUtc(const std::string& what, const std::string& text) {
  const std::string rest =
      std::regex_replace(text, std::regex("[0-9T:.-]+Z( or | )[0-9T:.-]+Z"), "<candidates>");
  std::smatch m;
  EXPECT_FALSE(std::regex_search(
      rest, m, std::regex("[0-9]{2}:[0-9]{2}(:[0-9]{2}(\\.[0-9]+)?)?(Z|[+-][0-9]{2}:[0-9]{2})")))
      << what << " states " << m.str(0) << " in:\n"
      << rest;
}

// Without any zone, info states local times only and says UTC is not known;
// --time-zone takes a zone name as TZ does. A file of the repeated hour copied
// alone into an empty folder has no siblings to tell its pass: no output
// gives it one UTC time, until --assume picks one.
TEST_F(SimulatedDeployment, WithoutAZoneOrAloneInTheRepeatedHourNoUtcTimeIsStated) {
  testsupport::ScratchDir scratch;
  const Zone& z = kZones[0];
  int64_t back;
  std::string name;  // the run's last file, in the second pass of the repeated hour
  {
    ScopedTz tz(z.rule);
    back = LibraryChange(z.year, z.backMonth);
    name = LibraryName(back + 30 + 6);
  }
  scratch.MakeDirs("alone");
  const std::string root = scratch.path() + "/dev", data = root + "/Hard Disk/Pelmok/Data";
  Outcome o = toolprocess::Run(std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) +
                                   " --device-root " + Quote(root) + " --start-time " +
                                   Iso(back + 30) + " --time-zone " + Quote(z.rule),
                               scratch.path());
  ASSERT_EQ(o.status, 0) << o.out;
  const std::string config =
      " --config " + Quote(root + "/FlashFX Disk/Pelmok/PelmokConfig.txt") + " ";
  const std::string pelmokData = "env -u TZ " + Quote(PELMOK_DATA_PATH);
  o = toolprocess::Run(pelmokData + " info" + config + Quote(data), scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("UTC not known"), std::string::npos) << o.out;
  ExpectNoDefiniteUtc("info without a zone", o.out);
  const auto csv = [&](const std::string& zone) {
    const Outcome c = toolprocess::Run(
        pelmokData + " info --csv --time-zone " + zone + config + Quote(data), scratch.path());
    EXPECT_EQ(c.status, 0) << c.err;
    return c.out;
  };
  EXPECT_EQ(csv("Europe/Berlin"), csv(Quote(z.rule)));

  ASSERT_EQ(
      std::system(
          ("cp " + Quote(data + "/" + name) + " " + Quote(scratch.path() + "/alone/")).c_str()),
      0);
  const std::string file = Quote(scratch.path() + "/alone/" + name),
                    zone = " --time-zone " + Quote(z.rule);
  o = toolprocess::Run(pelmokData + " info" + zone + config + file, scratch.path());
  EXPECT_EQ(o.status, 0) << o.err;
  ExpectNoDefiniteUtc("info", o.out);
  EXPECT_NE(o.out.find(Iso(back - 3600 + 36) + " or " + Iso(back + 36)), std::string::npos)
      << o.out;
  o = toolprocess::Run(pelmokData + " info --csv" + zone + config + file, scratch.path());
  ExpectNoDefiniteUtc("info --csv", o.out);
  o = toolprocess::Run(
      pelmokData + " export -o " + Quote(scratch.path() + "/out/") + zone + config + file,
      scratch.path());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("-ambiguous.wav"), std::string::npos) << o.out;
  for (const char* format : {"wav", "flac"}) {
    o = toolprocess::Run(pelmokData + " export -o " +
                             Quote(scratch.path() + "/one." + std::string(format)) + zone + config +
                             file,
                         scratch.path());
    EXPECT_EQ(o.status, 0) << o.err;
    ExpectNoDefiniteUtc(format, toolprocess::Slurp(scratch.path() + "/one." + std::string(format)));
  }
  o = toolprocess::Run(
      pelmokData + " report -o " + Quote(scratch.path() + "/r.html") + zone + config + file,
      scratch.path());
  EXPECT_EQ(o.status, 0) << o.err;
  ExpectNoDefiniteUtc("report", toolprocess::Slurp(scratch.path() + "/r.html"));
  o = toolprocess::Run(pelmokData + " info --csv --assume later" + zone + config + file,
                       scratch.path());
  EXPECT_NE(o.out.find("," + Iso(back + 36) + ","), std::string::npos) << o.out;

  // Clock checks at the two candidates that differ by a minute: each
  // candidate is corrected at its own board time, as stated and as --from
  // and --to select (only the later one's corrected second lies in the span).
  const int64_t first = back - 3600 + 36, second = back + 36;
  const auto millis = [](int64_t t) { return Iso(t).insert(19, ".000"); };
  scratch.WriteFile("alone/deployment.toml", "[board]\ntime_zone = \"" + std::string(z.rule) +
                                                 "\"\n[[clock_check]]\nboard = \"" + Iso(first) +
                                                 "\"\nreference = \"" + Iso(first) +
                                                 "\"\n[[clock_check]]\nboard = \"" + Iso(second) +
                                                 "\"\nreference = \"" + Iso(second - 60) + "\"\n");
  o = toolprocess::Run(pelmokData + " info --csv --from " + Iso(second - 61) + " --to " +
                           Iso(second - 60) + config + file,
                       scratch.path());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find(",ambiguous," + millis(first) + " " + millis(second - 60) + ","),
            std::string::npos)
      << o.out;
}

}  // namespace
