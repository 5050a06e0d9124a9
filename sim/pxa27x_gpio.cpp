#include "sim/pxa27x_gpio.h"

#include <cstring>

namespace sim {
namespace {

constexpr uint32_t kLevel[4] = {gpio::GPLR0, gpio::GPLR1, gpio::GPLR2, gpio::GPLR3};
constexpr uint32_t kDirection[4] = {gpio::GPDR0, gpio::GPDR1, gpio::GPDR2, gpio::GPDR3};
constexpr uint32_t kSet[4] = {gpio::GPSR0, gpio::GPSR1, gpio::GPSR2, gpio::GPSR3};
constexpr uint32_t kClear[4] = {gpio::GPCR0, gpio::GPCR1, gpio::GPCR2, gpio::GPCR3};
constexpr uint32_t kRising[4] = {gpio::GRER0, gpio::GRER1, gpio::GRER2, gpio::GRER3};
constexpr uint32_t kFalling[4] = {gpio::GFER0, gpio::GFER1, gpio::GFER2, gpio::GFER3};
constexpr uint32_t kEdge[4] = {gpio::GEDR0, gpio::GEDR1, gpio::GEDR2, gpio::GEDR3};

const char* const kNames[][4] = {
    {"GPLR0", "GPLR1", "GPLR2", "GPLR3"}, {"GPDR0", "GPDR1", "GPDR2", "GPDR3"},
    {"GPSR0", "GPSR1", "GPSR2", "GPSR3"}, {"GPCR0", "GPCR1", "GPCR2", "GPCR3"},
    {"GRER0", "GRER1", "GRER2", "GRER3"}, {"GFER0", "GFER1", "GFER2", "GFER3"},
    {"GEDR0", "GEDR1", "GEDR2", "GEDR3"},
};
const char* const kGafrNames[8] = {"GAFR0_L", "GAFR0_U", "GAFR1_L", "GAFR1_U",
                                   "GAFR2_L", "GAFR2_U", "GAFR3_L", "GAFR3_U"};

}  // namespace

Pxa27xGpio::Pxa27xGpio() {
  // The manual's reset values: every pin an input in its GPIO function, no
  // edge detection. The output latches come up undefined; zero here.
  std::memset(&s_, 0, sizeof s_);
  Update();
}

Pxa27xGpio::Decoded Pxa27xGpio::Decode(uint32_t offset) {
  static constexpr const uint32_t* kTables[] = {kLevel, kDirection, kSet, kClear,
                                                kRising, kFalling, kEdge};
  for (unsigned kind = 0; kind < 7; ++kind)
    for (unsigned bank = 0; bank < 4; ++bank)
      if (kTables[kind][bank] == offset) return {static_cast<Kind>(kind), bank};
  if (offset >= gpio::GAFR0_L && offset <= gpio::GAFR3_U && (offset & 3u) == 0)
    return {Kind::kAltFunction, (offset - gpio::GAFR0_L) / 4};
  return {Kind::kNone, 0};
}

const char* Pxa27xGpio::RegisterName(uint32_t offset) const {
  const Decoded d = Decode(offset);
  if (d.kind == Kind::kNone) return nullptr;
  if (d.kind == Kind::kAltFunction) return kGafrNames[d.index];
  return kNames[static_cast<unsigned>(d.kind)][d.index];
}

bool Pxa27xGpio::Read(uint32_t offset, uint32_t* value) {
  const Decoded d = Decode(offset);
  switch (d.kind) {
    case Kind::kLevel: *value = s_.gplr[d.index]; return true;
    case Kind::kDirection: *value = s_.gpdr[d.index]; return true;
    case Kind::kRising: *value = s_.grer[d.index]; return true;
    case Kind::kFalling: *value = s_.gfer[d.index]; return true;
    case Kind::kEdge: *value = s_.gedr[d.index]; return true;
    case Kind::kAltFunction: *value = s_.gafr[d.index]; return true;
    case Kind::kSet:    // write-only
    case Kind::kClear:  // write-only
    case Kind::kNone:
      break;
  }
  return false;
}

bool Pxa27xGpio::Write(uint32_t offset, uint32_t value) { return Store(offset, value, false); }

bool Pxa27xGpio::Poke(uint32_t offset, uint32_t value) { return Store(offset, value, true); }

bool Pxa27xGpio::Store(uint32_t offset, uint32_t value, bool backdoor) {
  const Decoded d = Decode(offset);
  const unsigned b = d.index;
  bool pins = false;
  switch (d.kind) {
    case Kind::kLevel:
      if (!backdoor) return false;  // read-only on the bus
      s_.external[b] = value & BankMask(b);
      break;
    case Kind::kDirection:
      s_.gpdr[b] = value & BankMask(b);
      pins = true;
      break;
    case Kind::kSet: s_.latch[b] |= value & BankMask(b); break;
    case Kind::kClear: s_.latch[b] &= ~value; break;
    case Kind::kRising: s_.grer[b] = value & BankMask(b); break;
    case Kind::kFalling: s_.gfer[b] = value & BankMask(b); break;
    case Kind::kEdge:
      if (backdoor) {
        s_.gedr[b] = value & BankMask(b);
      } else {
        s_.gedr[b] &= ~value;
      }
      break;
    case Kind::kAltFunction:
      s_.gafr[b] = b == 7 ? value & gpio::kGafr3UMask : value;
      pins = true;
      break;
    case Kind::kNone:
      return false;
  }
  Update();
  if (pins && observer_) observer_();
  return true;
}

void Pxa27xGpio::SetInputLevel(unsigned n, bool high) {
  if (n >= gpio::kPins) return;
  const uint32_t bit = 1u << (n % 32);
  if (high) {
    s_.external[n / 32] |= bit;
  } else {
    s_.external[n / 32] &= ~bit;
  }
  Update();
}

void Pxa27xGpio::Update() {
  for (unsigned b = 0; b < 4; ++b) {
    const uint32_t old = s_.gplr[b];
    const uint32_t level = ((s_.latch[b] & s_.gpdr[b]) | (s_.external[b] & ~s_.gpdr[b])) & BankMask(b);
    s_.gedr[b] |= (level & ~old & s_.grer[b]) | (~level & old & s_.gfer[b]);
    s_.gplr[b] = level;
  }
}

unsigned Pxa27xGpio::AlternateFunction(unsigned n) const {
  if (n >= gpio::kPins) return 0;
  return (s_.gafr[n / 16] >> (2 * (n % 16))) & 3u;
}

bool Pxa27xGpio::IsOutput(unsigned n) const {
  return n < gpio::kPins && ((s_.gpdr[n / 32] >> (n % 32)) & 1u);
}

bool Pxa27xGpio::Level(unsigned n) const {
  return n < gpio::kPins && ((s_.gplr[n / 32] >> (n % 32)) & 1u);
}

}  // namespace sim
