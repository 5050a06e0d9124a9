#include "sim/trace.h"

#include <cstring>

namespace sim {
namespace {

constexpr size_t kBufferSize = 1 << 20;
constexpr size_t kLongestLine = 20 + 3 + 11 + 1 + 256 + 12 + 1;  // with a generous name
constexpr size_t kNameSlots = 4096;
const char kHex[] = "0123456789abcdef";

char* PutHex32(char* p, uint32_t v) {
  *p++ = '0';
  *p++ = 'x';
  for (int shift = 28; shift >= 0; shift -= 4) *p++ = kHex[(v >> shift) & 0xFu];
  return p;
}

char* PutDecimal(char* p, uint64_t v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *p++ = digits[--n];
  return p;
}

}  // namespace

TextTrace::TextTrace(const Bus& bus, FILE* out)
    : bus_(bus), out_(out), buffer_(kBufferSize), names_(kNameSlots) {}

TextTrace::~TextTrace() { Flush(); }

bool TextTrace::Flush() {
  const bool ok = used_ == 0 || std::fwrite(buffer_.data(), 1, used_, out_) == used_;
  used_ = 0;
  return ok;
}

const std::string& TextTrace::NameOf(uint32_t address) {
  // Blocks sit 64 KB apart or more: fold the block into the slot so that the
  // registers of one run's few blocks seldom share a slot.
  Name& slot = names_[((address >> 2) ^ (address >> 16)) % kNameSlots];
  if (slot.address != address) {
    slot.address = address;
    slot.text = bus_.Describe(address);
    if (slot.text.size() > 256) slot.text.resize(256);
  }
  return slot.text;
}

void TextTrace::Record(const TraceRecord& access) {
  if (buffer_.size() - used_ < kLongestLine) Flush();
  char* p = buffer_.data() + used_;
  p = PutDecimal(p, access.time);
  *p++ = ' ';
  *p++ = access.write ? 'W' : 'R';
  *p++ = ' ';
  p = PutHex32(p, access.address);
  *p++ = ' ';
  const std::string& name = NameOf(access.address);
  std::memcpy(p, name.data(), name.size());
  p += name.size();
  *p++ = ' ';
  p = PutHex32(p, access.value);
  *p++ = '\n';
  used_ = static_cast<size_t>(p - buffer_.data());
}

}  // namespace sim
