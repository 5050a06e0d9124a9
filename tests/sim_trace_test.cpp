// The register trace's two forms, and the bus alarm the progress line rides on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hardware/register_windows.h"
#include "hardware/ssp3.h"
#include "sim/pxa27x_ssp.h"
#include "sim/trace.h"
#include "tests/test_support.h"

namespace {

// The rule in docs/tools.md that expands a compact trace into the every-access one.
const char kExpand[] =
    "awk '{ n = 1; if (NF == 6) n = substr($6, 2) + 0; "
    "for (k = 0; k < n; k++) printf \"%.0f %s %s %s %s\\n\", $1 + 500 * k, $2, $3, $4, $5 }'";

// Both forms of one run at once.
class BothForms : public sim::TraceSink {
 public:
  BothForms(const sim::Bus& bus, FILE* compact, FILE* every)
      : compact_(bus, compact, sim::TextTrace::kCompact),
        every_(bus, every, sim::TextTrace::kEveryAccess) {}
  void Record(const sim::TraceRecord& access) override {
    compact_.Record(access);
    every_.Record(access);
  }
  void Flush() {
    compact_.Flush();
    every_.Flush();
  }

 private:
  sim::TextTrace compact_;
  sim::TextTrace every_;
};

using TraceTest = testsupport::BoardTest;

TEST_F(TraceTest, CompactTraceExpandsToEveryAccessByteForByte) {
  const std::string compactPath = device.path() + "/compact.txt";
  const std::string everyPath = device.path() + "/every.txt";
  FILE* compact = std::fopen(compactPath.c_str(), "w");
  FILE* every = std::fopen(everyPath.c_str(), "w");
  ASSERT_TRUE(compact && every);
  {
    BothForms trace(bus(), compact, every);
    bus().SetTrace(&trace);
    MapSspRegisters();
    InitNSSP();
    std::vector<uint32_t> record(300);
    ASSERT_EQ(ReadSspSamples(record.data(), static_cast<int32_t>(record.size())), 300);
    // A pause between two equal reads: no run across it.
    bus().Advance(1234);
    ReadSspSamples(record.data(), 2);
    UnmapRegisterWindow(v_pClkRegs);
    UnmapRegisterWindow(SspRegPtr);
    UnmapRegisterWindow(GpioRegPtr);
    bus().SetTrace(nullptr);
    trace.Flush();
  }
  std::fclose(compact);
  std::fclose(every);

  const std::string compactText = device.ReadFile("compact.txt");
  const std::string everyText = device.ReadFile("every.txt");
  // The poll loop's runs fold: most of the lines are gone, and some carry a count.
  EXPECT_LT(compactText.size() * 5, everyText.size());
  EXPECT_NE(compactText.find(" SSP3.SSSR 0x0000f034 x"), std::string::npos);
  // Every-access lines carry exactly five fields.
  EXPECT_EQ(everyText.find(" x"), std::string::npos);

  const std::string command =
      std::string(kExpand) + " '" + compactPath + "' > '" + device.path() + "/expanded.txt'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(device.ReadFile("expanded.txt") == everyText) << "the expanded compact trace differs";
}

// A line's fields against printf's: times across the digits the trace keeps
// formatted between lines, and runs of every length of count.
TEST_F(TraceTest, LinesCarryPrintfsDigitsWhateverTheTimeAndCount) {
  const std::string path = device.path() + "/lines.txt";
  FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_TRUE(out);
  const uint32_t sssr = 0x41900008u, sscr0 = 0x41900000u;
  const sim::Nanoseconds times[] = {0,         7,          9999,       10000,        99999999,
                                    100000000, 100000001,  199999999,  123456789012, 123456789013,
                                    5,         1000000000, 9999999999, 10000000000};
  const uint64_t counts[] = {1, 2, 9, 10, 99, 999, 1000, 9999, 10000, 123456, 1, 18};
  std::string expected;
  char line[128];
  {
    sim::TextTrace trace(bus(), out, sim::TextTrace::kCompact);
    size_t k = 0;
    for (const sim::Nanoseconds t : times) {
      const uint64_t n = counts[k % (sizeof counts / sizeof counts[0])];
      // Alternate registers, so that no two of them make one run.
      const uint32_t address = k % 2 ? sscr0 : sssr;
      const uint32_t value = static_cast<uint32_t>(0x9E3779B9u * (k + 1));
      const bool write = k % 5 == 3;
      const sim::TraceRecord access{t, write, address, value, nullptr};
      if (write || n == 1) {
        trace.Record(access);
      } else {
        trace.Record(access);
        sim::TraceRecord next = access;
        next.time += bus().AccessCost();
        trace.RecordRepeats(next, n - 1, bus().AccessCost());
      }
      const uint64_t shown = write ? 1 : n;
      int used = std::snprintf(line, sizeof line, "%llu %c 0x%08x %s 0x%08x",
                               static_cast<unsigned long long>(t), write ? 'W' : 'R', address,
                               bus().Describe(address).c_str(), value);
      if (shown > 1)
        used += std::snprintf(line + used, sizeof line - used, " x%llu",
                              static_cast<unsigned long long>(shown));
      expected += std::string(line, used) + "\n";
      ++k;
    }
  }
  std::fclose(out);
  EXPECT_EQ(device.ReadFile("lines.txt"), expected);
}

// A poll loop's lines come again and again, their text after the time from a
// cache: a line that differs from an earlier one only in its count, its value
// or being a write carries its own, against printf's, whatever the time.
TEST_F(TraceTest, ALineLikeAnEarlierOneCarriesItsOwnCountValueAndDirection) {
  const std::string path = device.path() + "/repeats.txt";
  FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_TRUE(out);
  const uint32_t sssr = 0x41900008u, ssdr = 0x41900010u, unnamed = 0x41900004u;
  struct Line {
    uint32_t address;
    uint32_t value;
    bool write;
    uint64_t count;
  };
  const Line frame[] = {{sssr, 0xf034, false, 18}, {sssr, 0x7c, false, 1},  {ssdr, 5, false, 1},
                        {sssr, 0xf034, false, 17}, {sssr, 0xf034, true, 1}, {sssr, 0x7c, false, 2},
                        {ssdr, 5, true, 1},        {ssdr, 6, false, 1},     {unnamed, 5, false, 1},
                        {sssr, 0xf034, false, 1}};
  const sim::Nanoseconds c = bus().AccessCost();
  std::string expected;
  char text[128];
  {
    sim::TextTrace trace(bus(), out, sim::TextTrace::kCompact);
    sim::Nanoseconds t = 99990000;  // the frames cross 10^8 ns
    for (int round = 0; round < 40; ++round) {
      for (const Line& line : frame) {
        const sim::TraceRecord access{t, line.write, line.address, line.value, nullptr};
        trace.Record(access);
        if (line.count > 1)
          trace.RecordRepeats(sim::TraceRecord{t + c, false, line.address, line.value, nullptr},
                              line.count - 1, c);
        int used = std::snprintf(text, sizeof text, "%llu %c 0x%08x %s 0x%08x",
                                 static_cast<unsigned long long>(t), line.write ? 'W' : 'R',
                                 line.address, bus().Describe(line.address).c_str(), line.value);
        if (line.count > 1)
          used += std::snprintf(text + used, sizeof text - used, " x%llu",
                                static_cast<unsigned long long>(line.count));
        expected += std::string(text, used) + "\n";
        // A gap after each line: no run goes on into the next one.
        t += (line.count + 1) * c;
      }
    }
  }
  std::fclose(out);
  EXPECT_EQ(device.ReadFile("repeats.txt"), expected);
}

// A poll loop's frames, their lines' text after the time cached, across
// every kind of change of the time's digits (the count growing below 10^8,
// the digits above the last eight carrying or growing, a time going back, up
// to 20 digits, the largest time there is), each frame with a read of a
// register whose name is of another length, to past the 256 characters a
// line keeps.
TEST_F(TraceTest, APollLoopsLinesCarryPrintfsTimesAndNamesOfAnyLength) {
  const std::string path = device.path() + "/carries.txt";
  FILE* out = std::fopen(path.c_str(), "w");
  ASSERT_TRUE(out);
  const std::string past32(20, 'P'), past48(40, 'Q'), past256(300, 'X');
  const std::vector<sim::RegisterRow> rows = {{0x08, "SSSR", 0, 0, 0, sim::kReadable},
                                              {0x10, "SSDR", 0, 0, 0, sim::kReadable},
                                              {0x20, past32.c_str(), 0, 0, 0, sim::kReadable},
                                              {0x24, past48.c_str(), 0, 0, 0, sim::kReadable},
                                              {0x28, past256.c_str(), 0, 0, 0, sim::kReadable}};
  sim::RegisterBlock port("PORT", rows);
  sim::Bus bus;
  bus.Attach(0x41900000u, 0x100, &port);
  const uint32_t sssr = 0x41900008u, ssdr = 0x41900010u;
  const uint32_t named[] = {0x41900020u, 0x41900024u, 0x41900028u, 0x4190002cu};
  const sim::Nanoseconds c = bus.AccessCost();
  const sim::Nanoseconds last = ~sim::Nanoseconds{0};  // 2^64 - 1, 20 digits
  const sim::Nanoseconds starts[] = {
      0, 990, 9990000, 99990000, 199990000, 9999990000u, 40000, 999999999999990000u, last - 41500};
  std::string expected;
  char text[512];
  const auto expect = [&](sim::Nanoseconds t, uint32_t address, uint32_t value, uint64_t n) {
    // A name is cut where the address and it reach 256 characters.
    int used = std::snprintf(text, sizeof text, "%llu R 0x%08x %.245s 0x%08x",
                             static_cast<unsigned long long>(t), address,
                             bus.Describe(address).c_str(), value);
    if (n > 1)
      used += std::snprintf(text + used, sizeof text - used, " x%llu",
                            static_cast<unsigned long long>(n));
    expected += std::string(text, used) + "\n";
  };
  {
    sim::TextTrace trace(bus, out, sim::TextTrace::kCompact);
    for (const sim::Nanoseconds start : starts) {
      sim::Nanoseconds t = start;
      for (int frame = 0; frame < 4; ++frame) {  // 42,000 ns: across each carry
        const uint32_t word = 0x00fd0000u + static_cast<uint32_t>(frame % 2);
        trace.Record({t, false, sssr, 0xf034, nullptr});
        trace.RecordRepeats({t + c, false, sssr, 0xf034, nullptr}, 17, c);
        expect(t, sssr, 0xf034, 18);
        trace.Record({t + 18 * c, false, sssr, 0x7c, nullptr});
        expect(t + 18 * c, sssr, 0x7c, 1);
        trace.Record({t + 19 * c, false, ssdr, word, nullptr});
        expect(t + 19 * c, ssdr, word, 1);
        trace.Record({t + 20 * c, false, named[frame], word, nullptr});
        expect(t + 20 * c, named[frame], word, 1);
        t += 21 * c;
      }
    }
  }
  std::fclose(out);
  EXPECT_EQ(device.ReadFile("carries.txt"), expected);
}

TEST_F(TraceTest, AlarmRingsOnceAtTheFirstEventAfterItsTime) {
  MapSspRegisters();
  InitNSSP();
  std::vector<sim::Nanoseconds> rings;
  struct Context {
    sim::Bus* bus;
    std::vector<sim::Nanoseconds>* rings;
  } context{&bus(), &rings};
  const sim::Nanoseconds at = bus().Now() + 1000000;
  bus().SetAlarm(
      at,
      [](void* c) {
        auto* ctx = static_cast<Context*>(c);
        ctx->rings->push_back(ctx->bus->Now());
      },
      &context);
  std::vector<uint32_t> record(300);  // 3 ms of frames at 100 kHz
  ReadSspSamples(record.data(), static_cast<int32_t>(record.size()));
  ASSERT_EQ(rings.size(), 1u);
  // Within a frame period of its time: the frame's event reaches it.
  EXPECT_GE(rings[0], at);
  EXPECT_LT(rings[0], at + 10000);
  UnmapRegisterWindow(v_pClkRegs);
  UnmapRegisterWindow(SspRegPtr);
  UnmapRegisterWindow(GpioRegPtr);
}

TEST_F(TraceTest, ARunOfReadsServedInlineIsTracedInFullAndABackdoorChangeInItIsAFault) {
  SspRegPtr = MapPhysicalAddr(0x41900000, 24);
  ASSERT_NE(SspRegPtr, nullptr);
  testsupport::RecordingTrace trace;
  bus().SetTrace(&trace);
  const auto sssrReads = [&] {
    bus().EndTraceRun();
    std::vector<sim::Nanoseconds> times;
    for (const auto& r : trace.records)
      if (!r.write && r.address == 0x41900008u) times.push_back(r.time);
    return times;
  };
  // The port is idle: no event, every read of SSSR but the first inline.
  const sim::Nanoseconds start = bus().Now();
  for (int k = 0; k < 7; ++k) RegRead(SspRegPtr, 0x08);
  const std::vector<sim::Nanoseconds> times = sssrReads();
  ASSERT_EQ(times.size(), 7u);
  for (size_t k = 0; k < times.size(); ++k)
    EXPECT_EQ(times[k], start + (k + 1) * bus().AccessCost());
  // A word pushed in by the backdoor changes SSSR with no access: the run's
  // lines would carry the old value, so closing it faults.
  testsupport::FaultCatcher catcher;
  RegRead(SspRegPtr, 0x08);
  RegRead(SspRegPtr, 0x08);
  board().ssp3TestPort().Inject(5);
  EXPECT_NE(RegRead(SspRegPtr, 0x08) & 0x8u, 0u);  // RNE: the program sees the word
  RegRead(SspRegPtr, 0x10);
  const std::vector<std::string> faults = testsupport::FaultCatcher::Take();
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("SSP3.SSSR changed from 0x0000f004"), std::string::npos) << faults[0];
  bus().SetTrace(nullptr);
  UnmapRegisterWindow(SspRegPtr);
}

