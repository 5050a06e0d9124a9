// The register table mechanism through the bus, on a block of its own: what
// a row's reset value, masks and access do to bus reads and writes, the
// faults of a refused or undecoded access, hooks and their order, the hook
// swap the SSP3 backdoor relies on, the model's own clock, and the hot path
// a host window takes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/register_block.h"
#include "tests/test_support.h"

namespace {

using namespace sim;

constexpr uint32_t kBase = 0x48000000;
constexpr uint32_t CTRL = 0x00, STAT = 0x04, ID = 0x08, CMD = 0x0C, DATA = 0x40;

// A block that logs what its hooks see and can schedule an event.
class TestBlock : public RegisterBlock {
 public:
  TestBlock();

  std::vector<std::string> log;
  uint32_t data = 0x100;
  void Schedule(Nanoseconds t) { DueAt(t); }
  void CountReads() { SetReadHook(STAT, ReadBy<&TestBlock::ReadCounting>); }
  void StopCounting() { SetReadHook(STAT, nullptr); }
  unsigned counted = 0;
  Nanoseconds eventOnData = 0;

 private:
  static const RegisterRow kRows[];
  void WriteCtrl(Register& ctrl, uint32_t before, uint32_t written) {
    log.push_back("CTRL " + Hex(before) + " " + Hex(ctrl.value) + " " + Hex(written));
  }
  void WriteCmd(Register& cmd, uint32_t, uint32_t written) {
    log.push_back("CMD " + Hex(cmd.value) + " " + Hex(written));
  }
  uint32_t ReadData(Register&) {
    if (eventOnData != 0) DueAt(eventOnData);  // a FIFO read that brings the next event nearer
    eventOnData = 0;
    return data++;
  }
  uint32_t ReadCounting(Register& stat) {
    ++counted;
    return stat.value;
  }
  void CatchUp(Nanoseconds now) override {
    log.push_back("event at " + std::to_string(now));
    At(STAT).value |= 0x1;  // the event's own flag
    DueAt(kNever);
  }
  static std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
  }
};

const RegisterRow TestBlock::kRows[] = {
    {CTRL, "CTRL", 0x0000A005, 0x0000FF00, 0, kReadWrite, nullptr, WriteBy<&TestBlock::WriteCtrl>},
    {STAT, "STAT", 0x000000F0, 0, 0x000000F1, kReadWrite},
    {ID, "ID", 0x27000001, 0, 0, kReadOnly},
    {CMD, "CMD", 0, 0x0000FFFF, 0, kWriteOnly, nullptr, WriteBy<&TestBlock::WriteCmd>},
    {DATA, "DATA", 0, 0, 0, kReadOnly, ReadBy<&TestBlock::ReadData>},
};

TestBlock::TestBlock() : RegisterBlock("TEST", {std::begin(kRows), std::end(kRows)}) {}

class RegisterBlockTest : public ::testing::Test {
 protected:
  RegisterBlockTest() { bus.Attach(kBase, RegisterBlock::kSpan, &block); }
  void TearDown() override { EXPECT_EQ(Faults(), std::vector<std::string>{}); }
  static std::vector<std::string> Faults() { return testsupport::FaultCatcher::Take(); }
  uint32_t Read(uint32_t offset) { return bus.Read32(kBase + offset); }
  void Write(uint32_t offset, uint32_t value) { bus.Write32(kBase + offset, value); }

  testsupport::FaultCatcher catcher;
  Bus bus;
  TestBlock block;
};

TEST_F(RegisterBlockTest, MasksAndResetValuesShapeWhatTheBusSees) {
  EXPECT_EQ(Read(CTRL), 0x0000A005u);
  EXPECT_EQ(Read(STAT), 0x000000F0u);
  EXPECT_EQ(Read(ID), 0x27000001u);
  // Bits outside the writable mask keep their value, set or clear.
  Write(CTRL, 0xFFFFFFFF);
  EXPECT_EQ(Read(CTRL), 0x0000FF05u);
  Write(CTRL, 0);
  EXPECT_EQ(Read(CTRL), 0x00000005u);
  // Write-1-to-clear: a 1 clears that bit only, a 0 leaves it; bits that are
  // neither writable nor W1C do not move.
  Write(STAT, 0x00000030);
  EXPECT_EQ(Read(STAT), 0x000000C0u);
  Write(STAT, 0xFFFFFF0F);
  EXPECT_EQ(Read(STAT), 0x000000C0u);
  Write(STAT, 0xFFFFFFFF);
  EXPECT_EQ(Read(STAT), 0u);
  // The names the trace and the faults use come from the rows.
  EXPECT_EQ(bus.Describe(kBase + CMD), "TEST.CMD");
  EXPECT_EQ(bus.Describe(kBase + 0x10), "TEST+0x10");
}

