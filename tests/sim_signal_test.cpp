// Signal sources: the default tone and WAV files turned into 24-bit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "sim/signal.h"
#include "tests/test_support.h"

#if PELMOK_HAVE_SNDFILE
#include <sndfile.h>
#endif

namespace {

using sim::MakeSignal;
using sim::SignalSource;
using sim::WavSignal;

const char kNoWav[] = "this build has no WAV support (no libsndfile for its target)";

void Put16(std::string* s, uint32_t v) {
  s->push_back(static_cast<char>(v));
  s->push_back(static_cast<char>(v >> 8));
}
void Put32(std::string* s, uint32_t v) {
  Put16(s, v);
  Put16(s, v >> 16);
}
void PutChunk(std::string* s, const char* id, const std::string& body) {
  s->append(id, 4);
  Put32(s, static_cast<uint32_t>(body.size()));
  *s += body;
  if (body.size() & 1) s->push_back('\0');
}

// A PCM WAV with `channels` interleaved channels of `bits`; `samples` holds
// the raw little-endian sample values, interleaved. An odd-sized chunk before
// fmt checks that the walk honours the pad byte.
std::string Wav(uint32_t bits, uint32_t channels, const std::vector<uint32_t>& samples) {
  std::string fmt;
  Put16(&fmt, 1);
  Put16(&fmt, channels);
  Put32(&fmt, 48000);
  Put32(&fmt, 48000 * channels * bits / 8);
  Put16(&fmt, channels * bits / 8);
  Put16(&fmt, bits);
  std::string data;
  for (uint32_t v : samples)
    for (uint32_t byte = 0; byte < bits / 8; ++byte)
      data.push_back(static_cast<char>(v >> (8 * byte)));
  std::string body = "WAVE";
  PutChunk(&body, "LIST", "odd");
  PutChunk(&body, "fmt ", fmt);
  PutChunk(&body, "data", data);
  std::string file = "RIFF";
  Put32(&file, static_cast<uint32_t>(body.size()));
  return file + body;
}

class SimSignal : public ::testing::Test {
 protected:
  std::shared_ptr<WavSignal> Load(const std::string& name, const std::string& content,
                                  std::string* error,
                                  size_t blockSamples = WavSignal::kBlockSamples) {
    dir.WriteFile(name, content);
    return WavSignal::Load(dir.path() + "/" + name, error, blockSamples);
  }
  testsupport::ScratchDir dir;
};

TEST_F(SimSignal, ToneIsAQuarterScaleKilohertzSine) {
  std::string error;
  auto tone = MakeSignal("", 100000, &error);
  ASSERT_NE(tone, nullptr);
  // 100 frames a cycle at 100 kHz: 0 at frame 0, +2^21 at 25, -2^21 at 75, repeating.
  EXPECT_EQ(tone->Code(0), 0u);
  EXPECT_EQ(tone->Code(25), 0x200000u);
  EXPECT_EQ(tone->Code(75), 0xE00000u);
  EXPECT_EQ(tone->Code(1000000025ull), 0x200000u);
  EXPECT_TRUE(tone->Sends());
  // 1,000 frames a cycle at 1 MHz, its codes computed as frames ask for them:
  // asked from the end of the period backwards, one tone gives what another
  // gives asked in one stretch from its start.
  auto backwards = MakeSignal("tone", 1000000, &error);
  auto forwards = MakeSignal("tone", 1000000, &error);
  std::vector<uint32_t> stretch(1000);
  forwards->Codes(3000, stretch.data(), stretch.size());
  for (uint64_t k = 1000; k-- > 0;) ASSERT_EQ(backwards->Code(k), stretch[k]) << k;
  EXPECT_EQ(stretch[250], 0x200000u);
  EXPECT_EQ(stretch[500], 0u);
  EXPECT_EQ(stretch[750], 0xE00000u);
  EXPECT_FALSE(MakeSignal("none", 100000, &error)->Sends());
  EXPECT_EQ(MakeSignal("counter", 100000, &error)->Code((1ull << 24) + 5), 5u);
  EXPECT_EQ(MakeSignal("sine", 100000, &error), nullptr);
  EXPECT_NE(error.find("unknown signal 'sine'"), std::string::npos);
}

TEST_F(SimSignal, WavFirstChannelScaledTo24BitsAndLooping) {
  if (!WavSignal::Supported()) GTEST_SKIP() << kNoWav;
  // Each file read whole into the block and streamed a frame a block.
  for (const size_t block : {WavSignal::kBlockSamples, size_t{1}}) {
    SCOPED_TRACE(block);
    std::string error;
    // 16-bit mono: shifted up 8 bits, negative values stay negative.
    auto mono = Load("mono16.wav", Wav(16, 1, {0x0001, 0x8000, 0x7FFF}), &error, block);
    ASSERT_NE(mono, nullptr) << error;
    EXPECT_EQ(mono->Code(0), 0x000100u);
    EXPECT_EQ(mono->Code(1), 0x800000u);
    EXPECT_EQ(mono->Code(2), 0x7FFF00u);
    EXPECT_EQ(mono->Code(3), 0x000100u);  // the file starts again
    EXPECT_EQ(mono->Code(1), 0x800000u);  // and back
    // 24-bit stereo: the left channel only.
    auto stereo =
        Load("stereo24.wav", Wav(24, 2, {0x123456, 0xAAAAAA, 0xFEDCBA, 0x555555}), &error, block);
    ASSERT_NE(stereo, nullptr) << error;
    EXPECT_EQ(stereo->Code(0), 0x123456u);
    EXPECT_EQ(stereo->Code(1), 0xFEDCBAu);
    EXPECT_EQ(stereo->Code(2), 0x123456u);
    // 8-bit is offset binary, 32-bit keeps its top 24 bits.
    auto eight = Load("u8.wav", Wav(8, 1, {0x80, 0x00}), &error, block);
    ASSERT_NE(eight, nullptr) << error;
    EXPECT_EQ(eight->Code(0), 0u);
    EXPECT_EQ(eight->Code(1), 0x800000u);
    auto wide = Load("s32.wav", Wav(32, 1, {0xFFFFFF00u, 0x12345678u}), &error, block);
    ASSERT_NE(wide, nullptr) << error;
    EXPECT_EQ(wide->Code(0), 0xFFFFFFu);
    EXPECT_EQ(wide->Code(1), 0x123456u);
    EXPECT_EQ(wide->FileRateHz(), 48000u);
    // A data chunk cut short by a recorder plays the whole frames it holds.
    const std::string four = Wav(16, 1, {1, 2, 3, 4});
    auto cut = Load("cut.wav", four.substr(0, four.size() - 3), &error, block);
    ASSERT_NE(cut, nullptr) << error;
    EXPECT_EQ(cut->Frames(), 2u);
    EXPECT_EQ(cut->Code(1), 0x000200u);
    EXPECT_EQ(cut->Code(2), 0x000100u);
  }
}

TEST_F(SimSignal, WavInputNeedsLibsndfile) {
  if (WavSignal::Supported()) GTEST_SKIP() << "this build has WAV support";
  std::string error;
  EXPECT_EQ(MakeSignal("wav:/nonexistent.wav", 100000, &error), nullptr);
  EXPECT_EQ(error, "this build has no WAV support");
}

TEST_F(SimSignal, BadWavFilesGiveOneLineReasons) {
  if (!WavSignal::Supported()) GTEST_SKIP() << kNoWav;
  const std::string good = Wav(16, 1, {1, 2, 3, 4});
  struct Case {
    const char* name;
    std::string content;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"junk.wav", "JUNK" + good.substr(4), "not a WAV file libsndfile reads"},
      {"nodata.wav", good.substr(0, good.find("data")), "not a WAV file libsndfile reads"},
      {"empty.wav", Wav(16, 1, {}), "no samples (0 frames)"},
      {"nothing.wav", "", "not a WAV file libsndfile reads"},
      // A-law: companded, not a converter's codes.
      {"alaw.wav", Wav(8, 1, {1}).replace(good.find("fmt ") + 8, 2, std::string("\6\0", 2)),
       "not a WAV file of integer PCM or float samples (libsndfile reads it as A-Law)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_EQ(Load(c.name, c.content, &error), nullptr);
    EXPECT_EQ(error.rfind("wav:" + dir.path() + "/" + c.name + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST_F(SimSignal, WavThatIsNoRegularFileIsRefusedUnopened) {
  if (!WavSignal::Supported()) GTEST_SKIP() << kNoWav;
  const std::string fifo = dir.path() + "/fifo.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Held open for reading and writing, so even a Load that did open the FIFO
  // could not block this test; that it refuses it is the check.
  const int holder = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  dir.MakeDirs("folder.wav");
  ASSERT_EQ(symlink("/dev/zero", (dir.path() + "/zero.wav").c_str()), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {fifo, "is not a regular file"},
      {"/dev/zero", "is not a regular file"},
      {dir.path() + "/zero.wav", "is not a regular file"},
      {dir.path() + "/folder.wav", "is a folder"},
      {"/", "is a folder"},
      {dir.path() + "/absent.wav", "No such file or directory"},
  };
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path);
    std::string error;
    EXPECT_EQ(MakeSignal("wav:" + path, 100000, &error), nullptr);
    EXPECT_EQ(error, "wav:" + path + ": " + reason);
  }
  close(holder);
}

#if PELMOK_HAVE_SNDFILE
// libsndfile's own reading of the whole file, apart from the source's
// blocks: the first channel; integer PCM as int32 and its top 24 bits, float
// files normalised to +-1.0 and rounded to the nearest code, clipped.
std::vector<uint32_t> LibsndfileCodes(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
  if (f == nullptr) return {};
  const int encoding = info.format & SF_FORMAT_SUBMASK;
  const size_t samples = static_cast<size_t>(info.frames * info.channels);
  std::vector<uint32_t> codes;
  if (encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE) {
    std::vector<double> all(samples);
    EXPECT_EQ(sf_readf_double(f, all.data(), info.frames), info.frames);
    for (size_t i = 0; i < samples; i += static_cast<size_t>(info.channels)) {
      double code = std::isnan(all[i]) ? 0 : std::nearbyint(all[i] * 8388608.0);
      code = std::max(-8388608.0, std::min(8388607.0, code));
      codes.push_back(static_cast<uint32_t>(static_cast<int32_t>(code)) & sim::kCodeMask);
    }
  } else {
    std::vector<int> all(samples);
    EXPECT_EQ(sf_readf_int(f, all.data(), info.frames), info.frames);
    for (size_t i = 0; i < samples; i += static_cast<size_t>(info.channels))
      codes.push_back(static_cast<uint32_t>(all[i] >> 8) & sim::kCodeMask);
  }
  sf_close(f);
  return codes;
}

// The converter's walk: forward over more than two loops, back to an earlier
// frame, then ahead past frames an overrun skipped.
void ExpectCodes(WavSignal& wav, const std::vector<uint32_t>& expected) {
  ASSERT_EQ(wav.Frames(), expected.size());
  const uint64_t n = expected.size();
  std::vector<uint64_t> walk;
  for (uint64_t k = 0; k < 2 * n + n / 2 + 1; ++k) walk.push_back(k);
  for (uint64_t k = n / 3; k < n / 3 + 5; ++k) walk.push_back(k);
  for (uint64_t k = 7 * n + 3; k < 7 * n + n; k += 3) walk.push_back(k);
  walk.push_back((uint64_t{1} << 40) + 1);
  for (uint64_t k : walk) {
    ASSERT_EQ(wav.Code(k), expected[k % n]) << "frame " << k;
  }
}
#endif

TEST_F(SimSignal, WavReadsAsLibsndfileDoesInEveryEncoding) {
#if !PELMOK_HAVE_SNDFILE
  GTEST_SKIP() << kNoWav;
#else
  // Full scale both ways, the codes' edges, and a spread of values, left
  // channel distinct from the others.
  std::vector<int> left = {INT32_MIN, INT32_MAX, 0, -1, 0x100, -0x100, 0x7FFFFF00, 0x40000000};
  uint32_t x = 12345;
  while (left.size() < 999) {
    x = x * 1103515245u + 12345u;
    left.push_back(static_cast<int>(x));
  }
  struct Case {
    int format;
    int channels;
  };
  std::vector<Case> cases;
  for (int encoding : {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32,
                       SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE}) {
    cases.push_back({SF_FORMAT_WAV | encoding, 1});
    cases.push_back({SF_FORMAT_WAV | encoding, 2});
  }
  cases.push_back({SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 3});
  cases.push_back({SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 2});
  cases.push_back({SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 1});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.format << " x" << c.channels);
    const std::string path = dir.path() + "/encoded.wav";
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = c.channels;
    info.format = c.format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    const int encoding = c.format & SF_FORMAT_SUBMASK;
    const bool floats = encoding == SF_FORMAT_FLOAT || encoding == SF_FORMAT_DOUBLE;
    // libsndfile moves ints to and from float files unscaled: floats are
    // written as such, full scale at 1.0.
    std::vector<int> frames;
    std::vector<double> real;
    for (int v : left)
      for (int ch = 0; ch < c.channels; ++ch) {
        frames.push_back(ch == 0 ? v : ~v);
        real.push_back(frames.back() / 2147483648.0);
      }
    const sf_count_t n = static_cast<sf_count_t>(left.size());
    ASSERT_EQ(floats ? sf_writef_double(f, real.data(), n) : sf_writef_int(f, frames.data(), n), n);
    sf_close(f);
    const std::vector<uint32_t> expected = LibsndfileCodes(path);
    // What was written, as the encoding keeps it: integer PCM its top bits
    // (8-bit as offset binary, which reads back the same), floats to within
    // rounding.
    ASSERT_EQ(expected.size(), left.size());
    const int bits = encoding == SF_FORMAT_PCM_U8   ? 8
                     : encoding == SF_FORMAT_PCM_16 ? 16
                     : encoding == SF_FORMAT_PCM_24 ? 24
                                                    : 32;
    for (size_t i = 0; i < left.size(); ++i) {
      const int32_t kept =
          static_cast<int32_t>(static_cast<uint32_t>(left[i] >> (32 - bits)) << (32 - bits)) >> 8;
      const int32_t code = static_cast<int32_t>(expected[i] << 8) >> 8;
      if (floats) {
        ASSERT_LE(std::abs(code - kept), 1) << i;
      } else {
        ASSERT_EQ(code, kept) << i;
      }
    }
    for (const size_t block : {WavSignal::kBlockSamples, size_t{64}, size_t{1}}) {
      SCOPED_TRACE(block);
      std::string error;
      auto wav = WavSignal::Load(path, &error, block);
      ASSERT_NE(wav, nullptr) << error;
      EXPECT_EQ(wav->FileRateHz(), 44100u);
      ExpectCodes(*wav, expected);
    }
  }
#endif
}

TEST_F(SimSignal, WavFloatsAreFullScaleAtOneAndClipBeyond) {
#if !PELMOK_HAVE_SNDFILE
  GTEST_SKIP() << kNoWav;
#else
  const std::string path = dir.path() + "/loud.wav";
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  const float samples[] = {1.5f, -2.0f, 0.5f, -0.25f, 1e30f, -INFINITY, NAN, 0x7FFFFFp-23f};
  ASSERT_EQ(sf_writef_float(f, samples, 8), 8);
  sf_close(f);
  std::string error;
  auto wav = WavSignal::Load(path, &error);
  ASSERT_NE(wav, nullptr) << error;
  EXPECT_EQ(wav->Code(0), 0x7FFFFFu);
  EXPECT_EQ(wav->Code(1), 0x800000u);
  EXPECT_EQ(wav->Code(2), 0x400000u);
  EXPECT_EQ(wav->Code(3), 0xE00000u);
  EXPECT_EQ(wav->Code(4), 0x7FFFFFu);
  EXPECT_EQ(wav->Code(5), 0x800000u);
  EXPECT_EQ(wav->Code(6), 0u);
  EXPECT_EQ(wav->Code(7), 0x7FFFFFu);
  ExpectCodes(*wav, LibsndfileCodes(path));
#endif
}

TEST_F(SimSignal, LargeWavStreamsThroughABoundedBlock) {
  if (!WavSignal::Supported()) GTEST_SKIP() << kNoWav;
  // 50 MB of 16-bit stereo, sparse: 12.5 million frames of zeros with marks
  // at the first, the last and a few in between, across block edges.
  const uint32_t bytes = 50000000;
  const uint64_t frames = bytes / 4;
  const std::string path = dir.path() + "/large.wav";
  testsupport::WriteSparseWav(path, bytes);
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const uint64_t blockFrames = WavSignal::kBlockSamples / 2;
  const std::vector<uint64_t> marked = {
      0, 1, blockFrames - 1, blockFrames, 3 * blockFrames + 17, frames / 2, frames - 1};
  auto markOf = [](uint64_t frame) { return static_cast<uint16_t>(frame % 32749 + 1); };
  for (uint64_t frame : marked) {
    const uint16_t sample[2] = {markOf(frame), 0x5555};  // little-endian host
    ASSERT_EQ(pwrite(fd, sample, 4, static_cast<off_t>(testsupport::kSparseWavHeader + 4 * frame)),
              4);
  }
  close(fd);
  std::string error;
  auto wav = WavSignal::Load(path, &error);
  ASSERT_NE(wav, nullptr) << error;
  ASSERT_EQ(wav->Frames(), frames);
  EXPECT_LE(wav->BufferBytes(), WavSignal::kBlockSamples * (sizeof(uint32_t) + sizeof(double)));
  // Once through and into the next loop, every frame.
  size_t marks = 0;
  for (uint64_t k = 0; k < frames + blockFrames + 2; ++k) {
    const uint64_t frame = k % frames;
    const bool isMark = std::find(marked.begin(), marked.end(), frame) != marked.end();
    const uint32_t expected = isMark ? uint32_t{markOf(frame)} << 8 : 0;
    const uint32_t code = wav->Code(k);
    if (code != expected) FAIL() << "frame " << k << ": " << code << " != " << expected;
    marks += isMark;
  }
  EXPECT_EQ(marks, marked.size() + 4);  // 0, 1 and both sides of the first block edge again
  // Back to the middle, as a restarted walk would.
  EXPECT_EQ(wav->Code(frames + frames / 2), uint32_t{markOf(frames / 2)} << 8);
  EXPECT_EQ(wav->Code(frames + frames / 2 + 1), 0u);
  EXPECT_LE(wav->BufferBytes(), WavSignal::kBlockSamples * (sizeof(uint32_t) + sizeof(double)));
}

}  // namespace
