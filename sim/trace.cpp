#include "sim/trace.h"

#include <cstring>

namespace sim {
namespace {

constexpr size_t kBufferSize = 1 << 20;
// A line with the longest name and count, and the bytes the fixed-size copies
// write past it.
constexpr size_t kLongestLine = 24 + 3 + 10 + 1 + 256 + 3 + 8 + 2 + 20 + 1 + 48;
constexpr size_t kNameSlots = 4096;
constexpr uint64_t kTimeLow = 100000000;  // the last eight digits
constexpr char kHex[] = "0123456789abcdef";

// "0000" .. "9999" and "00" .. "ff", two characters a byte, made by the
// compiler (a run's start-up does not compute them).
struct DecimalTable {
  char digits[10000][4]{};
  constexpr DecimalTable() {
    for (unsigned d = 0; d < 10000; ++d) {
      digits[d][0] = static_cast<char>('0' + d / 1000);
      digits[d][1] = static_cast<char>('0' + d / 100 % 10);
      digits[d][2] = static_cast<char>('0' + d / 10 % 10);
      digits[d][3] = static_cast<char>('0' + d % 10);
    }
  }
};
struct HexTable {
  char digits[256][2]{};
  constexpr HexTable() {
    for (unsigned b = 0; b < 256; ++b) {
      digits[b][0] = kHex[b >> 4];
      digits[b][1] = kHex[b & 0xF];
    }
  }
};
constexpr DecimalTable kDecimal;
constexpr HexTable kHexPairs;

char* PutHex32(char* p, uint32_t v) {
  *p++ = '0';
  *p++ = 'x';
  std::memcpy(p, kHexPairs.digits[v >> 24], 2);
  std::memcpy(p + 2, kHexPairs.digits[(v >> 16) & 0xFFu], 2);
  std::memcpy(p + 4, kHexPairs.digits[(v >> 8) & 0xFFu], 2);
  std::memcpy(p + 6, kHexPairs.digits[v & 0xFFu], 2);
  return p + 8;
}

// Writes four bytes past the digits at most.
char* PutDecimal(char* p, uint64_t v) {
  if (v < 10000) {  // the poll loops' runs: a table's digits, four bytes copied
    const size_t n = v >= 1000 ? 4 : v >= 100 ? 3 : v >= 10 ? 2 : 1;
    std::memcpy(p, kDecimal.digits[v] + 4 - n, 4);
    return p + n;
  }
  char digits[24];
  char* d = digits + sizeof digits;
  for (; v != 0; v /= 10) *--d = static_cast<char>('0' + v % 10);
  const size_t n = static_cast<size_t>(digits + sizeof digits - d);
  std::memcpy(p, d, n);
  return p + n;
}

}  // namespace

void TraceSink::RecordRepeats(const TraceRecord& first, uint64_t count, Nanoseconds spacing) {
  TraceRecord r = first;
  for (uint64_t k = 0; k < count; ++k, r.time += spacing) Record(r);
}

TextTrace::TextTrace(const Bus& bus, FILE* out, Form form)
    : bus_(bus),
      out_(out),
      runs_(form == kCompact),
      spacing_(bus.AccessCost()),
      buffer_(new char[kBufferSize]),
      names_(kNameSlots) {
  put_ = buffer_.get();
  limit_ = buffer_.get() + kBufferSize - kLongestLine;
}

TextTrace::~TextTrace() { Flush(); }

bool TextTrace::Write(const char* data, size_t size) {
  return size == 0 || std::fwrite(data, 1, size, out_) == size;
}

bool TextTrace::WriteBuffer() {
  const bool ok = Write(buffer_.get(), static_cast<size_t>(put_ - buffer_.get()));
  put_ = buffer_.get();
  return ok;
}

char* TextTrace::Drain() {
  WriteBuffer();
  return put_;
}

bool TextTrace::Flush() {
  put_ = PutRest(put_ > limit_ ? Drain() : put_);
  Open(kNoLine, 0, 0);  // its line is put: a read after starts a line
  return WriteBuffer();
}

// Compact, a read opens a line and a run; the reads that continue it only
// count, so a read that forms no run costs what it does in the every-access
// trace. Few reads continue a run here: the bus tells a poll loop's run whole.
void TextTrace::Record(const TraceRecord& access) {
  if (__builtin_expect(Continues(access), false)) {
    ++lineCount_;
    return;
  }
  Put(access, 1);
}

void TextTrace::RecordRepeats(const TraceRecord& first, uint64_t count, Nanoseconds spacing) {
  if (spacing != spacing_ || !runs_ || count == 0) return ExpandRepeats(first, count, spacing);
  if (__builtin_expect(Continues(first), false)) {
    lineCount_ += count;
    return;
  }
  Put(first, count);
}

void TextTrace::ExpandRepeats(const TraceRecord& first, uint64_t count, Nanoseconds spacing) {
  TraceSink::RecordRepeats(first, count, spacing);
}

inline void TextTrace::Put(const TraceRecord& access, uint64_t count) {
  const Nanoseconds time = access.time;
  const uint64_t key = KeyOf(access) | static_cast<uint64_t>(access.write);
  const Rest* const rest = CachedRest();
  char* const line = put_;
  if (rest == nullptr || line > limit_ || !InWindow(time)) return PutSlowly(access, count);
  Open(key, count, time);  // before the bytes go in: they may alias anything
  put_ = PutDigits(PutCached(line, *rest), time);
}

void TextTrace::PutSlowly(const TraceRecord& access, uint64_t count) {
  const Nanoseconds time = access.time;
  const uint64_t key = KeyOf(access) | static_cast<uint64_t>(access.write);
  char* const line = PutRest(put_ > limit_ ? Drain() : put_);
  if (!InWindow(time)) SetTimeWindow(time);
  Open(key, count, time);
  put_ = InWindow(time) ? PutDigits(line, time) : PutDecimal(line, time);
}

inline const TextTrace::Rest* TextTrace::CachedRest() const {
  const Rest& rest = rests_[RestSlot()];
  return rest.key == lineKey_ && rest.count == lineCount_ ? &rest : nullptr;
}

inline char* TextTrace::PutCached(char* const line, const Rest& rest) {
  std::memcpy(line, rest.text, kRestText);
  return line + rest.size;
}

char* TextTrace::PutRest(char* const line) {
  if (const Rest* const rest = CachedRest()) return PutCached(line, *rest);
  return line + PutNewRest(line, rests_[RestSlot()]);
}

size_t TextTrace::PutNewRest(char* const line, Rest& slot) {
  size_t size = 0;  // no open line: no rest
  if (lineCount_ != 0) {
    const Name& name = NameOf(static_cast<uint32_t>(lineKey_) & ~1u);
    std::memcpy(line, name.text, 32);  // most names: one fixed-size copy
    if (name.size > 32) std::memcpy(line + 32, name.text + 32, name.size - 32);
    if ((lineKey_ & 1u) != 0) line[1] = 'W';
    char* p = PutHex32(line + name.size - 2, static_cast<uint32_t>(lineKey_ >> 32));
    if (lineCount_ > 1) {
      *p++ = ' ';
      *p++ = 'x';
      p = PutDecimal(p, lineCount_);
    }
    *p++ = '\n';
    size = static_cast<size_t>(p - line);
  }
  if (size <= kRestText) {
    // The bytes past the line are copied too, never put: the buffer has room.
    slot.key = lineKey_;
    slot.count = lineCount_;
    slot.size = size;
    std::memcpy(slot.text, line, kRestText);
  }
  return size;
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
  std::memcpy(slot.text, text.data(), text.size());
}

inline char* TextTrace::PutDigits(char* const line, uint64_t time) {
  const auto low = static_cast<uint32_t>(time - timeBase_);
  std::memcpy(line, high_, sizeof high_);
  char* const last = line + highDigits_;
  std::memcpy(last, kDecimal.digits[low / 10000], 4);
  std::memcpy(last + 4, kDecimal.digits[low % 10000], 4);
  return last + 8;
}

void TextTrace::SetTimeWindow(uint64_t time) {
  if (time < kTimeLow / 10) {
    windowSpan_ = 0;
    return;
  }
  timeBase_ = time - time % kTimeLow;
  windowStart_ = time < kTimeLow ? kTimeLow / 10 : timeBase_;
  windowSpan_ = timeBase_ + kTimeLow - windowStart_;
  char digits[sizeof high_];
  char* const end = digits + sizeof digits;
  char* p = end;
  for (uint64_t v = time / kTimeLow; v != 0; v /= 10) *--p = static_cast<char>('0' + v % 10);
  highDigits_ = static_cast<size_t>(end - p);
  std::memcpy(high_, p, highDigits_);
}

}  // namespace sim