TEST_F(RegisterBlockTest, RefusedAndUndecodedAccessesFaultAndChangeNothing) {
  Read(CMD);         // write-only
  Write(ID, 0);      // read-only
  Write(DATA, 7);    // read-only with a read hook: the hook does not run
  Read(0x10);        // a hole between rows
  Write(0xFFFC, 1);  // the block's last word, undecoded
  Read(CTRL + 2);    // misaligned
  const std::vector<std::string> faults = Faults();
  ASSERT_EQ(faults.size(), 6u);
  EXPECT_NE(faults[0].find("TEST.CMD"), std::string::npos) << faults[0];
  EXPECT_NE(faults[0].find("write-only"), std::string::npos) << faults[0];
  EXPECT_NE(faults[1].find("read-only"), std::string::npos) << faults[1];
  EXPECT_NE(faults[3].find("not decoded"), std::string::npos) << faults[3];
  EXPECT_EQ(Read(ID), 0x27000001u);
  EXPECT_EQ(block.data, 0x100u);
  EXPECT_EQ(block.log, std::vector<std::string>{});
  // A fault is an access all the same: it took its time.
  EXPECT_EQ(bus.AccessCount(), 7u);
}

TEST_F(RegisterBlockTest, HooksRunAfterTheStoreWithTheWordAsWritten) {
  Write(CTRL, 0x12345678);
  // Write-only: the masked word is stored for the hook; command bits outside
  // the mask reach it as written.
  Write(CMD, 0xABCD1234);
  EXPECT_EQ(block.log, (std::vector<std::string>{"CTRL a005 5605 12345678", "CMD 1234 abcd1234"}));
  // A read hook's value is what the bus returns, once per read.
  EXPECT_EQ(Read(DATA), 0x100u);
  EXPECT_EQ(Read(DATA), 0x101u);
}

TEST_F(RegisterBlockTest, ASwappedReadHookRunsUntilRestored) {
  block.CountReads();
  Read(STAT);
  Read(STAT);
  Read(CTRL);
  EXPECT_EQ(block.counted, 2u);
  block.StopCounting();
  EXPECT_EQ(Read(STAT), 0x000000F0u);
  EXPECT_EQ(block.counted, 2u);
}

TEST_F(RegisterBlockTest, TheModelCatchesUpBeforeTheFirstAccessAtItsEvent) {
  block.Schedule(2000);  // the fourth access ends at 2000 ns
  Read(CTRL);
  Read(CTRL);
  EXPECT_EQ(Read(STAT), 0x000000F0u);
  EXPECT_EQ(block.log, std::vector<std::string>{});
  // The event lands before the access that reaches its time sees the register.
  EXPECT_EQ(Read(STAT), 0x000000F1u);
  Read(STAT);
  EXPECT_EQ(block.log, std::vector<std::string>{"event at 2000"});
}

TEST_F(RegisterBlockTest, AResolvedSpanServesLikeTheAddress) {
  const Bus::Span span = bus.Resolve(kBase, 0x1000);
  ASSERT_EQ(span.size, DATA + 4);  // up to the last register
  EXPECT_EQ(bus.Read32(span, STAT / 4), 0x000000F0u);
  bus.Write32(span, CTRL / 4, 0x0000FF00);
  EXPECT_EQ(bus.Read32(span, CTRL / 4), 0x0000FF05u);
  // Hooks, events and refusals take the full path from the span too.
  EXPECT_EQ(bus.Read32(span, DATA / 4), 0x100u);
  block.Schedule(0);
  EXPECT_EQ(bus.Read32(span, STAT / 4), 0x000000F1u);
  bus.Read32(span, CMD / 4);
  EXPECT_EQ(Faults().size(), 1u);
  // A traced bus sees every access of the span, plain reads included.
  testsupport::RecordingTrace trace;
  bus.SetTrace(&trace);
  bus.Read32(span, ID / 4);
  bus.Write32(span, CTRL / 4, 0);
  bus.SetTrace(nullptr);
  ASSERT_EQ(trace.records.size(), 2u);
  EXPECT_EQ(trace.records[0].address, kBase + ID);
  EXPECT_EQ(trace.records[0].value, 0x27000001u);
  EXPECT_STREQ(trace.records[0].name, "ID");
  EXPECT_TRUE(trace.records[1].write);
  // A range is clipped to the block's registers; one past them or outside
  // every block resolves to nothing, and its accesses take the full path.
  EXPECT_EQ(bus.Resolve(kBase + ID, 0x1000).size, DATA + 4 - ID);
  EXPECT_EQ(bus.Resolve(kBase + 0x1000, 0x1000).size, 0u);
  EXPECT_EQ(bus.Resolve(kBase - 0x1000, 0x1000).size, 0u);
}

