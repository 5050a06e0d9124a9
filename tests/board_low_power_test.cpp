#include "board/low_power.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "hardware/pxa27x_ac97_regs.h"
#include "hardware/pxa27x_clock_regs.h"
#include "platform/host/loader.h"
#include "sim/pxa27x_ac97.h"
#include "sim/pxa27x_clock.h"
#include "tests/standin_access.h"
#include "tests/test_support.h"

namespace {

constexpr uint32_t kPowerdown = kAc97Phys + kPrimaryCodecPowerdown;
constexpr uint32_t kGsr = kAc97Phys + GSR;
constexpr uint32_t kGcr = kAc97Phys + GCR;
constexpr int kPollBudget = 0x4000;
// Memory controller, OS timer, one more unit and the AC97 unit clock.
constexpr uint32_t kSeed = 0x00400304;

const std::string kBinding =
    "\r\nLoading SMARTIO.DLL...\r\n\r\nSMARTIO.DLL Loaded successfully..."
    "Loading ADSmartIO functions\r\n.  ok\r\n";

// The give-up line each status wait of a sequence ends with, if it gives up.
struct Waits {
  const char* sdoneGaveUp = "";
  const char* cdoneGaveUp = "";
  const char* acoffdGaveUp = "";
};

class LowPowerTest : public testsupport::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    host::SetLibraryDirectory(std::string(PELMOK_STANDIN_DIR) + "/full");
    // Our own reference keeps the stand-in, and its state, loaded across the call.
    keep_ = LoadLibraryW(L"SMARTIO.dll");
    ASSERT_NE(keep_, nullptr);
    light = testsupport::StandinStateOf(keep_);
    sim::RegisterBackdoor(board().clocks()).Poke(CKEN, kSeed);
    bus().SetTrace(&trace);
  }
  void TearDown() override {
    bus().SetTrace(nullptr);
    FreeLibrary(keep_);
    host::SetLibraryDirectory(std::string());
    BoardTest::TearDown();
  }

  // Checks the next trace record and moves on.
  void Expect(bool write, uint32_t address, uint32_t value) {
    ASSERT_LT(at, trace.records.size()) << "trace ends early";
    const sim::TraceRecord& r = trace.records[at++];
    EXPECT_TRUE(r.write == write && r.address == address && r.value == value)
        << "access " << at - 1 << ": " << (r.write ? "W " : "R ") << std::hex << r.address << " = "
        << r.value;
  }

  // The next record, which must be a GSR read; nullptr at the trace's end.
  const sim::TraceRecord* NextGsrRead() {
    if (at >= trace.records.size()) return nullptr;
    const sim::TraceRecord& r = trace.records[at++];
    EXPECT_TRUE(!r.write && r.address == kGsr) << "access " << at - 1;
    return &r;
  }

  // Walks one status wait in the trace: a test read, then for every clear
  // test a read that is printed (unless `line` is null) and a new test.
  // Returns the console lines the wait must have printed.
  std::string WalkWait(uint32_t bit, const char* line, const char* gaveUp) {
    std::string printed;
    for (int polls = 0;; ++polls) {
      const sim::TraceRecord* test = NextGsrRead();
      if (test == nullptr) break;
      if (test->value & bit) return printed;
      if (polls == kPollBudget) return printed + gaveUp;
      if (line == nullptr) continue;
      const sim::TraceRecord* shown = NextGsrRead();
      if (shown == nullptr) break;
      char text[64];
      std::snprintf(text, sizeof text, line, shown->value & bit);
      printed += text;
    }
    ADD_FAILURE() << "trace ends inside a wait";
    return printed;
  }

  // The whole mode-1 sequence from the current trace position, given what the
  // first codec read returns (the previous read's data), the powerdown
  // register and GCR; returns the wait lines printed. Each codec read is
  // waited for to its SDONE; when SDONE never comes the codec is not written.
  std::string WalkSequence(uint32_t stale, uint32_t powerdown, uint32_t gcr,
                           Waits waits = Waits()) {
    const uint32_t kClear = GSR_CDONE | GSR_SDONE;
    Expect(true, kGsr, kClear);
    Expect(false, kPowerdown, stale);
    std::string lines = WalkWait(GSR_SDONE, nullptr, waits.sdoneGaveUp);
    Expect(true, kGsr, kClear);
    Expect(false, kPowerdown, powerdown);
    lines += WalkWait(GSR_SDONE, nullptr, waits.sdoneGaveUp);
    if (*waits.sdoneGaveUp == '\0') {
      Expect(true, kGsr, kClear);
      Expect(true, kPowerdown, powerdown | 0x1000);
      lines += WalkWait(GSR_CDONE, "AC97 GSR Register CDONE = %d\n", waits.cdoneGaveUp);
    } else {
      lines += "EnterLowPower: codec read not completed, codec power-down not written\r\n";
    }
    Expect(false, kGcr, gcr);
    Expect(true, kGcr, gcr | 0x8);
    Expect(false, kCkenPhys, kSeed);
    Expect(true, kCkenPhys, kSeed | 0x80000000);
    lines += WalkWait(GSR_ACOFFD, "AC97 GSR Register ACOFFD= %d\n", waits.acoffdGaveUp);
    Expect(false, kCkenPhys, kSeed | 0x80000000);
    Expect(true, kCkenPhys, kSeed);
    Expect(false, kCkenPhys, kSeed);
    Expect(true, kCkenPhys, kSeed & ~0x4u);
    EXPECT_EQ(at, trace.records.size()) << "accesses after the sequence";
    return lines;
  }

  // Time of the first GSR read at or after trace position `from` that shows `bit`.
  sim::Nanoseconds FirstSeen(size_t from, uint32_t bit) const {
    for (size_t i = from; i < trace.records.size(); ++i)
      if (trace.records[i].address == kGsr && !trace.records[i].write &&
          (trace.records[i].value & bit))
        return trace.records[i].time;
    ADD_FAILURE() << "status bit never seen";
    return 0;
  }

  // The budget's worth of one wait line.
  static std::string Repeat(const char* line) {
    std::string lines;
    for (int i = 0; i < kPollBudget; ++i) lines += line;
    return lines;
  }

  void ExpectPoweredDown(bool codecWritten = true) {
    EXPECT_EQ(board().clocks().Cken(), kSeed & ~0x80000004u);
    EXPECT_EQ(board().ac97().CodecRegister(AC97_POWERDOWN) & 0x1000, codecWritten ? 0x1000 : 0);
    // No codec access ever started while another was on the link.
    EXPECT_EQ(sim::Ac97TestPort(board().ac97()).LostAccesses(), 0u);
    EXPECT_EQ(board().ac97().Gcr() & GCR_ACLINK_OFF, GCR_ACLINK_OFF);
    EXPECT_TRUE(host::Reservations().empty());
  }

  testsupport::RecordingTrace trace;
  size_t at = 0;
  standin::BoardState* light = nullptr;

 private:
  HMODULE keep_ = nullptr;
};

