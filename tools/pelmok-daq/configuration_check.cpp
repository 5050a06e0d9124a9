#include "tools/pelmok-daq/configuration_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <vector>

#include "acquisition/configuration.h"
#include "hostlib/regular_file.h"
#include "tools/common/board_time.h"
#include "tools/common/device_configuration.h"
#include "tools/pelmok-daq/deployment_plan.h"
#include "tools/pelmok-daq/device_volumes.h"
#include "tools/pelmok-daq/predicted_writes.h"

namespace daq {
namespace {

constexpr int kFields = 6;
constexpr int kLongestPiece = 79;  // the reader's line buffer less its terminator
constexpr uint64_t kBoardMemory = 64ull << 20;
constexpr uint32_t kMaxRecordWords = 0x3FFFFFFF;  // beyond it the board's allocation fails

// What a 0 in each field (in field order) means for the run.
const char* const kZeroMeaning[kFields] = {
    "echoed only; the converter's frame rate sets the real rate",
    "records of no samples",
    "echoed only",
    "no reads",
    "no file iterations",
    "writing off",
};
// The fields the run uses: missing, they stop it doing anything.
const bool kUsedByRun[kFields] = {false, true, false, true, true, true};

struct Piece {
  int32_t number;
  std::string text;
  bool hasKey;
  std::string key;
  int32_t keyIndex;
  bool hasValue;
  std::string value;
  int32_t stored;
};

Piece Copy(const ConfigurationPiece* p) {
  return Piece{p->number,
               p->text,
               p->key != nullptr,
               p->key ? p->key : "",
               p->keyIndex,
               p->value != nullptr,
               p->value ? p->value : "",
               p->stored};
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Runs of white space as one space, none at the ends.
std::string Collapse(const std::string& s) {
  std::string out;
  for (char c : Trim(s)) {
    if (IsBlank(c)) {
      if (out.empty() || out.back() != ' ') out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string WithoutLineEnd(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// Printable form for a message: control bytes and non-ASCII as \xNN, a long
// text cut short.
std::string Shown(const std::string& s) {
  constexpr size_t kShown = 48;
  std::string out;
  for (unsigned char c : s.substr(0, kShown)) {
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\x%02X", c);
      out += hex;
    }
  }
  return "'" + out + (s.size() > kShown ? "'..." : "'");
}

const char* KeyName(int index) { return ConfigurationKey(index); }

// The known key a mistyped one stands for, and how it differs; -1 for none.
int NearKey(const std::string& key, std::string* how) {
  for (int i = 0; i < kFields; ++i) {
    const std::string known = KeyName(i);
    if (key == known) continue;
    if (key.size() > known.size() && key.compare(0, known.size(), known) == 0 &&
        Trim(key.substr(known.size())).empty()) {
      *how = "a space before the colon";
      return i;
    }
    if (Trim(key) == known) {
      *how = "space around the key";
      return i;
    }
    if (Collapse(key) == known) {
      *how = "spacing";
      return i;
    }
    if (Lower(Collapse(key)) == Lower(known)) {
      *how = "case";
      return i;
    }
  }
  for (int i = 0; i < kFields; ++i) {
    if (EditDistance(Lower(Collapse(key)), Lower(KeyName(i))) <= 2) {
      *how = "a small typo";
      return i;
    }
  }
  return -1;
}

// What the value text plainly says: a whole decimal number, signed, in range.
bool PlainNumber(const std::string& text, int64_t* number) {
  const std::string t = Trim(text);
  size_t i = t[0] == '+' || t[0] == '-' ? 1 : 0;
  if (t.empty() || i == t.size()) return false;
  for (size_t k = i; k < t.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(t[k]))) return false;
  if (t.size() - i > 12) {
    *number = t[0] == '-' ? INT64_MIN : INT64_MAX;
    return true;
  }
  *number = std::stoll(t);
  return true;
}

// Warnings are printed as they are found: file-wide ones first, then the
// lines in order as the file streams past. However large the file, only the
// first kShownWarnings are printed; the rest are counted.
constexpr int kShownWarnings = 1000;
struct Report {
  FILE* out;
  int warnings = 0;
  int hidden = 0;
  void Warn(int line, const std::string& text) {
    if (++warnings > kShownWarnings) {
      ++hidden;
    } else if (line > 0) {
      std::fprintf(out, "  line %d: %s\n", line, text.c_str());
    } else {
      std::fprintf(out, "  warning: %s\n", text.c_str());
    }
  }
  void Print() {
    if (hidden > 0) std::fprintf(out, "  (and %d more warnings, not shown)\n", hidden);
    hidden = 0;
  }
};

std::string Count(uint64_t n) { return std::to_string(n); }

std::string Duration(double seconds) {
  char text[64];
  if (seconds < 120) {
    std::snprintf(text, sizeof text, "%.3f s", seconds);
  } else {
    const uint64_t s = static_cast<uint64_t>(std::llround(seconds));
    std::snprintf(text, sizeof text, "%.0f s (%" PRIu64 " h %02" PRIu64 " min %02" PRIu64 " s)",
                  seconds, s / 3600, s / 60 % 60, s % 60);
  }
  return text;
}

// One line as the engineer wrote it: its pieces as the board took them, the
// first few kept whole; a line of any length is held in bounded memory.
constexpr size_t kListedPieces = 8;
constexpr size_t kLineText = size_t{64} * 1024;
struct Line {
  int number = 0;
  std::vector<Piece> pieces;  // the first kListedPieces
  size_t pieceCount = 0;
  std::string text;      // the pieces as the board sees them (each up to a NUL), line end included
  uint64_t length = 0;   // bytes on the line, its line end not counted
  long nulAt = -1;       // the first NUL byte's character position, from 1
  std::string afterNul;  // what the board skips from the NUL to the piece's end
};

// A line longer than the reader's buffer: the pieces it is read in, and what each sets.
void WarnLongLine(const Line& line, Report& report) {
  std::string what;
  for (size_t i = 0; i < line.pieces.size(); ++i) {
    const Piece& p = line.pieces[i];
    what += "; piece " + std::to_string(i + 1) + " " + Shown(WithoutLineEnd(p.text));
    if (p.keyIndex >= 0 && p.hasValue) {
      what += " sets \"" + std::string(KeyName(p.keyIndex)) + "\" to " + std::to_string(p.stored);
    } else {
      what += " is ignored";
    }
  }
  if (line.pieceCount > line.pieces.size())
    what += "; and " + std::to_string(line.pieceCount - line.pieces.size()) + " more pieces";
  report.Warn(line.number, "longer than " + std::to_string(kLongestPiece) + " characters (" +
                               std::to_string(line.length) + "): the board reads it in " +
                               std::to_string(line.pieceCount) + " pieces" + what);
}

void WarnNoColon(int n, const std::string& text, const std::string& keyShown, Report& report) {
  std::string how;
  int near = NearKey(keyShown, &how);
  for (int i = 0; i < kFields; ++i)
    if (Trim(keyShown).compare(0, std::strlen(KeyName(i)), KeyName(i)) == 0) near = i;
  if (near >= 0)
    report.Warn(n, Shown(text) + " has no ':' after \"" + KeyName(near) + "\": ignored");
  else
    report.Warn(n, Shown(text) + " has no ':' and no known key: ignored");
}

void WarnUnknownKey(int n, const std::string& keyShown, bool bomKey, Report& report) {
  if (bomKey) {
    for (int i = 0; i < kFields; ++i) {
      if (keyShown == KeyName(i)) {
        report.Warn(n, "the UTF-8 byte-order mark before \"" + std::string(KeyName(i)) +
                           "\" is part of the key to the board: ignored");
        return;
      }
    }
  }
  std::string how;
  const int near = NearKey(keyShown, &how);
  if (near >= 0) {
    report.Warn(n, "key " + Shown(keyShown) + " differs from \"" + KeyName(near) + "\" by " + how +
                       ": ignored, \"" + KeyName(near) + "\" not set here");
  } else {
    report.Warn(n, "key " + Shown(keyShown) + " is none the board knows: ignored");
  }
}

// A known key: the value the board takes ends at the next ':', against what
// the line plainly says after its first ':'.
void WarnValue(int n, const Piece& first, const std::string& text, size_t colon, Report& report) {
  const char* key = KeyName(first.keyIndex);
  if (!first.hasValue) {
    report.Warn(n, "\"" + std::string(key) + "\" has no value at the end of the file: not set");
    return;
  }
  std::string said = text.substr(colon + 1);
  said.erase(0, std::min(said.find_first_not_of(':'), said.size()));
  int64_t number = 0;
  const std::string value = Trim(said);
  if (value.empty()) {
    report.Warn(n, "\"" + std::string(key) + "\" has no value: read as 0");
  } else if (!PlainNumber(said, &number)) {
    const std::string taken = Trim(first.value);
    const size_t sign = !taken.empty() && (taken[0] == '+' || taken[0] == '-') ? 1 : 0;
    const bool digits =
        taken.size() > sign && std::isdigit(static_cast<unsigned char>(taken[sign]));
    report.Warn(n, "\"" + std::string(key) + "\" value " + Shown(value) + " is read as " +
                       std::to_string(first.stored) +
                       (digits ? ": the board stops at the first character that is not a digit"
                               : ": it does not start with a decimal number"));
  } else if (number != first.stored) {
    report.Warn(n, "\"" + std::string(key) + "\" value " + Shown(value) +
                       " is beyond the 32-bit range: clamped to " + std::to_string(first.stored));
  }
}

void CheckLine(const Line& line, bool firstLine, bool bom, Report& report) {
  const int n = line.number;
  if (line.nulAt > 0) {
    report.Warn(n, "a NUL byte at character " + std::to_string(line.nulAt) +
                       ": the board's reader ends its piece there and skips " +
                       Shown(line.afterNul) + " (a text file holds no NUL)");
  }
  std::string text = WithoutLineEnd(line.text);
  if (firstLine && bom) text = text.substr(std::min<size_t>(3, text.size()));
  if (Trim(text).empty()) return;  // an empty line: skipped, as it says
  if (line.pieceCount > 1) WarnLongLine(line, report);

  // What the line plainly says: the key before the first ':', the number after.
  const size_t start = text.find_first_not_of(':');
  const size_t colon = start == std::string::npos ? std::string::npos : text.find(':', start);
  const Piece& first = line.pieces.front();
  std::string keyShown = WithoutLineEnd(first.key);
  if (firstLine && bom) keyShown = keyShown.substr(std::min<size_t>(3, keyShown.size()));
  if (colon == std::string::npos) {
    WarnNoColon(n, text, keyShown, report);
  } else if (first.keyIndex < 0) {
    WarnUnknownKey(n, keyShown, firstLine && bom, report);
  } else {
    WarnValue(n, first, text, colon, report);
  }
}

}  // namespace

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

namespace {

// What a file holds throughout, from one pass over its bytes.
struct FileWide {
  bool bom = false;
  bool utf16 = false;
  uint64_t loneCr = 0;
};

FileWide ScanFile(FILE* file) {
  FileWide w;
  unsigned char head[4] = {1, 1, 1, 1};
  uint64_t at = 0;
  int previous = EOF;
  for (int c; (c = std::getc(file)) != EOF; ++at) {
    if (at < 4) head[at] = static_cast<unsigned char>(c);
    w.loneCr += previous == '\r' && c != '\n';
    previous = c;
  }
  w.loneCr += previous == '\r';
  w.bom = at >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
  // A byte-order mark, or ASCII text with a NUL after (or before) every
  // character: a lone NUL elsewhere is no UTF-16, and is named on its line.
  w.utf16 =
      (at >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) ||
      (at >= 4 && head[0] != 0 && head[1] == 0 && head[2] != 0 && head[3] == 0) ||
      (at >= 4 && head[0] == 0 && head[1] != 0 && head[2] == 0 && head[3] != 0);
  std::rewind(file);
  return w;
}

// Each key the board sets, with the lines that set it (the first few) and the last.
constexpr size_t kListedSettings = 10;
struct Setting {
  std::vector<int> lines;
  uint64_t times = 0;
  int lastLine = 0;
  int32_t lastValue = 0;
};

// Pairs each piece the board's reader takes with the same bytes read by the
// check's own stream of the file (so a NUL, which ends the board's copy, does
// not hide where the line ends), groups them into lines and checks each line
// as it completes.
struct Checker {
  FILE* raw;
  std::string* console;  // the board's echo of each value, not kept
  Report* report;
  FileWide wide;
  Line line;
  bool open = false;
  int lines = 0;
  std::map<int, Setting> settings;

  // The next piece as fgets with the board's buffer takes it.
  // Not const: it reads the stream on.
  // NOLINTNEXTLINE(readability-make-member-function-const)
  std::string RawPiece() {
    std::string piece;
    for (int c; piece.size() < static_cast<size_t>(kLongestPiece) && (c = std::getc(raw)) != EOF;) {
      piece.push_back(static_cast<char>(c));
      if (c == '\n') break;
    }
    return piece;
  }

  void Take(const ConfigurationPiece* p) {
    const std::string bytes = RawPiece();
    console->clear();
    if (!open) {
      line = Line();
      line.number = ++lines;
      open = true;
    }
    Piece piece = Copy(p);
    if (line.pieces.size() < kListedPieces) line.pieces.push_back(piece);
    ++line.pieceCount;
    if (line.text.size() < kLineText) line.text += piece.text;
    const size_t nul = bytes.find('\0');
    if (nul != std::string::npos && line.nulAt < 0) {
      line.nulAt = static_cast<long>(line.length + nul + 1);
      line.afterNul = WithoutLineEnd(bytes.substr(nul));
    }
    line.length += WithoutLineEnd(bytes).size();
    if (p->keyIndex >= 0 && p->value != nullptr) {
      Setting& set = settings[p->keyIndex];
      if (set.lines.size() < kListedSettings) set.lines.push_back(line.number);
      ++set.times;
      set.lastLine = line.number;
      set.lastValue = p->stored;
    }
    if (!bytes.empty() && bytes.back() == '\n') End();
  }
  void End() {
    if (!open) return;
    open = false;
    if (!wide.utf16) CheckLine(line, line.number == 1, wide.bom, *report);
  }
};

void TakePiece(const ConfigurationPiece* piece, void* checker) {
  static_cast<Checker*>(checker)->Take(piece);
}

}  // namespace

namespace {

// Opens the configuration file as the board's reader opens it: only a regular
// file; nullptr after one line on standard error.
FILE* OpenConfiguration(const std::string& path) {
  const int fd = hostlib::OpenRegularFile(path, O_RDONLY);
  FILE* raw = fd >= 0 ? fdopen(fd, "rb") : nullptr;
  if (raw == nullptr) {
    std::fprintf(stderr, "pelmok-daq: cannot read the configuration file %s: %s\n", path.c_str(),
                 hostlib::OpenErrorText(errno).c_str());
    if (fd >= 0) close(fd);
  }
  return raw;
}

// Keys set more than once: the last wins.
void WarnRepeatedKeys(const std::map<int, Setting>& settings, Report& report) {
  for (const auto& [index, set] : settings) {
    if (set.times < 2) continue;
    std::string where;
    for (int line : set.lines) where += (where.empty() ? "" : ", ") + std::to_string(line);
    if (set.times > set.lines.size())
      where += ", ... " + std::to_string(set.lastLine) + " (" + Count(set.times) + " times)";
    report.Warn(set.lastLine, "\"" + std::string(KeyName(index)) + "\" is set on lines " + where +
                                  ": the last wins, " + std::to_string(set.lastValue));
  }
}

void PrintSettings(const AcquisitionConfig& config, const std::map<int, Setting>& settings,
                   Report& report) {
  const int32_t* fields[kFields] = {&config.sampleRate,       &config.samplesPerRecord,
                                    &config.hydrophoneCount,  &config.recordsPerFile,
                                    &config.filesPerUsbWrite, &config.sleepSeconds};
  std::fprintf(report.out, "What the board will set:\n");
  for (int i = 0; i < kFields; ++i) {
    auto set = settings.find(i);
    if (set != settings.end()) {
      std::fprintf(report.out, "  %-42s %d (line %d)\n", KeyName(i), *fields[i],
                   set->second.lastLine);
    } else {
      std::fprintf(report.out, "  %-42s not set (0): %s%s\n", KeyName(i), kZeroMeaning[i],
                   kUsedByRun[i] ? " (warning)" : "");
      report.warnings += kUsedByRun[i];
    }
  }
}

// The run as the board makes it from the configuration.
struct RunFigures {
  uint64_t iterations, recordsEach, perRecord, writes;
  uint32_t words;
  bool allocates;
};

RunFigures FiguresOf(const AcquisitionConfig& config) {
  RunFigures f;
  f.iterations = config.filesPerUsbWrite > 0 ? config.filesPerUsbWrite : 0;
  f.recordsEach = config.recordsPerFile > 0 ? config.recordsPerFile : 0;
  f.words = static_cast<uint32_t>(config.samplesPerRecord);
  f.allocates = f.words <= kMaxRecordWords;
  f.perRecord = f.allocates ? f.words : 0;
  f.writes = f.allocates && config.sleepSeconds > 0 ? f.iterations : 0;
  return f;
}

void PrintRun(const RunFigures& run, FILE* out) {
  const uint64_t records = run.allocates ? run.iterations * run.recordsEach : 0;
  const uint64_t read = records * run.perRecord;
  const uint64_t kept = run.recordsEach > 0 ? run.writes * run.perRecord : 0;
  std::fprintf(out, "The run:\n");
  std::fprintf(out, "  file iterations   %" PRIu64 "\n", run.iterations);
  std::fprintf(out, "  records read      %" PRIu64 " of %" PRIu64 " samples, %" PRIu64 " samples\n",
               records, run.perRecord, read);
  std::fprintf(out,
               "  samples kept      %" PRIu64
               " (the last record of each iteration), dropped %" PRIu64 "\n",
               kept, read - kept);
}

// The files the writes make, and the clock changes inside the run.
void PrintFiles(const RunFigures& run, const std::vector<PredictedWrite>& writes,
                const datatools::Deployment& predicted, const RunClock& clock, FILE* out) {
  const uint64_t files = run.writes > writes.size() ? run.writes : FilesOf(writes);
  std::fprintf(out, "  data files        %" PRIu64 ", %" PRIu64 " bytes in all%s\n", files,
               run.writes * run.perRecord * 4,
               files < run.writes ? (" (" + Count(run.writes) +
                                     " writes: writes in one local second, or in the "
                                     "repeated hour of a change back, share a file)")
                                        .c_str()
                                  : "");
  for (const datatools::ClockChange& c : predicted.changes)
    std::fprintf(out, "  clock change      %s: %s to %s, inside the run (zone %s)\n",
                 datatools::UtcText(c.utc).c_str(), datatools::OffsetText(c.offsetBefore).c_str(),
                 datatools::OffsetText(c.offsetAfter).c_str(), clock.zone.Rule().c_str());
}

void WarnOfTheRun(const AcquisitionConfig& config, const RunFigures& run, uint32_t frameRateHz,
                  bool rateSet, Report& report) {
  const uint64_t bufferBytes = static_cast<uint64_t>(run.words) * 4;
  std::fprintf(report.out, "  record buffer     %" PRIu64 " bytes, %.1f%% of the board's 64 MB\n",
               run.allocates ? bufferBytes : 0,
               run.allocates ? 100.0 * bufferBytes / kBoardMemory : 0.0);
  const double seconds = static_cast<double>(run.iterations * run.recordsEach) *
                         static_cast<double>(run.perRecord) / frameRateHz;
  std::fprintf(
      report.out,
      "  frames' time      %s of frames at %u Hz (--frame-rate; the plan below has the run's)\n",
      Duration(seconds).c_str(), frameRateHz);
  if (!run.allocates) {
    report.Warn(0, "\"Number of samples per record\" " + std::to_string(config.samplesPerRecord) +
                       " asks for more memory than there is: nothing is read or written");
  } else if (bufferBytes > kBoardMemory) {
    report.Warn(
        0, "the record buffer (" + Count(bufferBytes) + " bytes) is larger than the board's 64 MB");
  }
  if (run.writes > 0 && run.recordsEach == 0)
    report.Warn(0, "writing is on but no record is read: each file gets a record of zeros");
  if (rateSet && config.sampleRate != static_cast<int32_t>(frameRateHz))
    report.Warn(0, "\"Sample rate\" " + std::to_string(config.sampleRate) +
                       " differs from the converter's " + std::to_string(frameRateHz) +
                       " Hz (--frame-rate): the samples are at " + std::to_string(frameRateHz) +
                       " Hz, and a tool that takes the rate from the file is wrong");
}

// The run's writes by the board's clock, as far as they are worked out. An
// iteration takes what the plan says (with reads that time out, not its
// frames' time).
std::vector<PredictedWrite> WritesOf(const AcquisitionConfig& config, const RunFigures& run,
                                     uint32_t frameRateHz, const RunClock& clock,
                                     const PlannedFaults& faults) {
  constexpr uint64_t kNamedWrites = 100000;
  const double iterationSeconds = run.iterations > 0
                                      ? PlanRunSeconds(config, frameRateHz, nullptr, faults) /
                                            static_cast<double>(run.iterations)
                                      : 0;
  // Past a stall the iterations take the reader's budgets, not their frames'
  // time: the first writes' times are worked out one by one.
  constexpr uint64_t kTimedWrites = 1000;
  std::vector<double> writeSeconds;
  for (uint64_t k = 0; faults.stallFrames >= 0 && k < std::min(run.writes, kTimedWrites); ++k) {
    PlannedFaults toWrite = faults;
    toWrite.powerLossWrite = k + 1;  // the run as far as this write
    writeSeconds.push_back(PlanRunSeconds(config, frameRateHz, nullptr, toWrite));
  }
  return PredictWrites(run.writes, iterationSeconds, clock, kNamedWrites, writeSeconds);
}

int Verdict(int errors, Report& report) {
  std::fprintf(report.out, "pelmok-daq --check: %d warning%s", report.warnings,
               report.warnings == 1 ? "" : "s");
  if (errors > 0) std::fprintf(report.out, ", %d error%s", errors, errors == 1 ? "" : "s");
  std::fprintf(report.out, "\n");
  return errors > 0 ? 2 : report.warnings == 0 ? 0 : 1;
}

}  // namespace

int CheckConfiguration(const std::string& deviceRoot, uint32_t givenRateHz, FILE* out,
                       const RunClock& givenClock, const CheckDevice& device) {
  // The converter's rate and the board's clock as the faults make them.
  const uint32_t frameRateHz = ConverterRateHz(givenRateHz, device.faults);
  RunClock clock = givenClock;
  for (const Fault& f : device.faults)
    if (f.kind == FaultKind::kRtcReset)
      clock = RunClock{kRtcEpoch, clock.zone, true, clock.driftPpm};
  const PlannedFaults faults = PlannedFaultsOf(device.faults);
  const std::string path = DevicePathOn(deviceRoot, "\\FlashFX Disk\\Pelmok\\PelmokConfig.txt");
  // Only a regular file is read, as the board's own reader opens only those;
  // it is streamed, never held whole.
  FILE* raw = OpenConfiguration(path);
  if (raw == nullptr) return 2;
  Report report{out, 0, 0};
  std::fprintf(out, "pelmok-daq --check: %s, as the board's reader takes it\n", path.c_str());
  std::fprintf(out, "Lines the board reads differently from what they say:\n");
  AcquisitionConfig config;
  std::string console;
  Checker checker{raw, &console, &report, ScanFile(raw), Line(), false, 0, {}};
  if (checker.wide.utf16) {
    report.Warn(1,
                "the file is UTF-16 text: the board reads bytes, so no key can match; save it as "
                "plain ASCII");
  } else if (checker.wide.loneCr > 0) {
    report.Warn(0,
                "the file has " + Count(checker.wide.loneCr) +
                    " lone carriage-return line ends: the board ends a line only at a newline, so "
                    "those lines run together (and are read in pieces of 79 characters)");
  }
  datatools::ReadDeviceConfiguration(deviceRoot, &config, &console, TakePiece, &checker);
  checker.End();
  const bool readToTheEnd = !std::ferror(raw);
  std::fclose(raw);
  if (!readToTheEnd) {
    std::fprintf(stderr, "pelmok-daq: cannot read the configuration file %s: a read failed\n",
                 path.c_str());
    return 2;
  }
  WarnRepeatedKeys(checker.settings, report);
  if (report.warnings == 0) std::fprintf(out, "  none: every line is read as written\n");
  report.Print();
  PrintSettings(config, checker.settings, report);

  const RunFigures run = FiguresOf(config);
  PrintRun(run, out);
  const std::vector<PredictedWrite> writes = WritesOf(config, run, frameRateHz, clock, faults);
  const datatools::Deployment predicted =
      PredictDeployment(writes, config, frameRateHz, clock.zone);
  PrintFiles(run, writes, predicted, clock, out);
  WarnOfTheRun(config, run, frameRateHz, checker.settings.count(0) > 0, report);

  std::fprintf(out, "The device:\n");
  const std::string dataDir = DevicePathOn(deviceRoot, "\\Hard Disk\\Pelmok\\Data");
  // The names mean something only on the board's clock as given.
  if (clock.given)
    for (const std::string& finding : NameFindings(writes, predicted, dataDir))
      report.Warn(0, finding);
  report.Print();

  // The run, write by write, on this device.
  std::vector<std::pair<std::string, int64_t>> names;
  names.reserve(writes.size());
  for (const PredictedWrite& w : writes) names.emplace_back(w.name, w.utc);
  const Plan plan = PlanDeployment(PlanInput{config, frameRateHz, dataDir, device.bare,
                                             device.volumeSize, names, FilesOf(writes), faults},
                                   out);
  for (const std::string& warning : plan.warnings) report.Warn(0, warning);
  for (const std::string& error : plan.errors) std::fprintf(out, "  error: %s\n", error.c_str());
  report.Print();
  return Verdict(static_cast<int>(plan.errors.size()), report);
}

}  // namespace daq
