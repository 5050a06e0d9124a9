// pelmok-daq's --signal wav:FILE as a separate process: what is no regular
// file is refused before anything runs, and a large file replays in bounded
// memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/signal.h"
#include "tests/test_support.h"
#include "tests/tools/tool_process.h"

namespace {

using toolprocess::Lines;
using toolprocess::Outcome;
using toolprocess::Quote;

constexpr int kKilled = 128 + SIGKILL;  // what timeout's KILL leaves

class PelmokDaqWavTest : public ::testing::Test {
 protected:
  // pelmok-daq with `args`, killed after `seconds` so a hang ends the run
  // (status kKilled) rather than the test; *maxRssKiB gets the run's peak
  // resident memory from wait4, which includes the program under timeout.
  Outcome Daq(const std::string& args, int seconds, long* maxRssKiB = nullptr) {
    const std::string out = scratch.path() + "/stdout", err = scratch.path() + "/stderr";
    const std::string command = "exec timeout -s KILL " + std::to_string(seconds) +
                                " env TZ=UTC0 " + PELMOK_DAQ_LAUNCHER + " " +
                                Quote(PELMOK_DAQ_PATH) + " " + args + " >" + Quote(out) + " 2>" +
                                Quote(err) + " </dev/null";
    Outcome o{-1, "", ""};
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int raw = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &raw, 0, &usage) != pid) {
      ADD_FAILURE() << "cannot run " << command;
      return o;
    }
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = scratch.ReadFile("stdout");
    o.err = scratch.ReadFile("stderr");
    if (maxRssKiB != nullptr) *maxRssKiB = usage.ru_maxrss;
    return o;
  }
  std::string Root() const { return Quote(scratch.path() + "/device"); }
  testsupport::ScratchDir scratch;
};

TEST_F(PelmokDaqWavTest, WavThatIsNoRegularFileStopsBeforeAnythingRuns) {
  // A FIFO with no writer would block a plain open; /dev/zero would never
  // end; a folder once ended the program on an uncaught exception (134).
  const std::string fifo = scratch.path() + "/fifo.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  scratch.MakeDirs("folder.wav");
  const std::string link = scratch.path() + "/zero.wav";
  ASSERT_EQ(symlink("/dev/zero", link.c_str()), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero"), link,
                                  scratch.path() + "/folder.wav", scratch.path() + "/absent.wav"}) {
    SCOPED_TRACE(path);
    const Outcome o = Daq("--signal " + Quote("wav:" + path) + " --device-root " + Root(), 60);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(Lines(o.err), 1u) << o.err;
    EXPECT_NE(o.err.find(sim::WavSignal::Supported() ? "wav:" + path + ": "
                                                     : "this build has no WAV support"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(scratch.List("device").empty()) << "nothing laid out";
  }
}

TEST_F(PelmokDaqWavTest, BytesLibsndfileTriesAsMpegGiveOneLine) {
  if (!sim::WavSignal::Supported())
    GTEST_SKIP() << "this build has no WAV support (no libsndfile for its target)";
  // libsndfile hands MPEG-looking bytes to libmpg123, which writes its notes
  // to standard error: a frame sync alone (found by the fuzz target), and a
  // RIFF file declaring MPEG Layer III with a broken stream in it.
  std::string mpegInWav = "RIFF";
  auto le = [&mpegInWav](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) mpegInWav.push_back(static_cast<char>(v >> (8 * i)));
  };
  le(130, 4);
  mpegInWav += "WAVEfmt ";
  le(30, 4);
  for (uint32_t v : {0x55u, 1u}) le(v, 2);        // MPEG Layer III, mono
  for (uint32_t v : {8000u, 1000u}) le(v, 4);     // rate, bytes a second
  for (uint32_t v : {1u, 0u, 12u, 1u}) le(v, 2);  // align, bits, extra, id
  le(2, 4);                                       // flags
  for (uint32_t v : {104u, 1u, 1393u}) le(v, 2);  // block, frames, delay
  mpegInWav += "data";
  le(80, 4);
  mpegInWav += std::string("\xff\xfb\x90\x00", 4) + std::string(60, '\x11');
  for (int i = 0; i < 4; ++i) mpegInWav += std::string("\xff\xff\x02\x00", 4);
  scratch.WriteFile("sync.wav",
                    std::string("\xff\xff\x41\x56\x45\x4d\x4d\xc0\xff\x7f\x00\x80", 12));
  scratch.WriteFile("mpeg.wav", mpegInWav);
  for (const char* name : {"sync.wav", "mpeg.wav"}) {
    SCOPED_TRACE(name);
    const std::string path = scratch.path() + "/" + name;
    const Outcome o = Daq("--signal " + Quote("wav:" + path) + " --device-root " + Root(), 60);
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(Lines(o.err), 1u) << o.err;
    EXPECT_EQ(
        o.err.rfind("pelmok-daq: bad --signal 'wav:" + path + "': wav:" + path + ": not a WAV file",
                    0),
        0u)
        << o.err;
  }
}