TEST_F(LowPowerTest, OtherModesOnlySwitchTheBacklightOn) {
  for (int32_t mode : {0, 2, -1}) {
    SCOPED_TRACE(mode);
    console.clear();
    light->backlightOn = 0;
    EnterLowPower(mode);
    EXPECT_EQ(console, kBinding);
    EXPECT_EQ(light->backlightOn, 1);
    EXPECT_TRUE(trace.records.empty());
    EXPECT_TRUE(host::Reservations().empty());
  }
  EXPECT_STREQ(light->callLog, "SIOBackLightON() SIOBackLightON() SIOBackLightON() ");
}

TEST_F(LowPowerTest, ModeOneRegisterSequence) {
  EnterLowPower(1);
  // Fresh board: no earlier codec read (its data reads 0), codec fully ready
  // (0x000F), GCR with COLD_RST only; both printed waits take a while.
  const std::string lines = WalkSequence(0, 0x000F, 0x2);
  EXPECT_NE(lines, "");
  EXPECT_EQ(console, kBinding + lines);
  EXPECT_EQ(light->backlightOn, 0);
  ExpectPoweredDown();
  // The valid read comes after the first read's SDONE, the write after the
  // second read's (so it is not lost on the link), and CDONE one command time
  // after the write.
  size_t read = 0;
  while (!(trace.records[read].address == kPowerdown && read > 1)) ++read;
  EXPECT_GE(trace.records[read].time, trace.records[1].time + sim::Ac97Controller::kCodecStatusNs);
  size_t write = 0;
  while (!(trace.records[write].write && trace.records[write].address == kPowerdown)) ++write;
  EXPECT_GE(trace.records[write].time,
            trace.records[read].time + sim::Ac97Controller::kCodecStatusNs);
  EXPECT_GE(FirstSeen(write, GSR_CDONE),
            trace.records[write].time + sim::Ac97Controller::kCodecCommandNs);
}

