// A recording through the simulated converter and back out: pelmok-daq
// replaying a WAV at its own rate, pelmok-daq's report of appended files, and
// pelmok-data exporting what the board wrote.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tools/tool_process.h"

namespace {

using toolprocess::Outcome;
using toolprocess::Quote;

class ReplayTest : public ::testing::Test {
 protected:
  Outcome Daq(const std::string& args) {
    return toolprocess::Run(std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) +
                                " --device-root " + Quote(Device()) + " " + args,
                            scratch.path());
  }
  Outcome Data(const std::string& args) {
    return toolprocess::Run(Quote(PELMOK_DATA_PATH) + " " + args, scratch.path());
  }
  std::string Device() const { return scratch.path() + "/device"; }
  std::string DataDir() const { return Device() + "/Hard Disk/Pelmok/Data"; }
  void Configure(const std::string& text) {
    scratch.MakeDirs("device/FlashFX Disk/Pelmok");
    scratch.MakeDirs("device/Hard Disk/Pelmok/Data");
    scratch.WriteFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt", text);
  }
  testsupport::ScratchDir scratch;
};

// 24-bit samples, all different, so a replay's starting point shows.
std::vector<int32_t> DistinctSamples(size_t n) {
  std::vector<int32_t> samples;
  std::mt19937 random(11);
  for (size_t i = 0; i < n; ++i)
    samples.push_back(static_cast<int32_t>(i * 4099 % 16777216) - 8388608 +
                      static_cast<int32_t>(random() % 7));
  return samples;
}

void WriteWav(const std::string& path, const std::vector<int32_t>& samples, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  std::vector<int> scaled;
  for (int32_t s : samples) scaled.push_back(static_cast<int>(static_cast<uint32_t>(s) << 8));
  ASSERT_EQ(sf_write_int(f, scaled.data(), static_cast<sf_count_t>(scaled.size())),
            static_cast<sf_count_t>(scaled.size()));
  sf_close(f);
}

std::vector<int32_t> ReadWav(const std::string& path, int* rate) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(f, nullptr) << path;
  if (f == nullptr) return {};
  std::vector<int32_t> samples(static_cast<size_t>(info.frames));
  sf_read_int(f, samples.data(), info.frames);
  sf_close(f);
  for (int32_t& s : samples) s >>= 8;
  *rate = info.samplerate;
  return samples;
}

TEST_F(ReplayTest, AWavReplayedAndExportedGivesTheSameSamples) {
  const std::vector<int32_t> samples = DistinctSamples(4800);
  WriteWav(scratch.path() + "/in.wav", samples, 48000);
  // One record as long as the recording, written once.
  Configure(
      "Sample rate:48000\nNumber of samples per record:4800\nNumber of records per Flash Disk "
      "file:1\n"
      "Number of Flash Disk files per USB write:1\nSeconds to sleep between acquisitions:1\n");
  const Outcome run = Daq("--signal " + Quote("wav:" + scratch.path() + "/in.wav"));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("converter at 48000 Hz (the WAV file's own rate)"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("lost to overrun 0"), std::string::npos) << run.out;
  const std::vector<std::string> files = scratch.List("device/Hard Disk/Pelmok/Data");
  ASSERT_EQ(files.size(), 1u);

  const std::string config = Quote(Device() + "/FlashFX Disk/Pelmok/PelmokConfig.txt");
  const Outcome exported =
      Data("export --config " + config + " -o " + Quote(scratch.path() + "/out.wav") + " " +
           Quote(DataDir() + "/" + files[0]));
  ASSERT_EQ(exported.status, 0) << exported.err;
  int rate = 0;
  const std::vector<int32_t> back = ReadWav(scratch.path() + "/out.wav", &rate);
  EXPECT_EQ(rate, 48000);
  ASSERT_EQ(back.size(), samples.size());
  // The record starts wherever the converter was when reading began; from
  // there on it is the recording, looping, sample for sample.
  size_t start = 0;
  while (start < samples.size() && samples[start] != back[0]) ++start;
  ASSERT_LT(start, samples.size());
  std::vector<int32_t> expected;
  for (size_t i = 0; i < samples.size(); ++i)
    expected.push_back(samples[(start + i) % samples.size()]);
  EXPECT_EQ(back, expected);

  // An explicit --frame-rate wins over the file's rate.
  const Outcome faster =
      Daq("--frame-rate 96000 --signal " + Quote("wav:" + scratch.path() + "/in.wav"));
  EXPECT_NE(faster.out.find("converter at 96000 Hz\n"), std::string::npos) << faster.out;
}

TEST_F(ReplayTest, ARunThatAppendsToAnEarlierFileSaysSoWithTheBytesAdded) {
  Configure(
      "Number of samples per record:8\nNumber of records per Flash Disk file:1\n"
      "Number of Flash Disk files per USB write:1\nSeconds to sleep between acquisitions:1\n");
  // Files an earlier run left for each second the run may write in: a name
  // is unique per second only. The board's clock starts at the host's.
  const time_t now = std::time(nullptr);
  for (time_t t = now; t < now + 20; ++t) {
    std::tm local;
    localtime_r(&t, &local);
    const std::string name = std::to_string(local.tm_year) + "-" + std::to_string(local.tm_yday) +
                             "-" + std::to_string(local.tm_hour) + "-" +
                             std::to_string(local.tm_min) + "-" + std::to_string(local.tm_sec);
    scratch.WriteFile("device/Hard Disk/Pelmok/Data/" + name, "earlier!");
  }
  const Outcome run = Daq("--signal counter");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("which existed before: 32 bytes added (40 bytes now)"), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("pelmok-daq: wrote"), std::string::npos) << run.out;
}

}  // namespace