TEST_F(PelmokDaqWavTest, LargeWavReplaysInBoundedMemory) {
  if (!sim::WavSignal::Supported())
    GTEST_SKIP() << "this build has no WAV support (no libsndfile for its target)";
  // 50 MB of 16-bit stereo at 48 kHz, sparse, its first frames marked; one
  // record of 200000 frames walks through several of the source's blocks.
  // Read whole into memory the file would take 150 MB and more.
  const uint32_t bytes = 50000000;
  const std::string large = scratch.path() + "/large.wav";
  testsupport::WriteSparseWav(large, bytes);
  const int fd = open(large.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const int16_t marks[] = {0x1234, -0x1234, 0x0001, 0x7FFF, -0x8000, 0, 0x5A5A, 0x0F0F};
  for (size_t i = 0; i < 8; ++i) {
    const int16_t frame[2] = {marks[i], 0x3333};  // little-endian host
    ASSERT_EQ(pwrite(fd, frame, 4, static_cast<off_t>(testsupport::kSparseWavHeader + 4 * i)), 4);
  }
  close(fd);
  const std::string small = scratch.path() + "/small.wav";
  testsupport::WriteSparseWav(small, 32);

  long rss[2] = {0, 0};
  const std::string* wavs[2] = {&small, &large};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(*wavs[i]);
    std::system(("rm -rf " + Root()).c_str());
    scratch.MakeDirs("device/FlashFX Disk/Pelmok");
    scratch.WriteFile(
        "device/FlashFX Disk/Pelmok/PelmokConfig.txt",
        "Number of samples per record:200000\nNumber of records per Flash Disk file:1\n"
        "Number of Flash Disk files per USB write:1\nSeconds to sleep between acquisitions:1\n");
    const Outcome o =
        Daq("--signal " + Quote("wav:" + *wavs[i]) + " --device-root " + Root(), 300, &rss[i]);
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("converter at 48000 Hz (the WAV file's own rate)"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("frames made 200000, read 200000"), std::string::npos) << o.out;
    const auto names = scratch.List("device/Hard Disk/Pelmok/Data");
    ASSERT_EQ(names.size(), 1u);
    const std::string data = scratch.ReadFile("device/Hard Disk/Pelmok/Data/" + names[0]);
    ASSERT_EQ(data.size(), 4u * 200000);
    std::vector<uint32_t> words(data.size() / 4);
    std::memcpy(words.data(), data.data(), data.size());
    if (wavs[i] == &large) {
      // The marks, then silence: the left channel, shifted up to 24 bits.
      for (size_t k = 0; k < 8; ++k)
        EXPECT_EQ(words[k], (static_cast<uint32_t>(marks[k]) << 8) & 0xFFFFFF) << k;
      for (size_t k = 8; k < words.size(); ++k) ASSERT_EQ(words[k], 0u) << k;
    }
  }
  // The source's own buffer is 768 KiB at most; allow for libsndfile and the
  // heap's slack, far below the 50 MB a whole-file read would add.
  EXPECT_LT(rss[1] - rss[0], 8 * 1024)
      << "peak resident " << rss[1] << " KiB against " << rss[0] << " KiB for a 32-byte file";
}

}  // namespace
