// Whole runs of WinMain on the simulated board: configuration in, console
// and data files out.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "hardware/register_windows.h"
#include "sim/pxa27x_ssp.h"
#include "sim/signal.h"
#include "tests/test_support.h"

namespace {

std::string Config(int samples, int records, int files, int sleep) {
  return "Sample rate:100000\nNumber of samples per record:" + std::to_string(samples) +
         "\nNumber of hydrophones:4\nNumber of records per Flash Disk file:" +
         std::to_string(records) +
         "\nNumber of Flash Disk files per USB write:" + std::to_string(files) +
         "\nSeconds to sleep between acquisitions:" + std::to_string(sleep) + "\n";
}

std::vector<uint32_t> Words(const std::string& bytes) {
  std::vector<uint32_t> words(bytes.size() / 4);
  for (size_t i = 0; i < words.size(); ++i) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + 4 * i);
    words[i] = b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
  }
  return words;
}

class AcquisitionRunTest : public testsupport::BoardTest {
 protected:
  sim::BoardOptions Options() const override {
    sim::BoardOptions o = BoardTest::Options();
    o.frameRateHz = frameRate_;
    o.signal = sim::MakeSignal(signal_, o.frameRateHz, nullptr);
    o.stallAfterFrames = stallAfter_;
    return o;
  }
  void SetUp() override {
    BoardTest::SetUp();
    device.MakeDirs("FlashFX Disk/Pelmok");
    device.MakeDirs("Hard Disk/Pelmok/Data");
    setenv("TZ", "UTC0", 1);
    tzset();
  }
  // Runs the program and returns its result; the console text after the
  // set-up is left in `loop`.
  int Run(const std::string& config) {
    if (!config.empty()) device.WriteFile("FlashFX Disk/Pelmok/PelmokConfig.txt", config);
    testing::internal::CaptureStdout();
    wchar_t commandLine[] = L"";
    const int result = WinMain(nullptr, nullptr, commandLine, 0);
    stdoutText = testing::internal::GetCapturedStdout();
    const std::string end = " InitNSSP: - \r\n";
    const size_t at = console.find(end);
    loop = at == std::string::npos ? std::string() : console.substr(at + end.size());
    return result;
  }
  std::vector<std::string> DataFiles() const { return device.List("Hard Disk/Pelmok/Data"); }
  std::vector<uint32_t> DataFile(const std::string& name) const {
    return Words(device.ReadFile("Hard Disk/Pelmok/Data/" + name));
  }

  const char* signal_ = "counter";
  uint32_t frameRate_ = 100000;
  uint64_t stallAfter_ = ~uint64_t{0};
  std::string loop;
  std::string stdoutText;
};

TEST_F(AcquisitionRunTest, CounterFramesReachTheDiskInOrder) {
  // 2 file iterations of 3 records of 1000 samples; both writes fall in the
  // same second of the board's clock, so they share one file.
  EXPECT_EQ(Run(Config(1000, 3, 2, 1)), 0);
  EXPECT_EQ(stdoutText, "\r\nPrototype Pelmok Data Acq program\r\n");
  EXPECT_EQ(
      console.rfind("\r\nPrototype Pelmok Data Acq program\r\nOpened Configuration File \n", 0),
      0u);
  EXPECT_EQ(loop,
            "Record Count = 0\nRecord Count = 1\nRecord Count = 2\n"
            "Wrote 1000 samples to flash \nFile Count = 0\n"
            "Record Count = 0\nRecord Count = 1\nRecord Count = 2\n"
            "Wrote 1000 samples to flash \nFile Count = 1\n");
  ASSERT_EQ(DataFiles(), std::vector<std::string>{"109-77-14-5-9"});
  // Iteration i holds its last record: frames (3i + 2) * 1000 onwards.
  const std::vector<uint32_t> words = DataFile("109-77-14-5-9");
  ASSERT_EQ(words.size(), 2000u);
  for (uint32_t i = 0; i < 2; ++i)
    for (uint32_t k = 0; k < 1000; ++k)
      ASSERT_EQ(words[1000 * i + k], (3 * i + 2) * 1000 + k) << "iteration " << i << " word " << k;
  EXPECT_EQ(board().ssp3().FramesLost(), 0u);
  EXPECT_EQ(board().ssp3().FramesRead(), 6000u);
  EXPECT_TRUE(host::Reservations().empty());
}

TEST_F(AcquisitionRunTest, IterationsInDifferentSecondsGetTheirOwnFiles) {
  // 2 records of 60000 samples at 100 kHz: 1.2 s of board time an iteration.
  EXPECT_EQ(Run(Config(60000, 2, 2, 1)), 0);
  ASSERT_EQ(DataFiles(), (std::vector<std::string>{"109-77-14-5-10", "109-77-14-5-11"}));
  EXPECT_EQ(DataFile("109-77-14-5-10").front(), 60000u);
  EXPECT_EQ(DataFile("109-77-14-5-11").back(), 4u * 60000u - 1u);
}

TEST_F(AcquisitionRunTest, NoFileIterations) {
  EXPECT_EQ(Run(Config(10, 3, 0, 1)), 0);
  EXPECT_EQ(loop, "");
  EXPECT_EQ(board().ssp3().FramesRead(), 0u);
  EXPECT_TRUE(DataFiles().empty());
  EXPECT_TRUE(host::Reservations().empty());
}

TEST_F(AcquisitionRunTest, NoRecordsWritesAZeroFilledBuffer) {
  // Nothing is read, yet each iteration writes: words no read filled are 0.
  EXPECT_EQ(Run(Config(4, 0, 2, 1)), 0);
  EXPECT_EQ(loop,
            "Wrote 4 samples to flash \nFile Count = 0\n"
            "Wrote 4 samples to flash \nFile Count = 1\n");
  EXPECT_EQ(DataFile("109-77-14-5-9"), std::vector<uint32_t>(8, 0));
}

