// Whole runs of WinMain with a file operation failing at each point in turn,
// and on a volume that fills up part-way through a write: whatever fails,
// what the console says was stored is what the data files hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "hardware/register_windows.h"
#include "sim/pxa27x_ssp.h"
#include "sim/signal.h"
#include "tests/test_support.h"

namespace {

// Records that stdio only buffers until the flush, and records larger than
// its buffer, which fwrite writes through in pieces. One record a file: each
// write has a file of its own.
struct RunShape {
  const char* name;
  int samples;
  int files;
};
const RunShape kShapes[] = {{"small_records", 64, 3}, {"large_records", 3000, 3}};
const char kDataFolder[] = "Hard Disk/Pelmok/Data";

class IoFaultLoopTest : public testsupport::BoardTest,
                        public ::testing::WithParamInterface<RunShape> {
 protected:
  const int kSamples = GetParam().samples;
  const int kWrites = GetParam().files;

  sim::BoardOptions Options() const override {
    sim::BoardOptions o = BoardTest::Options();
    o.signal = sim::MakeSignal("counter", o.frameRateHz, nullptr);
    return o;
  }
  void SetUp() override {
    BoardTest::SetUp();
    device.MakeDirs("FlashFX Disk/Pelmok");
    device.MakeDirs(kDataFolder);
    const RunShape& shape = GetParam();
    device.WriteFile(
        "FlashFX Disk/Pelmok/PelmokConfig.txt",
        "Sample rate:100000\nNumber of samples per record:" + std::to_string(shape.samples) +
            "\nNumber of hydrophones:4\nNumber of records per Flash Disk file:1"
            "\nNumber of Flash Disk files per USB write:" +
            std::to_string(shape.files) + "\nSeconds to sleep between acquisitions:1\n");
    setenv("TZ", "UTC0", 1);
    tzset();
  }

  // One run on the same board: the counter goes on from where the last run
  // left it, so the frames this run read start at FramesRead() before it.
  // Data files of earlier runs are removed first.
  void RunAndCheck(const std::string& what) {
    SCOPED_TRACE(what);
    for (const std::string& name : device.List(kDataFolder))
      std::remove((device.path() + "/" + kDataFolder + "/" + name).c_str());
    console.clear();
    GpioRegPtr = SspRegPtr = v_pClkRegs = nullptr;
    const uint64_t firstFrame = board().ssp3().FramesRead();
    testing::internal::CaptureStdout();
    wchar_t commandLine[] = L"";
    const int result = WinMain(nullptr, nullptr, commandLine, 0);
    testing::internal::GetCapturedStdout();
    operations_ = host::FileOperationCount();
    host::ClearFileFaults();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(board().ssp3().FramesLost(), 0u);

    // Each write's report: its file (a failure names it) and the words stored.
    const std::regex report(
        "(?:Write to \\\\Hard Disk\\\\Pelmok\\\\Data\\\\([0-9-]+) failed: (-?[0-9]+) of " +
        std::to_string(kSamples) +
        " samples "
        "stored\n)?Wrote (-?[0-9]+) samples to flash \n|Cannot open data file "
        "\\\\Hard Disk\\\\Pelmok\\\\Data\\\\([0-9-]+): record not written\n");
    std::vector<uint32_t> expected;  // all files' words, in the order written
    int writes = 0;
    for (std::sregex_iterator it(console.begin(), console.end(), report), end; it != end; ++it) {
      const std::smatch& m = *it;
      int stored = 0;
      if (m[3].matched) {
        stored = std::stoi(m[3]);
        if (m[2].matched) {
          EXPECT_EQ(std::stoi(m[2]), stored) << m.str();
        } else {
          EXPECT_EQ(stored, kSamples) << m.str();
        }
      }
      ASSERT_GE(stored, 0) << m.str();
      ASSERT_LE(stored, kSamples) << m.str();
      // Write i holds the frames of its record, the i-th one read.
      for (int k = 0; k < stored; ++k)
        expected.push_back(static_cast<uint32_t>(firstFrame + kSamples * writes + k));
      ++writes;
    }
    // A run whose configuration read failed writes nothing.
    if (writes != 0) {
      EXPECT_EQ(writes, kWrites) << console;
    }

    // File names are the seconds of the writes, so name order is write order.
    std::string bytes;
    for (const std::string& name : device.List(kDataFolder))
      bytes += device.ReadFile(std::string(kDataFolder) + "/" + name);
    std::string expectedBytes;
    for (uint32_t w : expected)
      for (int b = 0; b < 4; ++b) expectedBytes.push_back(static_cast<char>(w >> (8 * b)));
    // Sizes and the first word apart, not the bytes: a file is kilobytes long.
    size_t apart = 0;
    while (apart < bytes.size() && apart < expectedBytes.size() &&
           bytes[apart] == expectedBytes[apart])
      ++apart;
    EXPECT_TRUE(bytes == expectedBytes)
        << bytes.size() << " bytes on disk, " << expectedBytes.size()
        << " reported; first apart at word " << apart / 4 << "\n"
        << console;
    ++cases_;
  }

  int operations_ = 0;
  int cases_ = 0;
};

TEST_P(IoFaultLoopTest, EveryFailingFileOperationIsReportedAsStored) {
  host::CountFileOperations();
  RunAndCheck("clean run");
  const int operations = operations_;
  // The configuration read, and per write at least an open, a write and a close.
  ASSERT_GT(operations, kWrites * 3);
  for (int persistent = 0; persistent < 2; ++persistent)
    for (int n = 0; n <= operations; ++n) {
      host::FailFileOperationAfter(n, persistent != 0);
      RunAndCheck("operation " + std::to_string(n) + (persistent ? " and on" : " once"));
    }
  EXPECT_EQ(cases_, 1 + 2 * (operations + 1));
  RecordProperty("cases", cases_);
}

TEST_P(IoFaultLoopTest, VolumeFillingUpPartWayThroughAWriteIsReportedAsStored) {
  // Within the first write, on a word boundary and not, at a write's end, and
  // within the last write.
  const long long record = 4LL * kSamples;
  const long long budgets[] = {
      0, 1, 4, 130, record, record + 2, 2 * record + 1, kWrites * record - 1, kWrites * record};
  for (long long budget : budgets) {
    host::LimitVolumeBytes(budget);
    RunAndCheck("volume of " + std::to_string(budget) + " bytes");
  }
  EXPECT_EQ(cases_, 9);
}

INSTANTIATE_TEST_SUITE_P(Shapes, IoFaultLoopTest, ::testing::ValuesIn(kShapes),
                         [](const ::testing::TestParamInfo<RunShape>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
