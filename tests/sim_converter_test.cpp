// The converter behind SSP3: when it frames, on which virtual nanosecond,
// in what order, and the test backdoors that bend it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hardware/register_windows.h"
#include "platform/host/host.h"
#include "sim/board.h"
#include "sim/converter.h"
#include "sim/pxa27x_clock.h"
#include "sim/pxa27x_gpio.h"
#include "sim/pxa27x_ssp.h"
#include "sim/signal.h"
#include "sim/trace.h"
#include "tests/test_support.h"

namespace {

using namespace sim;

constexpr uint32_t kAf1Pins81To84 = 0x00000154;  // GAFR2_U bits 9..2
constexpr uint32_t kOutPins81And84 = (1u << 17) | (1u << 20);
constexpr uint32_t kPortSscr0 =
    ssp::SSCR0_SSE | ssp::SSCR0_EDSS | ssp::SSCR0_FRF_PSP | 7u /* DSS: 24 bits */;

struct PortSetup {
  uint32_t gafr2u = kAf1Pins81To84;
  uint32_t gpdr2 = kOutPins81And84;
  uint32_t sscr0 = kPortSscr0;
  uint32_t sscr1 = ssp::SSCR1_SFRMDIR;
  uint32_t cken = clk::kCkenReset | clk::CKEN_SSP3;
};

BoardOptions Options(const std::string& signal, uint32_t rate = 100000) {
  BoardOptions o;
  o.frameRateHz = rate;
  o.signal = MakeSignal(signal, rate, nullptr);
  o.clockEpoch = 1000;
  return o;
}

class SimConverter : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& f : testsupport::FaultCatcher::faults()) ADD_FAILURE() << f;
  }
  void Make(const BoardOptions& options) { board = std::make_unique<Board>(options); }
  Bus& bus() { return board->bus(); }
  void Program(const PortSetup& p) {
    bus().Write32(kGpioBase + gpio::GAFR2_U, p.gafr2u);
    bus().Write32(kGpioBase + gpio::GPDR2, p.gpdr2);
    bus().Write32(kSsp3Base + ssp::SSCR1, p.sscr1);
    bus().Write32(kSsp3Base + ssp::SSCR0, p.sscr0);
    bus().Write32(kClockManagerBase + clk::CKEN, p.cken);
  }
  uint32_t Sssr() { return bus().Read32(kSsp3Base + ssp::SSSR); }
  uint32_t Ssdr() { return bus().Read32(kSsp3Base + ssp::SSDR); }
  // Lets virtual time run to `t` (absolute), then polls SSSR once.
  uint32_t SssrAt(Nanoseconds t) {
    bus().Advance(t - bus().Now() - bus().AccessCost());
    return Sssr();
  }

  testsupport::FaultCatcher catcher;
  std::unique_ptr<Board> board;
};