TEST_F(AcquisitionRunTest, WriteSwitchOffReadsButWritesNothing) {
  EXPECT_EQ(Run(Config(10, 2, 2, 0)), 0);
  EXPECT_EQ(loop,
            "Record Count = 0\nRecord Count = 1\nFile Count = 0\n"
            "Record Count = 0\nRecord Count = 1\nFile Count = 1\n");
  EXPECT_EQ(board().ssp3().FramesRead(), 40u);
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(AcquisitionRunTest, UnallocatableRecordsAreSkipped) {
  // Negative and over-large counts get no buffer: no read, no write, the run goes on.
  EXPECT_EQ(Run(Config(-1, 2, 1, 1)), 0);
  EXPECT_EQ(loop,
            "Cannot allocate a record of -1 samples: nothing read or written\nFile Count = 0\n");
  console.clear();
  EXPECT_EQ(Run(Config(0x40000000, 2, 1, 1)), 0);
  EXPECT_EQ(loop,
            "Cannot allocate a record of 1073741824 samples: nothing read or written\n"
            "File Count = 0\n");
  EXPECT_EQ(board().ssp3().FramesRead(), 0u);
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(AcquisitionRunTest, MissingConfigurationRunsNothing) {
  EXPECT_EQ(Run(""), 0);
  EXPECT_NE(console.find("Cannot open configuration file"), std::string::npos);
  EXPECT_EQ(loop, "");
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(AcquisitionRunTest, MissingSspWindowSkipsReadsAndStillEnds) {
  // GPIO maps, the SSP window's binding is refused.
  host::FailVirtualCopyAfter(1);
  EXPECT_EQ(Run(Config(3, 2, 1, 1)), 0);
  EXPECT_EQ(SspRegPtr, nullptr);
  EXPECT_EQ(loop,
            "Read SSP skipped: no SSP register window\nRecord Count = 0\n"
            "Read SSP skipped: no SSP register window\nRecord Count = 1\n"
            "Wrote 3 samples to flash \nFile Count = 0\n");
  EXPECT_TRUE(host::Reservations().empty());
}

class SilentConverterRunTest : public AcquisitionRunTest {
 protected:
  SilentConverterRunTest() { signal_ = "none"; }
};

TEST_F(SilentConverterRunTest, TimeOutsComeBeforeTheirRecordLine) {
  EXPECT_EQ(Run(Config(5, 2, 1, 1)), 0);
  EXPECT_EQ(loop,
            "Read SSP timed out with RNE = 0\nRecord Count = 0\n"
            "Read SSP timed out with RNE = 0\nRecord Count = 1\n"
            "Wrote 5 samples to flash \nFile Count = 0\n");
  EXPECT_EQ(DataFile("109-77-14-5-9"), std::vector<uint32_t>(5, 0));
}

}  // namespace

namespace {

class StallingConverterRunTest : public AcquisitionRunTest {
 protected:
  StallingConverterRunTest() { stallAfter_ = 2600; }
};

TEST_F(StallingConverterRunTest, StallPartWayThroughARecordLeavesZerosNotTheOldRecord) {
  // Records of 1000: the first two fill, the third gets frames 2000..2599 and
  // times out. The buffer still held the second record; the file must show
  // none of it.
  EXPECT_EQ(Run(Config(1000, 3, 1, 1)), 0);
  EXPECT_EQ(loop,
            "Record Count = 0\nRecord Count = 1\n"
            "Read SSP timed out with RNE = 0\nRecord Count = 2\n"
            "Wrote 1000 samples to flash \nFile Count = 0\n");
  const std::vector<uint32_t> words = DataFile("109-77-14-5-9");
  ASSERT_EQ(words.size(), 1000u);
  for (uint32_t k = 0; k < 600; ++k) ASSERT_EQ(words[k], 2000 + k) << k;
  for (uint32_t k = 600; k < 1000; ++k) ASSERT_EQ(words[k], 0u) << k;
}

class OverrunRunTest : public AcquisitionRunTest {
 protected:
  // Faster than one SSSR and one SSDR access (1 us) per frame: the FIFO overflows.
  OverrunRunTest() { frameRate_ = 1500000; }
};

TEST_F(OverrunRunTest, OverrunIsReportedAndTheLossesAddUp) {
  EXPECT_EQ(Run(Config(1000, 2, 1, 1)), 0);
  EXPECT_EQ(loop,
            "Read SSP overrun: samples lost\nRecord Count = 0\n"
            "Read SSP overrun: samples lost\nRecord Count = 1\n"
            "Wrote 1000 samples to flash \nFile Count = 0\n");
  const sim::Pxa27xSsp& ssp = board().ssp3();
  EXPECT_GT(ssp.FramesLost(), 0u);
  // Every frame made was read, dropped, or is still in the FIFO.
  EXPECT_EQ(ssp.FramesMade(), ssp.FramesRead() + ssp.FramesLost() + ssp.FifoLevel());
  // The counter shows the gaps: frames up to the last one stored that were
  // not read were lost.
  const std::vector<uint32_t> words = DataFile("109-77-14-5-9");
  ASSERT_EQ(words.size(), 1000u);
  for (size_t k = 1; k < words.size(); ++k) ASSERT_LT(words[k - 1], words[k]);
  const uint64_t unreadUpToLast = words.back() + 1 - ssp.FramesRead();
  EXPECT_GT(unreadUpToLast, 0u);
  EXPECT_LE(unreadUpToLast, ssp.FramesLost());
}

}  // namespace
