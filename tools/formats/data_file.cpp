#include "tools/formats/data_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "hostlib/regular_file.h"

namespace datatools {

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool WordReader::Open(const std::string& path, std::string* error) {
  const int fd = hostlib::OpenRegularFile(path, O_RDONLY);
  if (fd < 0) {
    *error = path + ": " + hostlib::OpenErrorText(errno);
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
  // Straight into the caller's words, which keep their memory from block to
  // block: a buffer of bytes of its own was fresh pages at every block.
  words->resize(n);
  errno = 0;
  if (fseeko(file_, static_cast<off_t>(first * 4), SEEK_SET) != 0 ||
      std::fread(words->data(), 4, n, file_) != n) {
    readError_ = errno;
    words->clear();
    return false;
  }
  // Little-endian on disk whatever the host (on a little-endian host this
  // compiles to nothing).
  for (uint32_t& word : *words) {
    uint8_t b[4];
    std::memcpy(b, &word, 4);
    word = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  }
  return true;
}

std::string WordReader::FailureText(const std::string& path, uint64_t expectedBytes) const {
  struct stat st;
  const uint64_t now =
      file_ != nullptr && fstat(fileno(file_), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  if (file_ != nullptr && (now != expectedBytes || now != bytes_))
    return path + ": changed size while it was read (" + std::to_string(expectedBytes) +
           " bytes, now " + std::to_string(now) + ")";
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
  const double peak =
      std::max(std::fabs(static_cast<double>(minimum)), std::fabs(static_cast<double>(maximum)));
  return 20 * std::log10(peak / kFullScaleCode);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// Opens the entry as the readers will (regular files only, never blocking on
// a FIFO) to learn its size and identity; false with why it is no data file.
bool ProbeDataFile(FolderEntry* entry, std::string* reason) {
  const int fd = hostlib::OpenRegularFile(entry->path, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    const int error = errno;
    if (fd >= 0) close(fd);
    struct stat link;
    const bool isLink = lstat(entry->path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    *reason = (isLink ? "a symbolic link: " : "") + hostlib::OpenErrorText(error);
    return false;
  }
  close(fd);
  entry->bytes = static_cast<uint64_t>(st.st_size);
  entry->device = static_cast<uint64_t>(st.st_dev);
  entry->inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

}  // namespace

bool ListDataFolder(const std::string& folder, std::vector<FolderEntry>* files,
                    std::vector<SkippedEntry>* skipped, std::string* error) {
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) {
    *error = folder + ": " + std::strerror(errno);
    return false;
  }
  files->clear();
  while (dirent* e = readdir(d)) {
    if (!DataFileName::Shaped(e->d_name)) continue;
    FolderEntry entry;
    entry.path = folder + (folder.back() == '/' ? "" : "/") + e->d_name;
    std::string reason;
    if (!DataFileName::Parse(e->d_name, &entry.time)) {
      skipped->push_back({entry.path, "no time the board's clock gives"});
    } else if (!ProbeDataFile(&entry, &reason)) {
      skipped->push_back({entry.path, reason});
    } else {
      files->push_back(entry);
    }
  }
  closedir(d);
  std::sort(files->begin(), files->end(), [](const FolderEntry& a, const FolderEntry& b) {
    return a.time.LocalSeconds() != b.time.LocalSeconds()
               ? a.time.LocalSeconds() < b.time.LocalSeconds()
               : a.path < b.path;
  });
  std::sort(skipped->begin(), skipped->end(),
            [](const SkippedEntry& a, const SkippedEntry& b) { return a.path < b.path; });
  return true;
}

}  // namespace datatools
