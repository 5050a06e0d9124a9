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

#include <cstdio>
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
  // A line is put in two steps: its time when its access comes (Open), the
  // rest once the next line opens or the trace is flushed (Close), when the
  // count of the run of reads it opens (compact) is known. The rests of the
  // lines a poll loop makes over and over come from a small cache.
  void Open(const TraceRecord& access);
  void Close();
  static constexpr size_t kRestText = 64;
  struct Rest {
    uint32_t key = kNoLine;  // the address, its low bit set for a write
    uint32_t value = 0;
    uint64_t count = 0;
    size_t size = 0;
    char text[kRestText];  // " R 0x41900008 SSP3.SSSR 0x0000f024 x18\n"
  };
  // Puts the open line's rest at `line`, kept in `slot` if it fits; its size.
  size_t PutRest(char* line, Rest& slot);
  // `access` is the next read of the open run (compact).
  bool Continues(const TraceRecord& access) const {
    return access.address == runAddress_ && access.time == runNext_ && access.value == runValue_ &&
           !access.write;
  }
  // `count` more reads of the open run.
  void Lengthen(uint64_t count) {
    runLength_ += count;
    runNext_ += count * spacing_;
  }
  // The text between a line's time and its value, " R 0x41900008 SSP3.SSSR 0x"
  // (a write's 'W' put in over the 'R'), of an address's last 256 characters
  // at most.
  static constexpr size_t kNameText = 256;
  static constexpr size_t kLineMiddle = 3 + kNameText + 3;
  struct Name {
    uint32_t address = 1;  // never an aligned access's address: empty
    size_t size = 0;
    char text[kLineMiddle + 32];  // room to copy 32 bytes at a time
  };
  const Name& NameOf(uint32_t address);
  void FillName(Name& slot, uint32_t address);  // out of line: once a register
  // Brings the time's digits (right-aligned, ending at time_ + kTimeEnd) to
  // `time`, timeFirst_ to the first of them.
  void SetTime(uint64_t time);
  void SetHighDigits(uint64_t time);  // out of line: once in many frames

  const Bus& bus_;
  FILE* out_;
  uint32_t noRun_;  // 1 in the every-access form: no read opens a run
  // The open line (its time in the buffer, the rest to come): its access's
  // address, the low bit set for a write (kNoLine: none), its value and the
  // length of its run; and the run (compact): the address the next read
  // continues it at (kNoRun: none) and that read's time.
  static constexpr uint32_t kNoRun = 1;   // a misaligned address: no access's
  static constexpr uint32_t kNoLine = 3;  // nor a write's
  uint32_t lineKey_ = kNoLine;
  uint32_t runAddress_ = kNoRun;
  uint32_t runValue_ = 0;
  uint64_t runLength_ = 0;
  uint64_t runNext_ = 0;
  std::vector<Rest> rests_;
  const Nanoseconds spacing_;       // the bus's access cost: a run's reads are this far apart
  std::unique_ptr<char[]> buffer_;  // not zeroed: only what was put is written
  size_t used_ = 0;
  std::vector<Name> names_;
  // The digits end at time_ + kTimeEnd, zeros to their left; a line copies
  // kTimeEnd bytes from the first digit on.
  static constexpr size_t kTimeEnd = 24;
  static constexpr uint64_t kTimeLow = 100000000;  // the last eight digits
  char time_[2 * kTimeEnd];
  const char* timeFirst_ = time_ + kTimeEnd - 1;
  size_t timeDigits_ = 1;
  uint64_t timeBase_ = 0;  // the time of the digits above the last eight, times 10^8
  size_t highDigits_ = 0;  // how many of those there are (0 below 10^8)
};

}  // namespace sim
