#include "sim/trace.h"

#include <cstring>

namespace sim {
namespace {

constexpr size_t kBufferSize = 1 << 20;
// A line with the longest name, and the bytes the fixed-size copies write past it.
constexpr size_t kLongestLine = 24 + 3 + 256 + 3 + 32 + 8 + 22;
constexpr size_t kNameSlots = 4096;
constexpr size_t kRestSlots = 256;
constexpr char kHex[] = "0123456789abcdef";

// "00" .. "ff", two characters a byte, and "0000" .. "9999", made by the
// compiler (a run's start-up does not compute them).
struct Tables {
  char hex[256][2]{};
  char decimal[10000][4]{};
  constexpr Tables() {
    for (unsigned b = 0; b < 256; ++b) {
      hex[b][0] = kHex[b >> 4];
      hex[b][1] = kHex[b & 0xF];
    }
    for (unsigned d = 0; d < 10000; ++d) {
      decimal[d][0] = static_cast<char>('0' + d / 1000);
      decimal[d][1] = static_cast<char>('0' + d / 100 % 10);
      decimal[d][2] = static_cast<char>('0' + d / 10 % 10);
      decimal[d][3] = static_cast<char>('0' + d % 10);
    }
  }
};
constexpr Tables kTables;

char* PutHex32(char* p, uint32_t v) {
  *p++ = '0';
  *p++ = 'x';
  std::memcpy(p, kTables.hex[v >> 24], 2);
  std::memcpy(p + 2, kTables.hex[(v >> 16) & 0xFFu], 2);
  std::memcpy(p + 4, kTables.hex[(v >> 8) & 0xFFu], 2);
  std::memcpy(p + 6, kTables.hex[v & 0xFFu], 2);
  return p + 8;
}

// Writes four bytes past the digits at most.
char* PutDecimal(char* p, uint64_t v) {
  if (v < 10000) {  // the poll loops' runs: a table's digits, four bytes copied
    const size_t n = v >= 1000 ? 4 : v >= 100 ? 3 : v >= 10 ? 2 : 1;
    std::memcpy(p, kTables.decimal[v] + 4 - n, 4);
    return p + n;
  }
  char digits[24];
  char* d = digits + sizeof digits;
  for (; v != 0; v /= 10) *--d = static_cast<char>('0' + v % 10);
  const size_t n = static_cast<size_t>(digits + sizeof digits - d);
  std::memcpy(p, d, n);
  return p + n;
}

// The decimal digits of v < 10^8, by compares.
size_t DigitsOf(unsigned v) {
  const unsigned high = v / 10000;
  const unsigned four = high != 0 ? high : v;
  const size_t n = four >= 1000 ? 4 : four >= 100 ? 3 : four >= 10 ? 2 : 1;
  return high != 0 ? n + 4 : n;
}

}  // namespace

void TraceSink::RecordRepeats(const TraceRecord& first, uint64_t count, Nanoseconds spacing) {
  TraceRecord r = first;
  for (uint64_t k = 0; k < count; ++k, r.time += spacing) Record(r);
}

TextTrace::TextTrace(const Bus& bus, FILE* out, Form form)
    : bus_(bus),
      out_(out),
      noRun_(form == kCompact ? 0 : 1),
      rests_(kRestSlots),
      spacing_(bus.AccessCost()),
      buffer_(new char[kBufferSize]),
      names_(kNameSlots) {
  std::memset(time_, '0', sizeof time_);
}

TextTrace::~TextTrace() { Flush(); }

bool TextTrace::Write(const char* data, size_t size) {
  return size == 0 || std::fwrite(data, 1, size, out_) == size;
}

bool TextTrace::WriteBuffer() {
  const bool ok = Write(buffer_.get(), used_);
  used_ = 0;
  return ok;
}

bool TextTrace::Flush() {
  Close();
  runAddress_ = kNoRun;  // its line is put: a read after starts a line
  return WriteBuffer();
}

// Compact, a read opens a line and a run; the reads that continue it only
// count, so a read that forms no run costs what it does in the every-access
// trace.
void TextTrace::Record(const TraceRecord& access) {
  if (Continues(access)) return Lengthen(1);
  Open(access);
}

void TextTrace::RecordRepeats(const TraceRecord& first, uint64_t count, Nanoseconds spacing) {
  if (spacing != spacing_ || noRun_ != 0 || count == 0)
    return TraceSink::RecordRepeats(first, count, spacing);
  Record(first);
  Lengthen(count - 1);
}

inline const TextTrace::Name& TextTrace::NameOf(uint32_t address) {
  // Blocks sit 64 KB apart or more: fold the block into the slot so that the
  // registers of one run's few blocks seldom share a slot.
  Name& slot = names_[((address >> 2) ^ (address >> 16)) % kNameSlots];
  if (slot.address != address) FillName(slot, address);
  return slot;
}

void TextTrace::FillName(Name& slot, uint32_t address) {
  std::string text(10, ' ');
  PutHex32(text.data(), address);
  text += ' ';
  text += bus_.Describe(address);
  if (text.size() > kNameText) text.resize(kNameText);
  text = " R " + text + " 0x";
  slot.address = address;
  slot.size = text.size();
  std::memset(slot.text, ' ', sizeof slot.text);
  std::memcpy(slot.text, text.data(), text.size());
}

inline void TextTrace::SetTime(uint64_t time) {
  // Accesses are a few hundred ns apart and frames ten thousand or so: the
  // digits above the last eight change once in many frames and are
  // formatted only then (a time before timeBase_ wraps to a huge offset).
  if (time - timeBase_ >= kTimeLow) SetHighDigits(time);
  const auto low = static_cast<unsigned>(time - timeBase_);
  char* const end = time_ + kTimeEnd;
  std::memcpy(end - 8, kTables.decimal[low / 10000], 4);
  std::memcpy(end - 4, kTables.decimal[low % 10000], 4);
  timeDigits_ = highDigits_ != 0 ? highDigits_ + 8 : DigitsOf(low);
  timeFirst_ = end - timeDigits_;
}

void TextTrace::SetHighDigits(uint64_t time) {
  timeBase_ = time - time % kTimeLow;
  char* p = time_ + kTimeEnd - 8;
  highDigits_ = 0;
  for (uint64_t v = time / kTimeLow; v != 0; v /= 10) {
    *--p = static_cast<char>('0' + v % 10);
    ++highDigits_;
  }
}

inline void TextTrace::Open(const TraceRecord& access) {
  Close();
  if (used_ > kBufferSize - kLongestLine) WriteBuffer();
  SetTime(access.time);
  std::memcpy(buffer_.get() + used_, timeFirst_, kTimeEnd);
  used_ += timeDigits_;
  const auto write = static_cast<uint32_t>(access.write);
  lineKey_ = access.address | write;
  // A read opens a run (compact): a write or the every-access form sets the
  // address's low bit, which no access's has.
  runAddress_ = access.address | noRun_ | write;
  runValue_ = access.value;
  runLength_ = 1;
  runNext_ = access.time + spacing_;
}

inline void TextTrace::Close() {
  if (lineKey_ == kNoLine) return;
  const uint32_t slot =
      (lineKey_ * 0x9E3779B1u ^ runValue_ * 0x85EBCA77u ^ static_cast<uint32_t>(runLength_)) >> 24;
  Rest& rest = rests_[slot % kRestSlots];
  char* const p = buffer_.get() + used_;
  if (rest.key == lineKey_ && rest.value == runValue_ && rest.count == runLength_) {
    std::memcpy(p, rest.text, kRestText);
    used_ += rest.size;
  } else {
    used_ += PutRest(p, rest);
  }
  lineKey_ = kNoLine;
}

size_t TextTrace::PutRest(char* const line, Rest& slot) {
  char* p = line;
  const Name& name = NameOf(lineKey_ & ~1u);
  std::memcpy(p, name.text, 32);
  if (name.size > 32) std::memcpy(p + 32, name.text + 32, name.size - 32);
  if ((lineKey_ & 1u) != 0) p[1] = 'W';
  p = PutHex32(p + name.size - 2, runValue_);
  if (runLength_ > 1) {
    *p++ = ' ';
    *p++ = 'x';
    p = PutDecimal(p, runLength_);
  }
  *p++ = '\n';
  const auto size = static_cast<size_t>(p - line);
  if (size <= kRestText) {
    // The bytes past the line are copied too, never put: the buffer has room.
    slot.key = lineKey_;
    slot.value = runValue_;
    slot.count = runLength_;
    slot.size = size;
    std::memcpy(slot.text, line, kRestText);
  }
  return size;
}

}  // namespace sim