// After a traced read of the FIFO the polled register's reads stay inline, a
// run the trace hears of when it ends; a backdoor change before its first read
// is what that read sees, one after it is a fault.
TEST_F(TraceTest, ThePollsAfterAFifoReadAreARunOfTheirOwn) {
  SspRegPtr = MapPhysicalAddr(0x41900000, 24);
  ASSERT_NE(SspRegPtr, nullptr);
  testsupport::RecordingTrace trace;
  bus().SetTrace(&trace);
  testsupport::FaultCatcher catcher;
  const uint32_t empty = RegRead(SspRegPtr, 0x08);  // the window's first access
  board().ssp3TestPort().Inject(7);
  board().ssp3TestPort().Inject(8);
  const uint32_t ready = RegRead(SspRegPtr, 0x08);
  EXPECT_NE(ready, empty);
  EXPECT_EQ(RegRead(SspRegPtr, 0x10), 7u);
  const sim::Nanoseconds fifoRead = bus().Now();
  const uint32_t polled = RegRead(SspRegPtr, 0x08);  // one word left
  EXPECT_NE(polled, empty);
  for (int k = 0; k < 2; ++k) EXPECT_EQ(RegRead(SspRegPtr, 0x08), polled);
  ASSERT_EQ(trace.records.size(), 3u);  // not heard of yet: the last line is the FIFO's
  bus().EndTraceRun();
  ASSERT_EQ(trace.records.size(), 6u);
  for (size_t k = 3; k < 6; ++k) {
    EXPECT_EQ(trace.records[k].address, 0x41900008u);
    EXPECT_EQ(trace.records[k].value, polled);
    EXPECT_EQ(trace.records[k].time, fifoRead + (k - 2) * bus().AccessCost());
  }
  EXPECT_EQ(RegRead(SspRegPtr, 0x10), 8u);
  board().ssp3TestPort().Inject(9);  // before the run's first read: no fault
  const uint32_t seen = RegRead(SspRegPtr, 0x08);
  bus().EndTraceRun();
  EXPECT_TRUE(testsupport::FaultCatcher::Take().empty());
  EXPECT_EQ(trace.records.back().value, seen);
  EXPECT_EQ(RegRead(SspRegPtr, 0x10), 9u);
  RegRead(SspRegPtr, 0x08);
  board().ssp3TestPort().Inject(10);  // after a read of the run: its lines would lie
  EXPECT_EQ(testsupport::FaultCatcher::Take().size(), 1u);
  bus().SetTrace(nullptr);
  UnmapRegisterWindow(SspRegPtr);
}

}  // namespace