TEST_F(RegisterBlockTest, PokeStoresPastMasksAndRunsTheWriteHook) {
  EXPECT_TRUE(RegisterBackdoor(block).Poke(ID, 0x55));
  EXPECT_EQ(Read(ID), 0x55u);
  EXPECT_TRUE(RegisterBackdoor(block).Poke(CTRL, 0xFFFFFFFF));
  EXPECT_EQ(Read(CTRL), 0xFFFFFFFFu);
  EXPECT_EQ(block.log, std::vector<std::string>{"CTRL a005 ffffffff ffffffff"});
  EXPECT_FALSE(RegisterBackdoor(block).Poke(0x10, 1));
  // No virtual time passed for either.
  EXPECT_EQ(bus.AccessCount(), 2u);
}

// A poll loop as the host accessor serves it from the bus's lease (STAT
// polled, DATA's hooked reads among the reads lent), traced: what the trace
// tells, each run expanded, is every access the loop made, in order, at its
// time and with the value it saw, also when a DATA read brings the block's
// next event nearer in the middle of what was lent.
TEST_F(RegisterBlockTest, ATracedPollLoopOnTheLeaseIsTracedAccessForAccess) {
  const Bus::Span span = bus.Resolve(kBase, 0x1000);
  Register& stat = *span.decode[STAT / 4];
  Register& data = *span.decode[DATA / 4];
  testsupport::RecordingTrace trace;
  bus.SetTrace(&trace);
  std::vector<TraceRecord> seen;
  const auto poll = [&](Bus::Lease& lease) {
    const uint32_t value = --lease.left != ~uintptr_t{0} ? *lease.value : bus.ReadLeased();
    seen.push_back(TraceRecord{bus.Now(), false, kBase + STAT, value, "STAT"});
  };
  const auto take = [&](Bus::Lease& lease) {
    const uint32_t value = lease.hooks == Bus::Lease::kTraced && lease.left != 0
                               ? bus.ReadLentTraced(span, data, DATA)
                               : bus.Read32(span, data, DATA);
    seen.push_back(TraceRecord{bus.Now(), false, kBase + DATA, value, "DATA"});
  };
  const Nanoseconds c = bus.AccessCost();
  block.Schedule(40 * c);
  Bus::Lease& lease = bus.LendPlainReads(span, stat, STAT);
  EXPECT_EQ(bus.Read32(span, stat, STAT), 0x000000F0u);
  seen.push_back(TraceRecord{bus.Now(), false, kBase + STAT, 0x000000F0u, "STAT"});
  for (int k = 0; k < 3; ++k) poll(lease);
  take(lease);
  for (int k = 0; k < 3; ++k) poll(lease);
  EXPECT_EQ(lease.hooks, Bus::Lease::kTraced);  // DATA's next read is one of those lent
  block.eventOnData = bus.Now() + 3 * c;        // two polls after the next read
  take(lease);
  for (int k = 0; k < 5; ++k) poll(lease);  // the event lands on the second
  take(lease);
  for (int k = 0; k < 2; ++k) poll(lease);
  bus.SetTrace(nullptr);
  EXPECT_EQ(block.log, std::vector<std::string>{"event at " + std::to_string(11 * c)});
  EXPECT_EQ(seen[10].value, 0x000000F1u);
  ASSERT_EQ(trace.records.size(), seen.size());
  for (size_t k = 0; k < seen.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(trace.records[k].time, seen[k].time);
    EXPECT_EQ(trace.records[k].address, seen[k].address);
    EXPECT_EQ(trace.records[k].value, seen[k].value);
  }
}

}  // namespace
