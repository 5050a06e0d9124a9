// PXA27x clock manager (physical 0x41300000): core clock configuration, the
// unit clock enables and the oscillator control.
#pragma once

#include <cstdint>
#include "sim/line.h"
#include "sim/register_block.h"

namespace sim {

namespace clk {
// Register offsets, the manual's names. These definitions are the simulator's
// own, read from the manual apart from hardware/pxa27x_clock_regs.h on
// purpose: a second entry, so that a slip in one shows against the other.
constexpr uint32_t CCCR = 0x00;  // core clock configuration
constexpr uint32_t CKEN = 0x04;  // clock enable
constexpr uint32_t OSCC = 0x08;  // oscillator configuration
constexpr uint32_t CCSR = 0x0C;  // core clock status (read-only)

constexpr uint32_t CCCR_L = 0x0000001F;   // run mode = 13 MHz * L
constexpr uint32_t CCCR_2N = 0x00000780;  // turbo mode = run mode * 2N / 2
constexpr uint32_t CCCR_A = 0x02000000;   // alternate memory clock setting
constexpr uint32_t CCCR_PLL_EARLY_EN = 0x04000000;
constexpr uint32_t CCCR_LCD_26 = 0x08000000;
constexpr uint32_t CCCR_PPDIS = 0x40000000;  // peripheral PLL disable
constexpr uint32_t CCCR_CPDIS = 0x80000000;  // core PLL disable
constexpr uint32_t CCCR_WRITABLE =
    CCCR_L | CCCR_2N | CCCR_A | CCCR_PLL_EARLY_EN | CCCR_LCD_26 | CCCR_PPDIS | CCCR_CPDIS;

constexpr uint32_t CKEN_AC97 = 1u << 2;         // AC97 controller unit clock
constexpr uint32_t CKEN_SSP3 = 1u << 4;         // SSP3 unit clock
constexpr uint32_t CKEN_OST = 1u << 9;          // OS timer
constexpr uint32_t CKEN_MEMC = 1u << 22;        // memory controller
constexpr uint32_t CKEN_AC97CONF = 1u << 31;    // AC97 controller configuration
constexpr uint32_t CKEN_WRITABLE = 0x81FFFFFF;  // bits 30:25 reserved

constexpr uint32_t OSCC_OOK = 1u << 0;      // 32.768 kHz oscillator stable (read-only)
constexpr uint32_t OSCC_OON = 1u << 1;      // 32.768 kHz oscillator on (write once)
constexpr uint32_t OSCC_TOUT_EN = 1u << 2;  // timekeeping clock out on GPIO
constexpr uint32_t OSCC_PIO_EN = 1u << 3;   // 13 MHz processor oscillator out
constexpr uint32_t OSCC_CRI = 1u << 4;      // clock request input
constexpr uint32_t OSCC_OSD = 3u << 5;      // processor oscillator stabilisation delay
constexpr uint32_t OSCC_WRITABLE = OSCC_TOUT_EN | OSCC_PIO_EN | OSCC_CRI | OSCC_OSD;

constexpr uint32_t CCSR_PPLCK = 1u << 28;  // peripheral PLL locked
constexpr uint32_t CCSR_CPLCK = 1u << 29;  // core PLL locked

// The manual's reset values (PXA27x developer's manual, clocks manager
// chapter): 104 MHz run mode (L = 8, 2N = 2), only the OS timer and memory
// controller clocked, the 32 kHz oscillator off, both PLLs locked.
constexpr uint32_t kCccrReset = 0x00000108;
constexpr uint32_t kCkenReset = CKEN_MEMC | CKEN_OST;  // 0x00400200
constexpr uint32_t kOsccReset = 0x00000000;
constexpr uint32_t kCcsrReset = CCSR_CPLCK | CCSR_PPLCK | kCccrReset;
}  // namespace clk

// Each unit clock enable of CKEN is an output line (1 while the unit is
// clocked) that the board wires to the unit's model by the unit's name.
class Pxa27xClockManager : public RegisterBlock {
 public:
  Pxa27xClockManager();

  // The enable line of unit `unit` ("SSP3", "AC97", ...); a fault and a
  // dummy line for a name the manager does not clock.
  OutputLine& UnitClock(const char* unit);
  uint32_t Cken() const { return At(clk::CKEN).value; }

 private:
  static const RegisterRow kRows[];
  struct UnitClockLine {
    const char* unit;
    unsigned bit;
    OutputLine line;
  };
  void WriteCken(Register& cken, uint32_t before, uint32_t written);
  void WriteOscc(Register& oscc, uint32_t before, uint32_t written);

  static const unsigned kUnits = 26;
  UnitClockLine units_[kUnits];
  OutputLine unknown_;
};

}  // namespace sim