TEST_F(LowPowerTest, StaleCodecDataAndStatusAreNotTrusted) {
  // An earlier driver's write and read of the master volume leave CDONE and
  // SDONE up and that register's data as the next read's result.
  bus().Write32(kAc97Phys + PrimaryCodecRegister(0x02), 0x0808);
  bus().Advance(sim::Ac97Controller::kCodecCommandNs);
  bus().Read32(kAc97Phys + PrimaryCodecRegister(0x02));
  bus().Advance(sim::Ac97Controller::kCodecStatusNs);
  sim::RegisterBackdoor(board().ac97()).Poke(GSR, board().ac97().Gsr() | GSR_ACOFFD);
  trace.records.clear();
  EnterLowPower(1);
  // The stale 0x0808 is read and dropped; the codec write still has to be waited for.
  const std::string lines = WalkSequence(0x0808, 0x000F, 0x2);
  EXPECT_NE(lines.find("AC97 GSR Register CDONE = 0\n"), std::string::npos);
  EXPECT_EQ(lines.find("ACOFFD"), std::string::npos);
  EXPECT_EQ(console, kBinding + lines);
  EXPECT_EQ(board().ac97().CodecRegister(AC97_POWERDOWN) & 0xFF00, 0x1000);
  ExpectPoweredDown();
}

TEST_F(LowPowerTest, SecondCallWaitsForItsOwnCodecWrite) {
  EnterLowPower(1);
  // A driver brings the link back (warm reset, link on) and the clocks up.
  bus().Write32(kGcr, GCR_COLD_RST | GCR_WARM_RST);
  sim::RegisterBackdoor(board().clocks()).Poke(CKEN, kSeed);
  trace.records.clear();
  at = 0;
  console.clear();
  EnterLowPower(1);
  // The first call's read of the powerdown register (0x000F) is what the
  // second call's first read returns.
  const std::string lines = WalkSequence(0x000F, 0x000F, 0x2);
  EXPECT_NE(lines.find("AC97 GSR Register CDONE = 0\n"), std::string::npos);
  EXPECT_EQ(console, kBinding + lines);
  ExpectPoweredDown();
}

