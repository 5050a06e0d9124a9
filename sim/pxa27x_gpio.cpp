#include "sim/pxa27x_gpio.h"

#include "sim/fault.h"

namespace sim {

using namespace gpio;

namespace {
constexpr uint32_t kAll = 0xFFFFFFFFu;
}

#define PELMOK_GPIO_BANK(n, mask)                                                                 \
  {GPLR##n, "GPLR" #n, 0, 0, 0, kReadOnly, nullptr, nullptr, n},                                  \
      {GPDR##n, "GPDR" #n, 0, mask, 0, kReadWrite, nullptr, WriteBy<&Pxa27xGpio::WriteDirection>, \
       n},                                                                                        \
      {GPSR##n, "GPSR" #n, 0, mask, 0, kWriteOnly, nullptr, WriteBy<&Pxa27xGpio::WriteSet>, n},   \
      {GPCR##n, "GPCR" #n, 0, mask, 0, kWriteOnly, nullptr, WriteBy<&Pxa27xGpio::WriteClear>, n}, \
      {GRER##n, "GRER" #n, 0, mask, 0, kReadWrite, nullptr, nullptr, n},                          \
      {GFER##n, "GFER" #n, 0, mask, 0, kReadWrite, nullptr, nullptr, n}, {                        \
    GEDR##n, "GEDR" #n, 0, 0, mask, kReadWrite, nullptr, nullptr, n                               \
  }

#define PELMOK_GAFR(reg, n, mask) \
  { reg, #reg, 0, mask, 0, kReadWrite, nullptr, WriteBy<&Pxa27xGpio::WriteAltFunction>, n }

// The manual's reset values: every pin an input in its GPIO function, no edge
// detection. GPLRn is derived; GEDRn's bits are set by edges only.
const RegisterRow Pxa27xGpio::kRows[] = {
    PELMOK_GPIO_BANK(0, kAll),     PELMOK_GPIO_BANK(1, kAll),
    PELMOK_GPIO_BANK(2, kAll),     PELMOK_GPIO_BANK(3, kBank3Mask),
    PELMOK_GAFR(GAFR0_L, 0, kAll), PELMOK_GAFR(GAFR0_U, 1, kAll),
    PELMOK_GAFR(GAFR1_L, 2, kAll), PELMOK_GAFR(GAFR1_U, 3, kAll),
    PELMOK_GAFR(GAFR2_L, 4, kAll), PELMOK_GAFR(GAFR2_U, 5, kAll),
    PELMOK_GAFR(GAFR3_L, 6, kAll), PELMOK_GAFR(GAFR3_U, 7, kGafr3UMask),
};

#undef PELMOK_GPIO_BANK
#undef PELMOK_GAFR

namespace {
constexpr uint32_t kLevel[4] = {GPLR0, GPLR1, GPLR2, GPLR3};
constexpr uint32_t kDirection[4] = {GPDR0, GPDR1, GPDR2, GPDR3};
constexpr uint32_t kRising[4] = {GRER0, GRER1, GRER2, GRER3};
constexpr uint32_t kFalling[4] = {GFER0, GFER1, GFER2, GFER3};
constexpr uint32_t kEdge[4] = {GEDR0, GEDR1, GEDR2, GEDR3};
uint32_t BankMask(unsigned bank) { return bank == 3 ? kBank3Mask : kAll; }
}  // namespace

Pxa27xGpio::Pxa27xGpio() : RegisterBlock("GPIO", {std::begin(kRows), std::end(kRows)}) {
  Update();
  DrivePins(0, kPins - 1);
}

OutputLine& Pxa27xGpio::Pin(unsigned n) {
  if (n < kPins) return pins_[n];
  Fault("GPIO: no GPIO %u", n);
  return unknown_;
}

void Pxa27xGpio::WriteDirection(Register& gpdr, uint32_t, uint32_t) {
  Update();
  DrivePins(32 * gpdr.row.index, 32 * gpdr.row.index + 31);
}

void Pxa27xGpio::WriteSet(Register& gpsr, uint32_t, uint32_t) {
  latch_[gpsr.row.index] |= gpsr.value;
  Update();
}

void Pxa27xGpio::WriteClear(Register& gpcr, uint32_t, uint32_t) {
  latch_[gpcr.row.index] &= ~gpcr.value;
  Update();
}

void Pxa27xGpio::WriteAltFunction(Register& gafr, uint32_t, uint32_t) {
  DrivePins(16 * gafr.row.index, 16 * gafr.row.index + 15);
}

void Pxa27xGpio::SetInputLevel(unsigned n, bool high) {
  if (n >= kPins) return;
  const uint32_t bit = 1u << (n % 32);
  if (high) {
    external_[n / 32] |= bit;
  } else {
    external_[n / 32] &= ~bit;
  }
  Update();
}

void Pxa27xGpio::Update() {
  for (unsigned b = 0; b < 4; ++b) {
    const uint32_t gpdr = At(kDirection[b]).value;
    uint32_t& gplr = At(kLevel[b]).value;
    const uint32_t level = ((latch_[b] & gpdr) | (external_[b] & ~gpdr)) & BankMask(b);
    At(kEdge[b]).value |=
        (level & ~gplr & At(kRising[b]).value) | (~level & gplr & At(kFalling[b]).value);
    gplr = level;
  }
}

void Pxa27xGpio::DrivePins(unsigned first, unsigned last) {
  for (unsigned n = first; n <= last && n < kPins; ++n)
    pins_[n].Drive(PinMode(AlternateFunction(n), IsOutput(n)));
}

unsigned Pxa27xGpio::AlternateFunction(unsigned n) const {
  if (n >= kPins) return 0;
  return (At(GAFR0_L + 4 * (n / 16)).value >> (2 * (n % 16))) & 3u;
}

bool Pxa27xGpio::IsOutput(unsigned n) const {
  return n < kPins && ((At(kDirection[n / 32]).value >> (n % 32)) & 1u);
}

bool Pxa27xGpio::Level(unsigned n) const {
  return n < kPins && ((At(kLevel[n / 32]).value >> (n % 32)) & 1u);
}

}  // namespace sim
