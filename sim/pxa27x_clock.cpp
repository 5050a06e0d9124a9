#include "sim/pxa27x_clock.h"

#include <cstring>

#include "sim/fault.h"

namespace sim {

using namespace clk;

// CCSR follows CCCR only through a frequency change, which goes through CP14
// and is not simulated: it keeps the reset configuration.
const RegisterRow Pxa27xClockManager::kRows[] = {
    {CCCR, "CCCR", kCccrReset, CCCR_WRITABLE, 0, kReadWrite},
    {CKEN, "CKEN", kCkenReset, CKEN_WRITABLE, 0, kReadWrite, nullptr,
     WriteBy<&Pxa27xClockManager::WriteCken>},
    // OON is write-once; OOK is derived.
    {OSCC, "OSCC", kOsccReset, OSCC_WRITABLE | OSCC_OON, 0, kReadWrite, nullptr,
     WriteBy<&Pxa27xClockManager::WriteOscc>},
    {CCSR, "CCSR", kCcsrReset, 0, 0, kReadOnly},
};

Pxa27xClockManager::Pxa27xClockManager()
    : RegisterBlock("CLKMGR", {std::begin(kRows), std::end(kRows)}),
      // The unit clock enables, CKEN bit by bit as the manual lists them.
      units_{{"PWM0", 0, {}},    {"PWM1", 1, {}},     {"AC97", 2, {}},   {"SSP2", 3, {}},
             {"SSP3", 4, {}},    {"STUART", 5, {}},   {"FFUART", 6, {}}, {"BTUART", 7, {}},
             {"I2S", 8, {}},     {"OST", 9, {}},      {"USBH", 10, {}},  {"USBC", 11, {}},
             {"MMC", 12, {}},    {"FICP", 13, {}},    {"I2C", 14, {}},   {"PWRI2C", 15, {}},
             {"LCD", 16, {}},    {"MSL", 17, {}},     {"USIM", 18, {}},  {"KEYPAD", 19, {}},
             {"IMEM", 20, {}},   {"MEMSTK", 21, {}},  {"MEMC", 22, {}},  {"SSP1", 23, {}},
             {"CAMERA", 24, {}}, {"AC97CONF", 31, {}}} {
  for (UnitClockLine& u : units_) u.line.Drive((kCkenReset >> u.bit) & 1u);
}

OutputLine& Pxa27xClockManager::UnitClock(const char* unit) {
  for (UnitClockLine& u : units_)
    if (std::strcmp(u.unit, unit) == 0) return u.line;
  Fault("CLKMGR: no unit clock named %s", unit);
  return unknown_;
}

void Pxa27xClockManager::WriteCken(Register& cken, uint32_t, uint32_t) {
  for (UnitClockLine& u : units_) u.line.Drive((cken.value >> u.bit) & 1u);
}

void Pxa27xClockManager::WriteOscc(Register& oscc, uint32_t before, uint32_t) {
  // OON cannot be cleared short of a reset; the 32 kHz oscillator is taken as
  // stable (OOK) the moment it is on.
  uint32_t v = (oscc.value & ~OSCC_OOK) | (before & OSCC_OON);
  if (v & OSCC_OON) v |= OSCC_OOK;
  oscc.value = v;
}

}  // namespace sim
