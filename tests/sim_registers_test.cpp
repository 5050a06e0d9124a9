// The register models through the bus: reset values, read-back, refusals,
// and the SSP3 receive FIFO's status bits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/line.h"
#include "sim/pxa27x_clock.h"
#include "sim/pxa27x_gpio.h"
#include "sim/pxa27x_ssp.h"
#include "tests/test_support.h"

namespace {

using namespace sim;

class SimRegisters : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(Faults(), std::vector<std::string>{}); }
  static std::vector<std::string> Faults() { return testsupport::FaultCatcher::Take(); }
  uint32_t Gpio(uint32_t offset) { return board.bus().Read32(kGpioBase + offset); }
  uint32_t Ssp(uint32_t offset) { return board.bus().Read32(kSsp3Base + offset); }
  uint32_t Clk(uint32_t offset) { return board.bus().Read32(kClockManagerBase + offset); }

  testsupport::FaultCatcher catcher;
  Board board;
};

TEST_F(SimRegisters, ResetValues) {
  // GPIO: all inputs in their GPIO function, levels low.
  for (uint32_t r : {gpio::GPDR0, gpio::GPDR1, gpio::GPDR2, gpio::GPDR3, gpio::GPLR2, gpio::GEDR2})
    EXPECT_EQ(Gpio(r), 0u) << std::hex << r;
  for (uint32_t r = gpio::GAFR0_L; r <= gpio::GAFR3_U; r += 4)
    EXPECT_EQ(Gpio(r), 0u) << std::hex << r;
  // Clock manager: 104 MHz run mode, OS timer and memory controller clocked.
  EXPECT_EQ(Clk(clk::CCCR), 0x00000108u);
  EXPECT_EQ(Clk(clk::CKEN), 0x00400200u);
  EXPECT_EQ(Clk(clk::OSCC), 0u);
  EXPECT_EQ(Clk(clk::CCSR), 0x30000108u);
  EXPECT_EQ(board.clocks().Cken(), 0x00400200u);
  // SSP3: control 0, status TNF with an empty receive FIFO (RFL 0xF, RNE clear).
  EXPECT_EQ(Ssp(ssp::SSSR), 0x0000F004u);
  for (uint32_t r : {ssp::SSCR0, ssp::SSCR1, ssp::SSITR, ssp::SSTO, ssp::SSPSP, ssp::SSTSA,
                     ssp::SSRSA, ssp::SSTSS, ssp::SSACD})
    EXPECT_EQ(Ssp(r), 0u) << std::hex << r;
}

TEST_F(SimRegisters, GpioReadBackAndPins) {
  Bus& bus = board.bus();
  // GAFR2_U: 81..84 to function 1, 85 to 3; GPDR2: 81 and 84 out.
  bus.Write32(kGpioBase + gpio::GAFR2_U, 0x00000D54);
  bus.Write32(kGpioBase + gpio::GPDR2, (1u << 17) | (1u << 20));
  EXPECT_EQ(Gpio(gpio::GAFR2_U), 0x00000D54u);
  EXPECT_EQ(Gpio(gpio::GPDR2), 0x00120000u);
  EXPECT_EQ(board.gpio().AlternateFunction(80), 0u);
  EXPECT_EQ(board.gpio().AlternateFunction(83), 1u);
  EXPECT_EQ(board.gpio().AlternateFunction(85), 3u);
  EXPECT_TRUE(board.gpio().IsOutput(81));
  EXPECT_FALSE(board.gpio().IsOutput(82));
  // Bank 3 stops at GPIO 120: reserved bits read 0.
  bus.Write32(kGpioBase + gpio::GPDR3, 0xFFFFFFFF);
  EXPECT_EQ(Gpio(gpio::GPDR3), 0x01FFFFFFu);

  // An output follows GPSR/GPCR; a rising edge latches in GEDR, which clears on 1.
  bus.Write32(kGpioBase + gpio::GRER2, 1u << 17);
  bus.Write32(kGpioBase + gpio::GPSR2, 1u << 17);
  EXPECT_EQ(Gpio(gpio::GPLR2), 1u << 17);
  EXPECT_EQ(Gpio(gpio::GEDR2), 1u << 17);
  bus.Write32(kGpioBase + gpio::GEDR2, 1u << 17);
  EXPECT_EQ(Gpio(gpio::GEDR2), 0u);
  bus.Write32(kGpioBase + gpio::GPCR2, 1u << 17);
  EXPECT_EQ(Gpio(gpio::GPLR2), 0u);
  // An input shows the level driven from outside, the latch does not reach it.
  bus.Write32(kGpioBase + gpio::GPSR2, 1u << 18);
  EXPECT_EQ(Gpio(gpio::GPLR2), 0u);
  GpioTestPort(board.gpio()).SetInputLevel(82, true);
  EXPECT_EQ(Gpio(gpio::GPLR2), 1u << 18);
}

TEST_F(SimRegisters, RefusedAccessesFault) {
  Bus& bus = board.bus();
  // Write-only, read-only, undecoded and misaligned: one fault each.
  Gpio(gpio::GPSR0);
  Gpio(gpio::GPCR3);
  bus.Write32(kGpioBase + gpio::GPLR1, 1);
  bus.Write32(kClockManagerBase + clk::CCSR, 0);
  bus.Write32(kSsp3Base + ssp::SSTSS, 0);
  Gpio(0x74);
  Ssp(0x14);
  Clk(0x10);
  Ssp(0xFFFC);
  Ssp(ssp::SSSR + 1);
  EXPECT_EQ(Faults().size(), 10u);
  // Refused writes leave the registers alone.
  EXPECT_EQ(Clk(clk::CCSR), 0x30000108u);
  EXPECT_EQ(Gpio(gpio::GPLR1), 0u);
}

