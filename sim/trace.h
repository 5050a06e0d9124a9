// A bus trace as text, one line an access, for laying a run's register
// set-up beside the manual's tables:
//
//   <virtual time in ns> <R|W> 0x<physical address> <BLOCK.REGISTER> 0x<value>
//   1500 W 0x41900000 SSP3.SSCR0 0x00000000
//
// The time is the end of the access (what the device saw), the value the one
// read or written. An address without a register name shows as "BLOCK+0xNN".
//
// Compact (the default), consecutive reads of one register that return the
// same value, each one access cost after the one before, are one line with
// their count as a sixth field, the time being the first one's:
//
//   51000 R 0x41900008 SSP3.SSSR 0x0000f024 x18
//
// stands for 18 lines, at 51000, 51000 + c, ... 51000 + 17c with c the bus's
// access cost (500 ns on pelmok-daq's board); every other access is its one
// line as above. Expanded so, a compact trace is the every-access trace byte
// for byte (docs/tools.md: the awk line that does it).
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/bus.h"

namespace sim {

// A traced run makes tens of millions of lines: each is put together by hand
// in a large buffer. The text between the time and the value ("R 0x41900008
// SSP3.SSSR 0x") comes from a small cache by address, the time's last eight
// digits and the value's hex digit pairs from tables, and the whole of a line
// after its time, when a poll loop made it before, from a cache by address,
// value and count.
class TextTrace : public TraceSink {
 public:
  enum Form { kCompact, kEveryAccess };
  // Neither the bus nor the file is owned; both must outlive the trace.
  TextTrace(const Bus& bus, FILE* out, Form form = kCompact);
  ~TextTrace() override;  // flushes
  TextTrace(const TextTrace&) = delete;
  TextTrace& operator=(const TextTrace&) = delete;

  void Record(const TraceRecord& access) override;
  void RecordRepeats(const TraceRecord& first, uint64_t count, Nanoseconds spacing) override;
  // Hands the buffered lines, a pending run of reads included, to the file
  // (not fflush). Returns false if the file refused them.
  bool Flush();

 private:
  // Every byte of the trace leaves through here.
  bool Write(const char* data, size_t size);
  bool WriteBuffer();
  // Writes the buffer out when a line may not fit; where the next line goes.
  char* Drain();
  // A line is put in two steps: its time when its access comes, the rest once
  // the next line comes or the trace is flushed, when the count of the run of
  // reads it opens (compact) is known. `count` reads like `access` open it.
  // Put does a poll loop's lines with no call, PutSlowly any line.
  void Put(const TraceRecord& access, uint64_t count);
  __attribute__((noinline)) void PutSlowly(const TraceRecord& access, uint64_t count);
  // The open line: its address, the low bit set for a write, and its value
  // in the high half (kNoLine: none, no read's); its first read's time and
  // the length of its run (0: no line).
  static constexpr uint64_t kNoLine = 2;
  static uint64_t KeyOf(const TraceRecord& access) {
    static_assert(offsetof(TraceRecord, value) == offsetof(TraceRecord, address) + 4 &&
                      __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                  "the address and the value after it, in one load");
    uint64_t key;
    std::memcpy(&key, reinterpret_cast<const char*>(&access) + offsetof(TraceRecord, address), 8);
    return key;
  }
  void Open(uint64_t key, uint64_t count, Nanoseconds time) {
    lineKey_ = key;
    lineCount_ = count;
    lineTime_ = time;
  }
  // `access` is the next read of the open run (compact).
  bool Continues(const TraceRecord& access) const {
    return KeyOf(access) == lineKey_ && runs_ && access.time == lineTime_ + lineCount_ * spacing_ &&
           !access.write;
  }
  // TraceSink's record a read, for a run of another spacing or the
  // every-access form; out of line, so that its loop takes no register from
  // RecordRepeats' own path.
  __attribute__((noinline)) void ExpandRepeats(const TraceRecord& first, uint64_t count,
                                               Nanoseconds spacing);
  // The rests of the lines a poll loop makes over and over come from a cache
  // by key and count, each copied whole, kRestText bytes; a periodic signal's
  // FIFO words recur too, a tone's hundred or so finding room in it.
  static constexpr size_t kRestText = 48;
  static constexpr unsigned kRestBits = 10;
  struct Rest {
    uint64_t key = kNoLine;
    uint64_t count = 0;  // 0: no line, no text
    uint64_t size = 0;
    char text[kRestText] = {};          // " R 0x41900008 SSP3.SSSR 0x0000f024 x18\n"
    char unused[128 - 24 - kRestText];  // a slot a power of two: a shift from the hash
  };
  size_t RestSlot() const {
    return ((lineKey_ ^ lineCount_) * 0x9E3779B97F4A7C15u) >> (64 - kRestBits);
  }
  const Rest* CachedRest() const;  // the open line's, or nullptr
  char* PutCached(char* line, const Rest& rest);
  // Puts the open line's rest at `line`, cached or anew; where it ends.
  char* PutRest(char* line);
  size_t PutNewRest(char* line, Rest& slot);  // its size, kept in `slot` if it fits
  // The text between a line's time and its value, " R 0x41900008 SSP3.SSSR 0x"
  // (a write's 'W' put in over the 'R'), of an address's first 256 characters
  // at most.
  static constexpr size_t kNameText = 256;
  static constexpr size_t kLineMiddle = 3 + kNameText + 3;
  struct Name {
    uint32_t address = 1;  // never an aligned access's address: empty
    size_t size = 0;
    char text[kLineMiddle];
  };
  const Name& NameOf(uint32_t address);
  void FillName(Name& slot, uint32_t address);  // out of line: once a register
  // A line's time: from one line to the next only its last eight digits
  // change, put from a table after the digits above them, which hold for a
  // window of times, set when a time falls outside it. Times below 10^7,
  // short of eight digits, have no window.
  char* PutDigits(char* line, uint64_t time);
  bool InWindow(uint64_t time) const { return time - windowStart_ < windowSpan_; }
  void SetTimeWindow(uint64_t time);

  const Bus& bus_;
  FILE* out_;
  char* put_;                   // where the next byte goes
  const char* limit_;           // past it a line may not fit
  uint64_t lineKey_ = kNoLine;  // the open line's, as KeyOf gives it with the write bit
  uint64_t lineCount_ = 0;
  Nanoseconds lineTime_ = 0;
  const bool runs_;            // compact: reads make runs
  const Nanoseconds spacing_;  // the bus's access cost: a run's reads are this far apart
  // The window: times t with t - windowStart_ < windowSpan_, whose digits
  // above the last eight are high_'s first highDigits_, the eight of
  // t - timeBase_. A line copies all of high_ at once.
  Nanoseconds windowStart_ = 0;
  Nanoseconds windowSpan_ = 0;
  Nanoseconds timeBase_ = 0;
  size_t highDigits_ = 0;
  char high_[16] = {};              // 2^64 has 12 digits above the last eight
  std::unique_ptr<char[]> buffer_;  // not zeroed: only what was put is written
  std::vector<Name> names_;
  Rest rests_[size_t{1} << kRestBits];
};

}  // namespace sim
