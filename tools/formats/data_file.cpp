#include "tools/formats/data_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "sim/regular_file.h"

namespace datatools {
namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::string Format(const char* format, int a, int b, int c) {
  char text[32];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

int64_t FileTime::LocalSeconds() const {
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string FileTime::Date() const { return Format("%04d-%02d-%02d", year, month, day); }
std::string FileTime::Clock() const { return Format("%02d:%02d:%02d", hour, minute, second); }
std::string FileTime::Text() const { return Date() + " " + Clock(); }

bool ParseFileName(const std::string& name, FileTime* time) {
  long fields[5];
  const char* p = name.c_str();
  for (int i = 0; i < 5; ++i) {
    // Plain digits only: the board writes no sign, no padding, no extension.
    if (*p < '0' || *p > '9') return false;
    char* end = nullptr;
    errno = 0;
    fields[i] = std::strtol(p, &end, 10);
    if (errno != 0 || fields[i] > 100000) return false;
    p = end;
    if (i < 4) {
      if (*p != '-') return false;
      ++p;
    }
  }
  if (*p != '\0') return false;
  FileTime t;
  t.year = static_cast<int>(fields[0]) + 1900;
  t.dayOfYear = static_cast<int>(fields[1]);
  t.hour = static_cast<int>(fields[2]);
  t.minute = static_cast<int>(fields[3]);
  t.second = static_cast<int>(fields[4]);
  // Second 60 is a leap second, which a C library may report.
  if (t.dayOfYear > (IsLeap(t.year) ? 365 : 364) || t.hour > 23 || t.minute > 59 || t.second > 60)
    return false;
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int rest = t.dayOfYear;
  t.month = 1;
  for (int m = 0; m < 12; ++m) {
    const int days = kMonthDays[m] + (m == 1 && IsLeap(t.year));
    if (rest < days) break;
    rest -= days;
    ++t.month;
  }
  t.day = rest + 1;
  *time = t;
  return true;
}

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool WordReader::Open(const std::string& path, std::string* error) {
  const int fd = sim::OpenRegularFile(path, O_RDONLY);
  if (fd < 0) {
    *error = path + ": " + sim::OpenErrorText(errno);
    return false;
  }
  file_ = fdopen(fd, "rb");
  if (file_ == nullptr) {
    *error = path + ": " + std::strerror(errno);
    close(fd);
    return false;
  }
  struct stat st;
  if (fstat(fileno(file_), &st) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  bytes_ = static_cast<uint64_t>(st.st_size);
  return true;
}

WordReader::~WordReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool WordReader::Read(uint64_t first, size_t max, std::vector<uint32_t>* words) {
  words->clear();
  if (first >= Words()) return true;
  const uint64_t n = std::min<uint64_t>(max, Words() - first);
  std::vector<uint8_t> bytes(n * 4);
  errno = 0;
  if (fseeko(file_, static_cast<off_t>(first * 4), SEEK_SET) != 0 || std::fread(bytes.data(), 4, n, file_) != n) {
    readError_ = errno;
    return false;
  }
  words->resize(n);
  // Little-endian on disk whatever the host.
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* b = &bytes[i * 4];
    (*words)[i] = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  }
  return true;
}

std::string WordReader::FailureText(const std::string& path, uint64_t expectedBytes) const {
  struct stat st;
  const uint64_t now = file_ != nullptr && fstat(fileno(file_), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  if (file_ != nullptr && (now != expectedBytes || now != bytes_))
    return path + ": changed size while it was read (" + std::to_string(expectedBytes) + " bytes, now " +
           std::to_string(now) + ")";
  return path + ": " + (readError_ != 0 ? std::strerror(readError_) : "read error");
}

void CodeStats::Add(uint32_t word) {
  const int32_t code = CodeOf(word);
  if (samples == 0 || code < minimum) minimum = code;
  if (samples == 0 || code > maximum) maximum = code;
  ++samples;
  sum += code;
  sumSquares += static_cast<double>(code) * code;
  positiveFullScale += code == kFullScaleCode;
  negativeFullScale += code == kNegativeFullScale;
  highBitWords += (word & 0xFF000000u) != 0;
  ++byteValues_[0][word & 0xFFu];
  ++byteValues_[1][(word >> 8) & 0xFFu];
  ++byteValues_[2][(word >> 16) & 0xFFu];
  if (word == 0) {
    ++currentZeroRun_;
  } else {
    EndZeroRun();
  }
}

void CodeStats::Finish() {
  EndZeroRun();
  for (int byte = 0; byte < 3; ++byte) {
    for (unsigned v = 0; v < 256; ++v) {
      const uint64_t n = byteValues_[byte][v];
      if (n == 0) continue;
      for (int b = 0; b < 8; ++b)
        if (v & (1u << b)) ones[8 * byte + b] += n;
      byteValues_[byte][v] = 0;
    }
  }
}

void CodeStats::EndZeroRun() {
  if (currentZeroRun_ >= kZeroRunMinimum) {
    ++zeroRuns;
    zeroRunSamples += currentZeroRun_;
    longestZeroRun = std::max(longestZeroRun, currentZeroRun_);
  }
  currentZeroRun_ = 0;
}

double CodeStats::Rms() const { return samples ? std::sqrt(sumSquares / samples) : 0; }

double CodeStats::RmsDbfs() const { return 20 * std::log10(Rms() / kFullScaleCode); }

double CodeStats::PeakDbfs() const {
  const double peak = std::max(std::fabs(static_cast<double>(minimum)), std::fabs(static_cast<double>(maximum)));
  return 20 * std::log10(peak / kFullScaleCode);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListDataFolder(const std::string& folder, std::vector<FolderEntry>* files, std::string* error) {
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) {
    *error = folder + ": " + std::strerror(errno);
    return false;
  }
  files->clear();
  while (dirent* e = readdir(d)) {
    FolderEntry entry;
    struct stat st;
    entry.path = folder + "/" + e->d_name;
    if (!ParseFileName(e->d_name, &entry.time) || stat(entry.path.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode))
      continue;
    entry.bytes = static_cast<uint64_t>(st.st_size);
    files->push_back(entry);
  }
  closedir(d);
  std::sort(files->begin(), files->end(), [](const FolderEntry& a, const FolderEntry& b) {
    return a.time.LocalSeconds() != b.time.LocalSeconds()
               ? a.time.LocalSeconds() < b.time.LocalSeconds()
               : a.path < b.path;
  });
  return true;
}

}  // namespace datatools
