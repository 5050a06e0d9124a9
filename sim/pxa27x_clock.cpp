#include "sim/pxa27x_clock.h"

namespace sim {

Pxa27xClockManager::Pxa27xClockManager()
    : s_{clk::kCccrReset, clk::kCkenReset, clk::kOsccReset, clk::kCcsrReset} {
  Update();
}

const char* Pxa27xClockManager::RegisterName(uint32_t offset) const {
  switch (offset) {
    case clk::CCCR: return "CCCR";
    case clk::CKEN: return "CKEN";
    case clk::OSCC: return "OSCC";
    case clk::CCSR: return "CCSR";
    default: return nullptr;
  }
}

bool Pxa27xClockManager::Read(uint32_t offset, uint32_t* value) {
  switch (offset) {
    case clk::CCCR: *value = s_.cccr; return true;
    case clk::CKEN: *value = s_.cken; return true;
    case clk::OSCC: *value = s_.oscc; return true;
    // CCSR follows CCCR only through a frequency change, which goes through
    // CP14 and is not simulated: it keeps the reset configuration.
    case clk::CCSR: *value = s_.ccsr; return true;
    default: return false;
  }
}

bool Pxa27xClockManager::Write(uint32_t offset, uint32_t value) {
  switch (offset) {
    case clk::CCCR:
      s_.cccr = value & clk::CCCR_WRITABLE;
      break;
    case clk::CKEN:
      SetCken(value & clk::CKEN_WRITABLE);
      return true;
    case clk::OSCC:
      // OON can be set but not cleared again short of a reset.
      s_.oscc = (s_.oscc & clk::OSCC_OON) | (value & (clk::OSCC_WRITABLE | clk::OSCC_OON));
      break;
    default:  // CCSR is read-only; the rest is not decoded
      return false;
  }
  Update();
  return true;
}

bool Pxa27xClockManager::Poke(uint32_t offset, uint32_t value) {
  switch (offset) {
    case clk::CCCR: s_.cccr = value; break;
    case clk::CKEN: SetCken(value); return true;
    case clk::OSCC: s_.oscc = value; break;
    case clk::CCSR: s_.ccsr = value; break;
    default: return false;
  }
  Update();
  return true;
}

void Pxa27xClockManager::SetCken(uint32_t value) {
  const uint32_t before = s_.cken;
  s_.cken = value;
  Update();
  if (observer_) observer_(before, value);
}

void Pxa27xClockManager::Update() {
  // The 32 kHz oscillator is taken as stable the moment it is switched on.
  s_.oscc = (s_.oscc & ~clk::OSCC_OOK) | ((s_.oscc & clk::OSCC_OON) ? clk::OSCC_OOK : 0);
}

}  // namespace sim
