// Host-side reading of the board's data files: the converter code in each
// 32-bit word, streamed reading in bounded memory, and the figures
// `pelmok-data info` reports. Their names: data_file_name.h.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/formats/data_file_name.h"

namespace datatools {

constexpr int32_t kFullScaleCode = 8388607;       // 0x7FFFFF: +2.5 V
constexpr int32_t kNegativeFullScale = -8388608;  // 0x800000

// The converter's 24-bit two's-complement code in the low 24 bits of a word,
// sign-extended; the bits above are not the converter's.
inline int32_t CodeOf(uint32_t word) {
  return static_cast<int32_t>((word & 0xFFFFFFu) ^ 0x800000u) - 0x800000;
}

std::string BaseName(const std::string& path);

// Reads a data file's whole words in blocks; a tail of 1 to 3 bytes (a torn
// write) is counted, never returned as a word.
class WordReader {
 public:
  static constexpr size_t kBlockWords = 1 << 16;
  // False with a one-line reason when the file cannot be read.
  bool Open(const std::string& path, std::string* error);
  ~WordReader();
  uint64_t Bytes() const { return bytes_; }
  uint64_t Words() const { return bytes_ / 4; }
  unsigned TornBytes() const { return static_cast<unsigned>(bytes_ % 4); }
  // Up to `max` words from word `first` into `words`; false on a read error.
  bool Read(uint64_t first, size_t max, std::vector<uint32_t>* words);
  // Why a read failed, naming `path`: the file changed size while it was
  // read (a writer still at it, or a truncation), or the system's reason.
  std::string FailureText(const std::string& path, uint64_t expectedBytes) const;
  // Calls f(block) for each block of words in order; false on a read error.
  template <typename F>
  bool ForEachBlock(F f) {
    std::vector<uint32_t> block;
    for (uint64_t at = 0; at < Words(); at += block.size()) {
      if (!Read(at, kBlockWords, &block) || block.empty()) return false;
      f(block);
    }
    return true;
  }

 private:
  FILE* file_ = nullptr;
  uint64_t bytes_ = 0;
  int readError_ = 0;
};

// A run of at least this many zero words is reported: far longer than a
// zero crossing of any real signal holds the code at 0.
constexpr uint64_t kZeroRunMinimum = 16;

struct CodeStats {
  uint64_t samples = 0;
  int32_t minimum = 0, maximum = 0;
  double sum = 0, sumSquares = 0;
  uint64_t positiveFullScale = 0, negativeFullScale = 0;
  uint64_t highBitWords = 0;        // bits 24..31 not all clear
  std::array<uint64_t, 24> ones{};  // per code bit, how many samples had it set
  uint64_t zeroRuns = 0, zeroRunSamples = 0, longestZeroRun = 0;

  void Add(uint32_t word);
  void Finish();  // closes a zero run at the end and completes `ones`
  double Mean() const { return samples ? sum / samples : 0; }
  double Rms() const;
  // Level against the full-scale code (a full-scale sine is -3.01 dBFS, a
  // full-scale square 0 dBFS); -inf for silence.
  double RmsDbfs() const;
  double PeakDbfs() const;

 private:
  void EndZeroRun();
  uint64_t currentZeroRun_ = 0;
  // The code's three bytes counted by value since the last Finish: a sample
  // costs three increments, and Finish turns them into `ones`.
  std::array<std::array<uint64_t, 256>, 3> byteValues_{};
};

// Whole files in a folder that carry data-file names, in time order.
struct FolderEntry {
  std::string path;
  DataFileName time;
  uint64_t bytes = 0;
  uint64_t device = 0, inode = 0;  // the file itself: one file under two names is read once
};
// An entry of a data folder with the shape of a data file name that is no
// data file: a link to nothing or in a loop, a FIFO, a folder, a device, a
// file that cannot be opened, or a name no clock gives ("126-365-0-0-0").
struct SkippedEntry {
  std::string path;
  std::string reason;  // "is a folder", "a symbolic link: ...", "no time the board's clock gives"
};
// False with a reason when the folder cannot be read. Entries of other
// names are no business of the data's and pass without a word.
bool ListDataFolder(const std::string& folder, std::vector<FolderEntry>* files,
                    std::vector<SkippedEntry>* skipped, std::string* error);
bool IsFolder(const std::string& path);

}  // namespace datatools