TEST_F(LowPowerTest, StatusThatNeverComesEndsEachWaitAndGoesOn) {
  struct Case {
    uint32_t held;
    Waits waits;
    const char* pollLine;  // printed for every poll of that wait, or null
  };
  Case cases[3];
  cases[0].held = GSR_SDONE;
  cases[0].waits.sdoneGaveUp = "AC97 GSR Register SDONE wait gave up after 16384 polls\r\n";
  cases[0].pollLine = nullptr;
  cases[1].held = GSR_CDONE;
  cases[1].waits.cdoneGaveUp = "AC97 GSR Register CDONE wait gave up after 16384 polls\r\n";
  cases[1].pollLine = "AC97 GSR Register CDONE = 0\n";
  cases[2].held = GSR_ACOFFD;
  cases[2].waits.acoffdGaveUp = "AC97 GSR Register ACOFFD wait gave up after 16384 polls\r\n";
  cases[2].pollLine = "AC97 GSR Register ACOFFD= 0\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held);
    // Each case on a link that is up again, as after a driver's warm reset.
    bus().Write32(kGcr, GCR_COLD_RST | GCR_WARM_RST);
    bus().Advance(2 * sim::Ac97Controller::kCodecStatusNs);
    sim::RegisterBackdoor(board().clocks()).Poke(CKEN, kSeed);
    sim::Ac97TestPort(board().ac97()).HoldStatusLow(c.held);
    const uint32_t stale = &c == cases ? 0 : 0x000F;
    trace.records.clear();
    at = 0;
    console.clear();
    EnterLowPower(1);
    const std::string lines = WalkSequence(stale, 0x000F, 0x2, c.waits);
    EXPECT_EQ(console, kBinding + lines);
    std::string gaveUp = c.waits.sdoneGaveUp;
    gaveUp += c.waits.cdoneGaveUp;
    gaveUp += c.waits.acoffdGaveUp;
    const std::string run = (c.pollLine ? Repeat(c.pollLine) : std::string()) + gaveUp;
    EXPECT_NE(lines.find(run), std::string::npos);
    // A codec that never reports its reads is not written at all.
    ExpectPoweredDown(c.held != GSR_SDONE);
    sim::Ac97TestPort(board().ac97()).HoldStatusLow(0);
  }
}

TEST_F(LowPowerTest, NoVendorLibraryStillPowersDown) {
  host::SetLibraryDirectory(std::string(PELMOK_STANDIN_DIR) + "/empty");
  EnterLowPower(1);
  const std::string lines = WalkSequence(0, 0x000F, 0x2);
  EXPECT_EQ(console,
            "\r\nLoading SMARTIO.DLL...\r\n\r\nCan't find SMARTIO.DLL\r\n"
            "\r\nLoading KEYBDDR.DLL...\r\n\r\nFailed to load ADSmartIO library!\r\n" +
                lines);
  ExpectPoweredDown();
}

TEST_F(LowPowerTest, WindowsThatFailToMapAreNeverTouched) {
  struct Case {
    void (*fail)(int);
    int after;
    const char* messages;  // what follows the binding's text
    uint32_t cken;         // CKEN at the end
    size_t ckenAccesses;
  };
  const Case cases[] = {
      {host::FailVirtualAllocAfter, 0,
       "Error! at VirtualAlloc()\r\nEnterLowPower: AC97 controller not mapped, AC-link left on\r\n",
       kSeed, 0},
      {host::FailVirtualCopyAfter, 0,
       "Error! at VirtualCopy()\r\nEnterLowPower: AC97 controller not mapped, AC-link left on\r\n",
       kSeed, 0},
      {host::FailVirtualAllocAfter, 1,
       "Error! at VirtualAlloc()\r\n"
       "EnterLowPower: CKEN not mapped, AC97 configuration clock not enabled\r\n",
       kSeed & ~0x4u, 4},
      {host::FailVirtualCopyAfter, 2,
       "Error! at VirtualCopy()\r\nEnterLowPower: CKEN not mapped, AC97 clocks left running\r\n",
       kSeed | 0x80000000u, 2},
  };
  // ACOFFD up from the start; the codec waits print what they print.
  sim::RegisterBackdoor(board().ac97()).Poke(GSR, GSR_PCR | GSR_ACOFFD);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.messages);
    sim::RegisterBackdoor(board().clocks()).Poke(CKEN, kSeed);
    console.clear();
    trace.records.clear();
    c.fail(c.after);
    EnterLowPower(1);
    EXPECT_EQ(console.rfind(kBinding, 0), 0u);
    EXPECT_NE(console.find(c.messages), std::string::npos);
    EXPECT_EQ(board().clocks().Cken(), c.cken);
    size_t ckenAccesses = 0;
    for (const sim::TraceRecord& r : trace.records) ckenAccesses += r.address == kCkenPhys;
    EXPECT_EQ(ckenAccesses, c.ckenAccesses);
    // Without the AC97 window nothing at all is touched; a touch of an unmade
    // window would be a bus fault and fail the test.
    if (c.after == 0) {
      EXPECT_TRUE(trace.records.empty());
    }
    EXPECT_TRUE(host::Reservations().empty());
  }
}

}  // namespace
