// PXA27x GPIO controller (physical 0x40E00000): 121 pins in four banks of
// level, direction, set/clear, edge-detect and alternate-function registers.
#pragma once

#include <cstdint>
#include "sim/line.h"
#include "sim/register_block.h"

namespace sim {

namespace gpio {
// Register offsets, the manual's names. These definitions are the simulator's
// own, read from the manual apart from hardware/pxa27x_gpio_regs.h on purpose:
// a second entry, so that a slip in one shows against the other. Bank 3 (GPIO 96..120) lies apart
// from the first three.
constexpr uint32_t GPLR0 = 0x000, GPLR1 = 0x004, GPLR2 = 0x008, GPLR3 = 0x100;  // pin level (RO)
constexpr uint32_t GPDR0 = 0x00C, GPDR1 = 0x010, GPDR2 = 0x014,
                   GPDR3 = 0x10C;  // direction, 1 = out
constexpr uint32_t GPSR0 = 0x018, GPSR1 = 0x01C, GPSR2 = 0x020, GPSR3 = 0x118;  // output set (WO)
constexpr uint32_t GPCR0 = 0x024, GPCR1 = 0x028, GPCR2 = 0x02C, GPCR3 = 0x124;  // output clear (WO)
constexpr uint32_t GRER0 = 0x030, GRER1 = 0x034, GRER2 = 0x038,
                   GRER3 = 0x130;  // rising-edge detect enable
constexpr uint32_t GFER0 = 0x03C, GFER1 = 0x040, GFER2 = 0x044,
                   GFER3 = 0x13C;  // falling-edge detect enable
constexpr uint32_t GEDR0 = 0x048, GEDR1 = 0x04C, GEDR2 = 0x050,
                   GEDR3 = 0x148;                     // edge detected (W1C)
constexpr uint32_t GAFR0_L = 0x054, GAFR0_U = 0x058;  // alternate function, GPIO 0..15, 16..31
constexpr uint32_t GAFR1_L = 0x05C, GAFR1_U = 0x060;  // GPIO 32..47, 48..63
constexpr uint32_t GAFR2_L = 0x064, GAFR2_U = 0x068;  // GPIO 64..79, 80..95
constexpr uint32_t GAFR3_L = 0x06C, GAFR3_U = 0x070;  // GPIO 96..111, 112..120

constexpr unsigned kPins = 121;
constexpr uint32_t kBank3Mask = 0x01FFFFFF;   // GPIO 96..120; the rest are reserved
constexpr uint32_t kGafr3UMask = 0x0003FFFF;  // GPIO 112..120
}  // namespace gpio

// What a pin's line carries: its alternate function and direction.
constexpr uint32_t PinMode(unsigned function, bool output) { return function | (output ? 4u : 0u); }

class Pxa27xGpio : public RegisterBlock {
 public:
  Pxa27xGpio();

  // The line of GPIO n, carrying PinMode(function, direction); a fault and a
  // dummy line for a pin the controller does not have.
  OutputLine& Pin(unsigned n);

  // Alternate function (0..3) and direction (true = output) of GPIO n.
  unsigned AlternateFunction(unsigned n) const;
  bool IsOutput(unsigned n) const;
  bool Level(unsigned n) const;

 private:
  friend class GpioTestPort;
  void SetInputLevel(unsigned n, bool high);
  static const RegisterRow kRows[];
  void WriteDirection(Register& gpdr, uint32_t before, uint32_t written);
  void WriteSet(Register& gpsr, uint32_t before, uint32_t written);
  void WriteClear(Register& gpcr, uint32_t before, uint32_t written);
  void WriteAltFunction(Register& gafr, uint32_t before, uint32_t written);
  // Recomputes the pin levels (GPLRn) and latches the edges they made (GEDRn).
  void Update();
  // Drives the lines of GPIO first..last from GAFR and GPDR.
  void DrivePins(unsigned first, unsigned last);

  uint32_t latch_[4] = {};     // output latch, GPSR/GPCR; undefined at reset, 0 here
  uint32_t external_[4] = {};  // level driven onto the pins from outside
  OutputLine pins_[gpio::kPins];
  OutputLine unknown_;
};

// The GPIO controller's test backdoor, apart from its bus side; no virtual
// time passes: the level driven onto input pin n from outside.
class GpioTestPort {
 public:
  explicit GpioTestPort(Pxa27xGpio& gpio) : gpio_(gpio) {}
  void SetInputLevel(unsigned n, bool high) {
    gpio_.SetInputLevel(n, high);
    gpio_.ChangedBehindTheBus();
  }

 private:
  Pxa27xGpio& gpio_;
};

}  // namespace sim