TEST_F(SimConverter, EachMissingStartConditionKeepsTheConverterQuiet) {
  struct Case {
    const char* missing;
    std::function<void(PortSetup*)> spoil;
  };
  const std::vector<Case> cases = {
      {"SSE", [](PortSetup* p) { p->sscr0 &= ~ssp::SSCR0_SSE; }},
      {"CKEN SSP3", [](PortSetup* p) { p->cken &= ~clk::CKEN_SSP3; }},
      {"GPIO 83 function", [](PortSetup* p) { p->gafr2u &= ~(3u << 6); }},
      {"GPIO 84 function 2", [](PortSetup* p) { p->gafr2u ^= 3u << 8; }},
      {"GPIO 81 output", [](PortSetup* p) { p->gpdr2 &= ~(1u << 17); }},
      {"GPIO 82 input", [](PortSetup* p) { p->gpdr2 |= 1u << 18; }},
      {"GPIO 83 input", [](PortSetup* p) { p->gpdr2 |= 1u << 19; }},
      {"GPIO 84 output", [](PortSetup* p) { p->gpdr2 &= ~(1u << 20); }},
      {"PSP format", [](PortSetup* p) { p->sscr0 &= ~(1u << 4); }},
      {"EDSS", [](PortSetup* p) { p->sscr0 &= ~ssp::SSCR0_EDSS; }},
      {"DSS 7", [](PortSetup* p) { p->sscr0 += 1; }},
      {"SFRMDIR", [](PortSetup* p) { p->sscr1 = 0; }},
      {"SCLKDIR clear", [](PortSetup* p) { p->sscr1 |= ssp::SSCR1_SCLKDIR; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.missing);
    Make(Options("counter"));
    PortSetup p;
    c.spoil(&p);
    Program(p);
    // A millisecond is a hundred frame periods: not one frame.
    EXPECT_FALSE(board->ssp3().Running());
    EXPECT_EQ(SssrAt(bus().Now() + 1000000) & ssp::SSSR_RNE, 0u);
    EXPECT_EQ(board->ssp3().FramesMade(), 0u);
    // Programmed right, the same board frames: the spoilt condition was the cause.
    Program(PortSetup());
    EXPECT_TRUE(board->ssp3().Running());
    EXPECT_NE(SssrAt(bus().Now() + 10000) & ssp::SSSR_RNE, 0u);
  }
}

TEST_F(SimConverter, FramesArriveOnThePeriodFromTheLastSetUpWrite) {
  Make(Options("counter"));
  Program(PortSetup());
  const Nanoseconds t0 = bus().Now();  // the CKEN write completed the set-up
  // 100 kHz: frame k arrives at t0 + (k + 1) * 10 us, not a nanosecond before.
  EXPECT_EQ(SssrAt(t0 + 9999) & ssp::SSSR_RNE, 0u);
  EXPECT_NE(SssrAt(t0 + 10000) & ssp::SSSR_RNE, 0u);
  EXPECT_EQ(SssrAt(t0 + 29999) & ssp::SSSR_RFL, 1u << ssp::SSSR_RFL_SHIFT);
  EXPECT_EQ(SssrAt(t0 + 30000) & ssp::SSSR_RFL, 2u << ssp::SSSR_RFL_SHIFT);
  // Words are the 24-bit code, nothing above.
  EXPECT_EQ(Ssdr(), 0u);
  EXPECT_EQ(Ssdr(), 1u);
  EXPECT_EQ(Ssdr(), 2u);
  EXPECT_EQ(board->ssp3().FramesPushed(), 3u);
}

TEST_F(SimConverter, OddRatesDoNotDrift) {
  Make(Options("silence", 44100));
  Program(PortSetup());
  const Nanoseconds t0 = bus().Now();
  // 44100 frames land in exactly one second, the last on its final nanosecond.
  SssrAt(t0 + 999999999);
  EXPECT_EQ(board->ssp3().FramesMade(), 44099u);
  SssrAt(t0 + 1000000000);
  EXPECT_EQ(board->ssp3().FramesMade(), 44100u);
  SssrAt(t0 + 3600 * 1000000000ull);
  EXPECT_EQ(board->ssp3().FramesMade(), 3600u * 44100u);
}

TEST_F(SimConverter, CounterKeepsItsNumbersAcrossAnOverrun) {
  Make(Options("counter"));
  Program(PortSetup());
  const Nanoseconds t0 = bus().Now();
  // 20 frames into 16 entries: frames 16..19 are lost and ROR is raised.
  EXPECT_NE(SssrAt(t0 + 200000) & ssp::SSSR_ROR, 0u);
  EXPECT_EQ(board->ssp3().FramesLost(), 4u);
  for (uint32_t k = 0; k < 16; ++k) EXPECT_EQ(Ssdr(), k);
  // The next frame in the FIFO is the 21st the converter made.
  SssrAt(t0 + 210000);
  EXPECT_EQ(Ssdr(), 20u);
  EXPECT_EQ(board->ssp3().FramesMade(), 21u);
  EXPECT_EQ(board->ssp3().FramesRead(), 17u);
  bus().Write32(kSsp3Base + ssp::SSSR, ssp::SSSR_ROR);
  EXPECT_EQ(Sssr() & ssp::SSSR_ROR, 0u);
}

TEST_F(SimConverter, TakingAConditionAwayStopsFramesAndRestoringItRestartsThePeriod) {
  Make(Options("counter"));
  Program(PortSetup());
  Nanoseconds t = bus().Now();
  SssrAt(t + 25000);
  EXPECT_EQ(board->ssp3().FramesMade(), 2u);
  // The unit clock goes: no frames for as long as it stays off.
  bus().Write32(kClockManagerBase + clk::CKEN, clk::kCkenReset);
  SssrAt(bus().Now() + 1000000);
  EXPECT_EQ(board->ssp3().FramesMade(), 2u);
  // Back on: one full period to the next frame, which carries number 2.
  bus().Write32(kClockManagerBase + clk::CKEN, clk::kCkenReset | clk::CKEN_SSP3);
  t = bus().Now();
  SssrAt(t + 9999);
  EXPECT_EQ(board->ssp3().FramesMade(), 2u);
  SssrAt(t + 10000);
  EXPECT_EQ(board->ssp3().FramesMade(), 3u);
  Ssdr();
  Ssdr();
  EXPECT_EQ(Ssdr(), 2u);
}

TEST_F(SimConverter, APinFunctionChangeStopsTheConverterAtThatWrite) {
  Make(Options("counter"));
  Program(PortSetup());
  Nanoseconds t = bus().Now();
  // GPIO 83 (SSPRXD3) leaves function 1 between frames 2 and 3: frame 2,
  // due at the very access that moves it, is still made.
  SssrAt(t + 25000);
  bus().Advance(t + 30000 - bus().Now() - bus().AccessCost());
  bus().Write32(kGpioBase + gpio::GAFR2_U, kAf1Pins81To84 & ~(3u << 6));
  EXPECT_FALSE(board->ssp3().Running());
  EXPECT_EQ(board->ssp3().FramesMade(), 3u);
  SssrAt(bus().Now() + 1000000);
  EXPECT_EQ(board->ssp3().FramesMade(), 3u);
  // A change on a pin the port does not use is no change to it.
  bus().Write32(kGpioBase + gpio::GAFR2_U, (kAf1Pins81To84 & ~(3u << 6)) | (2u << 12));
  bus().Write32(kGpioBase + gpio::GAFR2_U, kAf1Pins81To84 | (2u << 12));
  t = bus().Now();
  EXPECT_TRUE(board->ssp3().Running());
  SssrAt(t + 9999);
  EXPECT_EQ(board->ssp3().FramesMade(), 3u);
  SssrAt(t + 10000);
  EXPECT_EQ(board->ssp3().FramesMade(), 4u);
}

TEST_F(SimConverter, CkenWritesThatLeaveTheSsp3BitAloneDoNotRestartThePeriod) {
  Make(Options("counter"));
  Program(PortSetup());
  const Nanoseconds t0 = bus().Now();
  // Other units' clocks come and go mid-period: frames stay on the grid
  // from the write that first enabled SSP3.
  bus().Advance(5000);
  bus().Write32(kClockManagerBase + clk::CKEN, clk::kCkenReset | clk::CKEN_SSP3 | clk::CKEN_AC97);
  bus().Write32(kClockManagerBase + clk::CKEN, clk::CKEN_SSP3);
  SssrAt(t0 + 9999);
  EXPECT_EQ(board->ssp3().FramesMade(), 0u);
  SssrAt(t0 + 20000);
  EXPECT_EQ(board->ssp3().FramesMade(), 2u);
}

TEST_F(SimConverter, StallHoldsTheConverter) {
  Make(Options("counter"));
  Program(PortSetup());
  SssrAt(bus().Now() + 30000);
  board->ssp3TestPort().Stall(true);
  const Nanoseconds stalledAt = bus().Now();
  // Stalled: the port is still set up, the converter makes nothing.
  SssrAt(stalledAt + 1000000);
  EXPECT_TRUE(board->ssp3().Running());
  EXPECT_EQ(board->ssp3().FramesMade(), 3u);
  board->ssp3TestPort().Stall(false);
  const Nanoseconds t = bus().Now();
  SssrAt(t + 10000);
  EXPECT_EQ(board->ssp3().FramesMade(), 4u);
}

TEST_F(SimConverter, StallAfterSendsThatManyFramesThenNone) {
  BoardOptions o = Options("counter");
  o.stallAfterFrames = 20;
  Make(o);
  Program(PortSetup());
  // 30 frame periods pass: 16 frames fit, 4 more are made and dropped, then the converter is dead.
  SssrAt(bus().Now() + 300000);
  EXPECT_EQ(board->ssp3().FramesMade(), 20u);
  EXPECT_EQ(board->ssp3().FramesLost(), 4u);
  for (uint32_t k = 0; k < 16; ++k) ASSERT_EQ(Ssdr(), k);
  // A restart of the port does not revive it.
  bus().Write32(kSsp3Base + ssp::SSCR0, 0);
  Program(PortSetup());
  EXPECT_EQ(SssrAt(bus().Now() + 1000000) & ssp::SSSR_RNE, 0u);
  EXPECT_EQ(board->ssp3().FramesMade(), 20u);
}

TEST_F(SimConverter, NoneSendsNothingOnAWorkingPort) {
  Make(Options("none"));
  Program(PortSetup());
  EXPECT_TRUE(board->ssp3().Running());
  EXPECT_EQ(SssrAt(bus().Now() + 1000000) & ssp::SSSR_RNE, 0u);
  EXPECT_EQ(board->ssp3().FramesMade(), 0u);
}

TEST_F(SimConverter, InjectAtPollLandsOnExactlyThatPoll) {
  Make(Options("counter"));
  board->ssp3TestPort().InjectAtPoll(262144, 0x00ABCDEF);
  // Polls 1..262143 see an empty FIFO; poll 262144 sees the word.
  uint32_t firstRne = 0;
  for (uint32_t poll = 1; poll <= 262144 && firstRne == 0; ++poll)
    if (Sssr() & ssp::SSSR_RNE) firstRne = poll;
  EXPECT_EQ(firstRne, 262144u);
  EXPECT_EQ(Ssdr(), 0x00ABCDEFu);
  // It fires once: the polls after it count nothing and bring nothing.
  for (uint32_t poll = 0; poll < 300000; ++poll) ASSERT_EQ(Sssr() & ssp::SSSR_RNE, 0u);
  // Re-armed, and disarmed again with 0 before it fires.
  board->ssp3TestPort().InjectAtPoll(2, 0x1);
  board->ssp3TestPort().InjectAtPoll(0, 0x2);
  for (uint32_t poll = 0; poll < 4; ++poll) EXPECT_EQ(Sssr() & ssp::SSSR_RNE, 0u);
}

TEST_F(SimConverter, BoardClockAndTextTrace) {
  Make(Options("silence"));
  // The board's clock: the epoch plus whole seconds of virtual time.
  bus().Advance(2999999999);
  EXPECT_EQ(board->Time(), 1002);
  bus().Advance(1);
  EXPECT_EQ(board->Time(), 1003);

  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  ASSERT_NE(out, nullptr);
  {
    // Lines are buffered until the trace is flushed or ends.
    TextTrace trace(bus(), out);
    bus().SetTrace(&trace);
    bus().Write32(kSsp3Base + ssp::SSCR1, ssp::SSCR1_SFRMDIR);
    bus().Read32(kGpioBase + gpio::GAFR2_U);
    bus().SetTrace(nullptr);
  }
  std::fclose(out);
  EXPECT_EQ(std::string(text, size),
            "3000000500 W 0x41900004 SSP3.SSCR1 0x01000000\n"
            "3000001000 R 0x40e00068 GPIO.GAFR2_U 0x00000000\n");
  std::free(text);
}

// The host window serves a poll loop's plain reads, and SSDR's, from what
// the bus lends out. A board read only by physical address (every access on
// the bus's full path) is the judge: read for read the same values at the
// same virtual times and access counts, through the test backdoors that
// move the next event or put a hook on SSSR while reads are lent, an alarm
// and time let pass with no access.
TEST_F(SimConverter, LentReadsMatchTheFullPathReadForRead) {
  Make(Options("counter"));
  Board judge(Options("counter"));
  Program(PortSetup());
  {
    Bus& j = judge.bus();
    j.Write32(kGpioBase + gpio::GAFR2_U, kAf1Pins81To84);
    j.Write32(kGpioBase + gpio::GPDR2, kOutPins81And84);
    j.Write32(kSsp3Base + ssp::SSCR1, ssp::SSCR1_SFRMDIR);
    j.Write32(kSsp3Base + ssp::SSCR0, kPortSscr0);
    j.Write32(kClockManagerBase + clk::CKEN, clk::kCkenReset | clk::CKEN_SSP3);
  }
  host::ResetKernel();
  host::AttachBoard(board.get());
  const RegisterWindow port = MapPhysicalAddr(kSsp3Base, 24);
  ASSERT_NE(port, nullptr);
  // The alarm rings at the first access at or after its time that leaves
  // the hot path: on the window a read that finds a frame or reads SSDR (the
  // judge's every access leaves it).
  struct Rings {
    Bus* bus;
    std::vector<Nanoseconds> at;
  } rings = {&bus(), {}};
  const auto ring = [](void* r) {
    static_cast<Rings*>(r)->at.push_back(static_cast<Rings*>(r)->bus->Now());
  };
  Nanoseconds alarmAt = 0;
  std::vector<Nanoseconds> offHotPath;
  uint64_t words = 0;
  for (int step = 0; step < 4000; ++step) {
    if (step == 700) {  // a hook on SSSR while its reads are lent
      board->ssp3TestPort().InjectAtPoll(3, 0x00123456);
      judge.ssp3TestPort().InjectAtPoll(3, 0x00123456);
    }
    if (step == 1500 || step == 1520) {  // the next frame moved away, then nearer
      board->ssp3TestPort().Stall(step == 1500);
      judge.ssp3TestPort().Stall(step == 1500);
    }
    if (step == 3000) {
      bus().Advance(12345);
      judge.bus().Advance(12345);
    }
    const uint32_t status = RegRead(port, ssp::SSSR);
    ASSERT_EQ(status, judge.bus().Read32(kSsp3Base + ssp::SSSR)) << "step " << step;
    if (status & ssp::SSSR_RNE) {
      // Just past the next frame: the reads lent at that frame end before
      // the alarm, but SSDR's read then may not be one of them.
      if (step >= 2500 && alarmAt == 0) {
        alarmAt = bus().Now() + 10001;
        bus().SetAlarm(alarmAt, ring, &rings);
      }
      offHotPath.push_back(bus().Now());
      ASSERT_EQ(RegRead(port, ssp::SSDR), judge.bus().Read32(kSsp3Base + ssp::SSDR))
          << "step " << step;
      offHotPath.push_back(bus().Now());
      ++words;
    }
    ASSERT_EQ(bus().Now(), judge.bus().Now()) << "step " << step;
    ASSERT_EQ(bus().AccessCount(), judge.bus().AccessCount()) << "step " << step;
  }
  ASSERT_EQ(rings.at.size(), 1u);
  EXPECT_EQ(rings.at[0], *std::lower_bound(offHotPath.begin(), offHotPath.end(), alarmAt));
  // Frames came all along but for the stall: the loop took them one by one.
  EXPECT_GT(words, 150u);
  EXPECT_EQ(board->ssp3().FramesRead(), judge.ssp3().FramesRead());
  UnmapRegisterWindow(port);
  host::AttachBoard(nullptr);
}

}  // namespace