TEST_F(SimRegisters, ClockManagerWrites) {
  Bus& bus = board.bus();
  // Each unit's enable is a line that changes at the CKEN write that changes it.
  std::vector<std::string> seen;
  InputLine ssp3([&] { seen.push_back("SSP3"); }), ac97([&] { seen.push_back("AC97"); });
  board.clocks().UnitClock("SSP3").Connect(ssp3);
  board.clocks().UnitClock("AC97").Connect(ac97);
  // CKEN reserved bits 30:25 stay 0.
  bus.Write32(kClockManagerBase + clk::CKEN, 0xFFFFFFFF);
  EXPECT_EQ(Clk(clk::CKEN), 0x81FFFFFFu);
  EXPECT_EQ(seen, (std::vector<std::string>{"AC97", "SSP3"}));
  EXPECT_EQ(ssp3.value(), 1u);
  bus.Write32(kClockManagerBase + clk::CKEN, clk::CKEN_SSP3);
  bus.Write32(kClockManagerBase + clk::CKEN, clk::CKEN_SSP3 | clk::CKEN_OST);
  EXPECT_EQ(seen, (std::vector<std::string>{"AC97", "SSP3", "AC97"}));
  EXPECT_EQ(ac97.value(), 0u);
  // OSCC: OON sets OOK and cannot be cleared again.
  bus.Write32(kClockManagerBase + clk::OSCC, clk::OSCC_OON);
  EXPECT_EQ(Clk(clk::OSCC), clk::OSCC_OON | clk::OSCC_OOK);
  bus.Write32(kClockManagerBase + clk::OSCC, 0);
  EXPECT_EQ(Clk(clk::OSCC), clk::OSCC_OON | clk::OSCC_OOK);
  EXPECT_TRUE(RegisterBackdoor(board.clocks()).Poke(clk::CCSR, 0x1234));
  EXPECT_EQ(Clk(clk::CCSR), 0x1234u);
}

TEST_F(SimRegisters, ReceiveFifoStatus) {
  Pxa27xSsp& port = board.ssp3();
  SspTestPort& backdoor = board.ssp3TestPort();
  // One entry: RNE, RFL 0; sixteen: RNE, RFL 0xF; each SSDR read takes the oldest.
  backdoor.Inject(0x100);
  EXPECT_EQ(Ssp(ssp::SSSR) & (ssp::SSSR_RNE | ssp::SSSR_RFL), ssp::SSSR_RNE);
  for (uint32_t i = 1; i < 16; ++i) backdoor.Inject(0x100 + i);
  EXPECT_EQ(Ssp(ssp::SSSR) & (ssp::SSSR_RNE | ssp::SSSR_RFL | ssp::SSSR_ROR),
            ssp::SSSR_RNE | ssp::SSSR_RFL);
  EXPECT_EQ(port.FifoLevel(), 16u);
  // A seventeenth word is dropped and raises ROR.
  backdoor.Inject(0xBAD);
  EXPECT_EQ(port.FramesLost(), 1u);
  EXPECT_TRUE(Ssp(ssp::SSSR) & ssp::SSSR_ROR);
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(Ssp(ssp::SSDR), 0x100 + i);
    const uint32_t sssr = Ssp(ssp::SSSR);
    EXPECT_EQ(sssr & ssp::SSSR_RNE, i < 15 ? ssp::SSSR_RNE : 0u);
    EXPECT_EQ((sssr & ssp::SSSR_RFL) >> ssp::SSSR_RFL_SHIFT, i < 15 ? 14 - i : 0xFu);
  }
  EXPECT_EQ(port.FramesRead(), 16u);
  // Empty: SSDR repeats the last word and takes nothing.
  EXPECT_EQ(Ssp(ssp::SSDR), 0x10Fu);
  EXPECT_EQ(port.FramesRead(), 16u);
  // ROR stays until a 1 is written to it; 0s and read-only bits do nothing.
  board.bus().Write32(kSsp3Base + ssp::SSSR, ~ssp::SSSR_ROR);
  EXPECT_EQ(Ssp(ssp::SSSR), 0x0000F004u | ssp::SSSR_ROR);
  board.bus().Write32(kSsp3Base + ssp::SSSR, ssp::SSSR_ROR);
  EXPECT_EQ(Ssp(ssp::SSSR), 0x0000F004u);
  backdoor.ForceOverrun();
  EXPECT_TRUE(Ssp(ssp::SSSR) & ssp::SSSR_ROR);
}

TEST_F(SimRegisters, DisablingThePortEmptiesItsFifos) {
  Bus& bus = board.bus();
  bus.Write32(kSsp3Base + ssp::SSCR0, ssp::SSCR0_SSE);
  board.ssp3TestPort().Inject(1);
  bus.Write32(kSsp3Base + ssp::SSDR, 2);
  // Enabled: receive and transmit levels show, TFS with TFT 0 is off at one entry.
  EXPECT_EQ(Ssp(ssp::SSSR) & (ssp::SSSR_RNE | ssp::SSSR_TFL | ssp::SSSR_TFS),
            ssp::SSSR_RNE | (1u << ssp::SSSR_TFL_SHIFT));
  bus.Write32(kSsp3Base + ssp::SSCR0, 0);
  EXPECT_EQ(Ssp(ssp::SSSR), 0x0000F004u);
  EXPECT_EQ(board.ssp3().FifoLevel(), 0u);
}

}  // namespace
