#include "tools/pelmok-daq/configuration_check.h"


#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <map>
#include <vector>

#include "acquisition/configuration.h"
#include "sim/regular_file.h"
#include "tools/common/device_configuration.h"

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

void Collect(const ConfigurationPiece* p, void* context) {
  Piece piece{p->number, p->text, p->key != nullptr, p->key ? p->key : "", p->keyIndex,
              p->value != nullptr, p->value ? p->value : "", p->stored};
  static_cast<std::vector<Piece>*>(context)->push_back(piece);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

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

// Warnings are held and printed in line order, file-wide ones first.
struct Report {
  FILE* out;
  int warnings = 0;
  std::vector<std::pair<int, std::string>> held;
  void Warn(int line, const std::string& text) {
    ++warnings;
    held.push_back({line, text});
  }
  void Print() {
    std::stable_sort(held.begin(), held.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [line, text] : held) {
      if (line > 0) {
        std::fprintf(out, "  line %d: %s\n", line, text.c_str());
      } else {
        std::fprintf(out, "  warning: %s\n", text.c_str());
      }
    }
    held.clear();
  }
};

std::string Count(uint64_t n) { return std::to_string(n); }

std::string Duration(double seconds) {
  char text[64];
  if (seconds < 120) {
    std::snprintf(text, sizeof text, "%.3f s", seconds);
  } else {
    const uint64_t s = static_cast<uint64_t>(seconds + 0.5);
    std::snprintf(text, sizeof text, "%.0f s (%" PRIu64 " h %02" PRIu64 " min %02" PRIu64 " s)", seconds,
                  s / 3600, s / 60 % 60, s % 60);
  }
  return text;
}

// One line as the engineer wrote it: its pieces as the board took them.
struct Line {
  int number;
  std::vector<const Piece*> pieces;
  std::string text;  // all pieces, line end included
};

void CheckLine(const Line& line, bool firstLine, bool bom, Report& report) {
  const int n = line.number;
  std::string text = WithoutLineEnd(line.text);
  if (firstLine && bom) text = text.substr(3);
  if (Trim(text).empty()) return;  // an empty line: skipped, as it says

  if (line.pieces.size() > 1) {
    std::string what;
    for (size_t i = 0; i < line.pieces.size(); ++i) {
      const Piece& p = *line.pieces[i];
      what += "; piece " + std::to_string(i + 1) + " " + Shown(WithoutLineEnd(p.text));
      if (p.keyIndex >= 0 && p.hasValue) {
        what += " sets \"" + std::string(KeyName(p.keyIndex)) + "\" to " + std::to_string(p.stored);
      } else {
        what += " is ignored";
      }
    }
    report.Warn(n, "longer than " + std::to_string(kLongestPiece) + " characters (" +
                       std::to_string(WithoutLineEnd(line.text).size()) + "): the board reads it in " +
                       std::to_string(line.pieces.size()) + " pieces" + what);
  }

  // What the line plainly says: the key before the first ':', the number after.
  const size_t start = text.find_first_not_of(':');
  const size_t colon = start == std::string::npos ? std::string::npos : text.find(':', start);
  const std::string boardKey = line.pieces.front()->key;
  const Piece& first = *line.pieces.front();
  std::string keyShown = WithoutLineEnd(boardKey);
  if (firstLine && bom) keyShown = keyShown.substr(std::min<size_t>(3, keyShown.size()));
  if (colon == std::string::npos) {
    std::string how;
    int near = NearKey(keyShown, &how);
    for (int i = 0; i < kFields; ++i)
      if (Trim(keyShown).compare(0, std::strlen(KeyName(i)), KeyName(i)) == 0) near = i;
    if (near >= 0)
      report.Warn(n, Shown(text) + " has no ':' after \"" + KeyName(near) + "\": ignored");
    else
      report.Warn(n, Shown(text) + " has no ':' and no known key: ignored");
    return;
  }
  if (first.keyIndex < 0) {
    if (firstLine && bom) {
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
    return;
  }

  // A known key. The value the board takes ends at the next ':'.
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
    const bool digits = taken.size() > sign && std::isdigit(static_cast<unsigned char>(taken[sign]));
    report.Warn(n, "\"" + std::string(key) + "\" value " + Shown(value) + " is read as " +
                       std::to_string(first.stored) +
                       (digits ? ": the board stops at the first character that is not a digit"
                               : ": it does not start with a decimal number"));
  } else if (number != first.stored) {
    report.Warn(n, "\"" + std::string(key) + "\" value " + Shown(value) +
                       " is beyond the 32-bit range: clamped to " + std::to_string(first.stored));
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

int CheckConfiguration(const std::string& deviceRoot, uint32_t frameRateHz, FILE* out) {
  const std::string path = datatools::ConfigurationFilePath(deviceRoot);
  // Only a regular file is read, as the board's own reader opens only those.
  std::string bytes, error;
  if (!sim::ReadRegularFile(path, &bytes, &error)) {
    std::fprintf(stderr, "pelmok-daq: cannot read the configuration file %s\n", error.c_str());
    return 2;
  }

  AcquisitionConfig config;
  std::vector<Piece> pieces;
  std::string console;
  datatools::ReadDeviceConfiguration(deviceRoot, &config, &console, Collect, &pieces);

  Report report{out, 0, {}};
  std::fprintf(out, "pelmok-daq --check: %s, as the board's reader takes it\n", path.c_str());

  // Pieces into the lines the engineer sees: a piece ends its line when it
  // holds the line end.
  std::vector<Line> lines;
  bool open = false;
  for (const Piece& p : pieces) {
    if (!open) lines.push_back(Line{static_cast<int>(lines.size()) + 1, {}, ""});
    lines.back().pieces.push_back(&p);
    lines.back().text += p.text;
    open = p.text.empty() || p.text.back() != '\n';
  }

  std::fprintf(out, "Lines the board reads differently from what they say:\n");
  const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  const bool utf16 = bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0 ||
                     bytes.find('\0') != std::string::npos;
  size_t loneCr = 0;
  for (size_t i = 0; i < bytes.size(); ++i)
    loneCr += bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
  if (utf16) {
    report.Warn(1, "the file is UTF-16 text: the board reads bytes, so no key can match; save it as "
                   "plain ASCII");
  } else {
    if (loneCr > 0)
      report.Warn(0, "the file has " + Count(loneCr) +
                         " lone carriage-return line ends: the board ends a line only at a newline, so "
                         "those lines run together (and are read in pieces of 79 characters)");
    for (size_t i = 0; i < lines.size(); ++i) CheckLine(lines[i], i == 0, bom, report);
  }

  // Keys set more than once: the last wins.
  std::map<int, std::vector<std::pair<int, int32_t>>> settings;  // key -> (line, value)
  for (const Line& line : lines)
    for (const Piece* p : line.pieces)
      if (p->keyIndex >= 0 && p->hasValue) settings[p->keyIndex].push_back({line.number, p->stored});
  for (const auto& [index, set] : settings) {
    if (set.size() < 2) continue;
    std::string where;
    for (const auto& [line, value] : set) where += (where.empty() ? "" : ", ") + std::to_string(line);
    report.Warn(set.back().first, "\"" + std::string(KeyName(index)) + "\" is set on lines " + where +
                                      ": the last wins, " + std::to_string(set.back().second));
  }
  if (report.warnings == 0) std::fprintf(out, "  none: every line is read as written\n");
  report.Print();

  const int32_t* fields[kFields] = {&config.sampleRate,     &config.samplesPerRecord,
                                    &config.hydrophoneCount, &config.recordsPerFile,
                                    &config.filesPerUsbWrite, &config.sleepSeconds};
  std::fprintf(out, "What the board will set:\n");
  for (int i = 0; i < kFields; ++i) {
    auto set = settings.find(i);
    if (set != settings.end()) {
      std::fprintf(out, "  %-42s %d (line %d)\n", KeyName(i), *fields[i], set->second.back().first);
    } else {
      std::fprintf(out, "  %-42s not set (0): %s%s\n", KeyName(i), kZeroMeaning[i],
                   kUsedByRun[i] ? " (warning)" : "");
      report.warnings += kUsedByRun[i];
    }
  }

  // The run, as the board makes it.
  const uint64_t iterations = config.filesPerUsbWrite > 0 ? config.filesPerUsbWrite : 0;
  const uint64_t recordsEach = config.recordsPerFile > 0 ? config.recordsPerFile : 0;
  const uint32_t words = static_cast<uint32_t>(config.samplesPerRecord);
  const bool allocates = words <= kMaxRecordWords;
  const bool writing = config.sleepSeconds > 0;
  const uint64_t perRecord = allocates ? words : 0;
  const uint64_t records = allocates ? iterations * recordsEach : 0;
  const uint64_t read = records * perRecord;
  const uint64_t writes = allocates && writing ? iterations : 0;
  const uint64_t kept = recordsEach > 0 ? writes * perRecord : 0;
  const double seconds = static_cast<double>(read) / frameRateHz;
  std::fprintf(out, "The run:\n");
  std::fprintf(out, "  file iterations   %" PRIu64 "\n", iterations);
  std::fprintf(out, "  records read      %" PRIu64 " of %" PRIu64 " samples, %" PRIu64 " samples\n", records,
               perRecord, read);
  std::fprintf(out, "  samples kept      %" PRIu64 " (the last record of each iteration), dropped %" PRIu64 "\n",
               kept, read - kept);
  std::fprintf(out, "  data files        %" PRIu64 ", %" PRIu64 " bytes in all%s\n", writes, writes * perRecord * 4,
               writes > 1 && recordsEach * perRecord < frameRateHz
                   ? " (writes less than a second apart share a file)"
                   : "");
  const uint64_t bufferBytes = static_cast<uint64_t>(words) * 4;
  std::fprintf(out, "  record buffer     %" PRIu64 " bytes, %.1f%% of the board's 64 MB\n",
               allocates ? bufferBytes : 0, allocates ? 100.0 * bufferBytes / kBoardMemory : 0.0);
  std::fprintf(out, "  run time          %s of reading at %u Hz (--frame-rate)\n", Duration(seconds).c_str(),
               frameRateHz);
  if (!allocates) {
    report.Warn(0, "\"Number of samples per record\" " + std::to_string(config.samplesPerRecord) +
                       " asks for more memory than there is: nothing is read or written");
  } else if (bufferBytes > kBoardMemory) {
    report.Warn(0, "the record buffer (" + Count(bufferBytes) + " bytes) is larger than the board's 64 MB");
  }
  if (writes > 0 && recordsEach == 0)
    report.Warn(0, "writing is on but no record is read: each file gets a record of zeros");
  report.Print();

  std::fprintf(out, "pelmok-daq --check: %d warning%s\n", report.warnings, report.warnings == 1 ? "" : "s");
  return report.warnings == 0 ? 0 : 1;
}

}  // namespace daq
