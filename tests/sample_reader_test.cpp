// The polling sample reader against the SSP3 model's receive FIFO.
#include <gtest/gtest.h>

#include <vector>

#include "hardware/pxa27x_ssp_regs.h"
#include "hardware/register_windows.h"
#include "hardware/ssp3.h"
#include "sim/pxa27x_ssp.h"
#include "tests/test_support.h"

namespace {

using testsupport::RecordingTrace;

// The port is left unprogrammed, so the converter sends nothing: every word
// comes through the test's back door.
class SampleReaderTest : public testsupport::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    SspRegPtr = MapPhysicalAddr(0x41900000, 24);
    ASSERT_NE(SspRegPtr, nullptr);
    bus().SetTrace(&trace);
  }
  void TearDown() override {
    bus().SetTrace(nullptr);
    UnmapRegisterWindow(SspRegPtr);
    BoardTest::TearDown();
  }
  size_t Reads(uint32_t offset) {
    bus().EndTraceRun();  // the poll loop's last run of reads
    size_t n = 0;
    for (const auto& r : trace.records) n += !r.write && r.address == 0x41900000u + offset;
    return n;
  }
  RecordingTrace trace;
};

TEST_F(SampleReaderTest, NoCountReadsNothing) {
  uint32_t buffer[2] = {7, 7};
  EXPECT_EQ(ReadSspSamples(buffer, 0), 0);
  EXPECT_EQ(ReadSspSamples(buffer, -3), 0);
  EXPECT_TRUE(trace.records.empty());
  EXPECT_EQ(buffer[0], 7u);
}

TEST_F(SampleReaderTest, ReadyWordsTakeOnePollAndOneReadEach) {
  for (uint32_t w : {0x00ABCDEFu, 0xFF000001u, 0x00000000u}) board().ssp3TestPort().Inject(w);
  uint32_t buffer[3] = {};
  EXPECT_EQ(ReadSspSamples(buffer, 3), 3);
  // Words land unchanged and in FIFO order: no masking, no sign extension.
  EXPECT_EQ(std::vector<uint32_t>(buffer, buffer + 3),
            (std::vector<uint32_t>{0x00ABCDEF, 0xFF000001, 0}));
  EXPECT_EQ(Reads(SSSR), 3u);
  EXPECT_EQ(Reads(SSDR), 3u);
  EXPECT_TRUE(console.empty());
}

TEST_F(SampleReaderTest, WordOnTheLastPollOfTheBudgetIsRead) {
  // RNE first seen on poll 262,144 of the second sample: it is read.
  board().ssp3TestPort().Inject(1);
  board().ssp3TestPort().InjectAtPoll(1 + 262144, 2);
  uint32_t buffer[2] = {};
  EXPECT_EQ(ReadSspSamples(buffer, 2), 2);
  EXPECT_EQ(buffer[0], 1u);
  EXPECT_EQ(buffer[1], 2u);
  EXPECT_EQ(Reads(SSSR), 1u + 262144u);
  EXPECT_TRUE(console.empty());
}

TEST_F(SampleReaderTest, TimeOutMidRecordKeepsWhatWasReadAndZeroesTheRest) {
  // Two words, then none: 262,144 polls for the third, the message, -1; the
  // words the read did not reach no longer hold the earlier record's.
  board().ssp3TestPort().Inject(0x11);
  board().ssp3TestPort().Inject(0x22);
  uint32_t buffer[4] = {9, 9, 9, 9};
  EXPECT_EQ(ReadSspSamples(buffer, 4), -1);
  EXPECT_EQ(std::vector<uint32_t>(buffer, buffer + 4), (std::vector<uint32_t>{0x11, 0x22, 0, 0}));
  EXPECT_EQ(Reads(SSSR), 2u + 262144u);
  EXPECT_EQ(Reads(SSDR), 2u);
  EXPECT_EQ(console, "Read SSP timed out with RNE = 0\n");
}

TEST_F(SampleReaderTest, TimeOutOnTheFirstSampleZeroesTheRecordOnly) {
  uint32_t buffer[3] = {5, 6, 7};
  EXPECT_EQ(ReadSspSamples(buffer, 2), -1);
  EXPECT_EQ(buffer[0], 0u);
  EXPECT_EQ(buffer[1], 0u);
  EXPECT_EQ(buffer[2], 7u);  // beyond the count: not the record's
  EXPECT_EQ(Reads(SSSR), 262144u);
  EXPECT_EQ(Reads(SSDR), 0u);
}

TEST_F(SampleReaderTest, OverrunIsClearedWhenSeenAndReportedOncePerCall) {
  // 17 words into a 16-entry FIFO: the last is dropped and ROR comes up.
  for (uint32_t w = 1; w <= 17; ++w) board().ssp3TestPort().Inject(w);
  ASSERT_EQ(board().ssp3().FramesLost(), 1u);
  uint32_t buffer[16] = {};
  EXPECT_EQ(ReadSspSamples(buffer, 4), 4);
  // The first poll saw ROR and cleared it with a write of the bit alone.
  std::vector<uint32_t> writes;
  for (const auto& r : trace.records)
    if (r.write) writes.push_back(r.address);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], 0x41900000u + SSSR);
  EXPECT_EQ(trace.records[1].value, SSSR_ROR);
  EXPECT_EQ(trace.records[0].value & SSSR_ROR, SSSR_ROR);
  EXPECT_EQ(console, "Read SSP overrun: samples lost\n");
  EXPECT_EQ(std::vector<uint32_t>(buffer, buffer + 4), (std::vector<uint32_t>{1, 2, 3, 4}));

  // Cleared, so the next overrun shows again, in the next call.
  console.clear();
  trace.records.clear();
  for (uint32_t w = 5; w <= 9; ++w) board().ssp3TestPort().Inject(w);  // 12 + 5: one dropped
  EXPECT_EQ(ReadSspSamples(buffer, 16), 16);
  EXPECT_EQ(console, "Read SSP overrun: samples lost\n");
  EXPECT_EQ(trace.records.size(), 16u * 2u + 1u);
  EXPECT_EQ(buffer[15], 8u);
  // No overrun, no extra access: one SSSR read and one SSDR read a sample.
  console.clear();
  trace.records.clear();
  for (uint32_t w = 0; w < 3; ++w) board().ssp3TestPort().Inject(w);
  EXPECT_EQ(ReadSspSamples(buffer, 3), 3);
  EXPECT_EQ(trace.records.size(), 6u);
  EXPECT_TRUE(console.empty());
}

TEST_F(SampleReaderTest, NoWindowNoAccess) {
  UnmapRegisterWindow(SspRegPtr);
  SspRegPtr = nullptr;
  uint32_t buffer[1] = {4};
  EXPECT_EQ(ReadSspSamples(buffer, 1), -1);
  EXPECT_EQ(ReadSspSamples(buffer, 0), 0);
  EXPECT_EQ(buffer[0], 4u);
  EXPECT_TRUE(trace.records.empty());
  EXPECT_EQ(console, "Read SSP skipped: no SSP register window\n");
}

}  // namespace
