// PXA27x GPIO controller (physical 0x40E00000): 121 pins in four banks of
// level, direction, set/clear, edge-detect and alternate-function registers.
#pragma once

#include <cstdint>
#include <functional>

#include "sim/bus.h"

namespace sim {

namespace gpio {
// Register offsets, the manual's names. Bank 3 (GPIO 96..120) lies apart from
// the first three.
constexpr uint32_t GPLR0 = 0x000, GPLR1 = 0x004, GPLR2 = 0x008, GPLR3 = 0x100;  // pin level (RO)
constexpr uint32_t GPDR0 = 0x00C, GPDR1 = 0x010, GPDR2 = 0x014, GPDR3 = 0x10C;  // direction, 1 = out
constexpr uint32_t GPSR0 = 0x018, GPSR1 = 0x01C, GPSR2 = 0x020, GPSR3 = 0x118;  // output set (WO)
constexpr uint32_t GPCR0 = 0x024, GPCR1 = 0x028, GPCR2 = 0x02C, GPCR3 = 0x124;  // output clear (WO)
constexpr uint32_t GRER0 = 0x030, GRER1 = 0x034, GRER2 = 0x038, GRER3 = 0x130;  // rising-edge detect enable
constexpr uint32_t GFER0 = 0x03C, GFER1 = 0x040, GFER2 = 0x044, GFER3 = 0x13C;  // falling-edge detect enable
constexpr uint32_t GEDR0 = 0x048, GEDR1 = 0x04C, GEDR2 = 0x050, GEDR3 = 0x148;  // edge detected (W1C)
constexpr uint32_t GAFR0_L = 0x054, GAFR0_U = 0x058;  // alternate function, GPIO 0..15, 16..31
constexpr uint32_t GAFR1_L = 0x05C, GAFR1_U = 0x060;  // GPIO 32..47, 48..63
constexpr uint32_t GAFR2_L = 0x064, GAFR2_U = 0x068;  // GPIO 64..79, 80..95
constexpr uint32_t GAFR3_L = 0x06C, GAFR3_U = 0x070;  // GPIO 96..111, 112..120

constexpr unsigned kPins = 121;
constexpr uint32_t kBank3Mask = 0x01FFFFFF;    // GPIO 96..120; the rest are reserved
constexpr uint32_t kGafr3UMask = 0x0003FFFF;   // GPIO 112..120
}  // namespace gpio

class Pxa27xGpio : public Device {
 public:
  Pxa27xGpio();

  const char* BlockName() const override { return "GPIO"; }
  const char* RegisterName(uint32_t offset) const override;
  bool Read(uint32_t offset, uint32_t* value) override;
  bool Write(uint32_t offset, uint32_t value) override;

  // Alternate function (0..3) and direction (true = output) of GPIO n.
  unsigned AlternateFunction(unsigned n) const;
  bool IsOutput(unsigned n) const;
  bool Level(unsigned n) const;

  // Called after any change of a direction or alternate-function register,
  // by the bus or by Poke: the SSP's pins may have come or gone.
  void SetPinFunctionObserver(std::function<void()> observer) { observer_ = std::move(observer); }

  // Test backdoors, no bus traffic and no virtual time. Poke seeds the
  // register at `offset` as a bus write would, except that GPLRn sets the
  // level driven onto the input pins and GEDRn is stored as given. False for
  // an offset the block does not decode.
  bool Poke(uint32_t offset, uint32_t value);
  void SetInputLevel(unsigned n, bool high);

 private:
  struct State {
    uint32_t gpdr[4];
    uint32_t latch[4];     // output latch, GPSR/GPCR
    uint32_t external[4];  // level driven onto the pins from outside
    uint32_t grer[4];
    uint32_t gfer[4];
    uint32_t gedr[4];
    uint32_t gafr[8];      // GAFR0_L .. GAFR3_U
    uint32_t gplr[4];      // derived
  };
  enum class Kind { kLevel, kDirection, kSet, kClear, kRising, kFalling, kEdge, kAltFunction, kNone };
  struct Decoded {
    Kind kind;
    unsigned index;  // bank, or GAFR register 0..7
  };
  static Decoded Decode(uint32_t offset);
  static uint32_t BankMask(unsigned bank) { return bank == 3 ? gpio::kBank3Mask : 0xFFFFFFFFu; }
  bool Store(uint32_t offset, uint32_t value, bool backdoor);
  // Recomputes the pin levels and latches the edges they made.
  void Update();

  State s_;
  std::function<void()> observer_;
};

}  // namespace sim
