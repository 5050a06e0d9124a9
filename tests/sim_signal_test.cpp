// Signal sources: the default tone and WAV files turned into 24-bit codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/signal.h"
#include "tests/test_support.h"

namespace {

using sim::MakeSignal;
using sim::SignalSource;

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
    for (uint32_t byte = 0; byte < bits / 8; ++byte) data.push_back(static_cast<char>(v >> (8 * byte)));
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
  std::shared_ptr<SignalSource> Load(const std::string& name, const std::string& content,
                                     std::string* error) {
    dir.WriteFile(name, content);
    return MakeSignal("wav:" + dir.path() + "/" + name, 100000, error);
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
  EXPECT_FALSE(MakeSignal("none", 100000, &error)->Sends());
  EXPECT_EQ(MakeSignal("counter", 100000, &error)->Code((1ull << 24) + 5), 5u);
  EXPECT_EQ(MakeSignal("sine", 100000, &error), nullptr);
  EXPECT_NE(error.find("unknown signal 'sine'"), std::string::npos);
}

TEST_F(SimSignal, WavFirstChannelScaledTo24BitsAndLooping) {
  std::string error;
  // 16-bit mono: shifted up 8 bits, negative values stay negative.
  auto mono = Load("mono16.wav", Wav(16, 1, {0x0001, 0x8000, 0x7FFF}), &error);
  ASSERT_NE(mono, nullptr) << error;
  EXPECT_EQ(mono->Code(0), 0x000100u);
  EXPECT_EQ(mono->Code(1), 0x800000u);
  EXPECT_EQ(mono->Code(2), 0x7FFF00u);
  EXPECT_EQ(mono->Code(3), 0x000100u);  // the file starts again
  // 24-bit stereo: the left channel only.
  auto stereo = Load("stereo24.wav", Wav(24, 2, {0x123456, 0xAAAAAA, 0xFEDCBA, 0x555555}), &error);
  ASSERT_NE(stereo, nullptr) << error;
  EXPECT_EQ(stereo->Code(0), 0x123456u);
  EXPECT_EQ(stereo->Code(1), 0xFEDCBAu);
  EXPECT_EQ(stereo->Code(2), 0x123456u);
  // 8-bit is offset binary, 32-bit keeps its top 24 bits.
  auto eight = Load("u8.wav", Wav(8, 1, {0x80, 0x00}), &error);
  ASSERT_NE(eight, nullptr) << error;
  EXPECT_EQ(eight->Code(0), 0u);
  EXPECT_EQ(eight->Code(1), 0x800000u);
  auto wide = Load("s32.wav", Wav(32, 1, {0xFFFFFF00u, 0x12345678u}), &error);
  ASSERT_NE(wide, nullptr) << error;
  EXPECT_EQ(wide->Code(0), 0xFFFFFFu);
  EXPECT_EQ(wide->Code(1), 0x123456u);
}

TEST_F(SimSignal, BadWavFilesGiveOneLineReasons) {
  const std::string good = Wav(16, 1, {1, 2, 3, 4});
  struct Case {
    const char* name;
    std::string content;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"cut.wav", good.substr(0, good.size() - 3), "truncated data chunk"},
      {"notriff.wav", "RIFX" + good.substr(4), "not a RIFF/WAVE file"},
      {"nodata.wav", good.substr(0, good.find("data")), "no data chunk"},
      {"float.wav", Wav(16, 1, {1}).replace(good.find("fmt ") + 8, 2, std::string("\3\0", 2)),
       "not integer PCM"},
      {"twelve.wav", Wav(16, 1, {1}).replace(good.find("fmt ") + 22, 2, std::string("\14\0", 2)),
       "12-bit samples"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_EQ(Load(c.name, c.content, &error), nullptr);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  std::string error;
  EXPECT_EQ(MakeSignal("wav:" + dir.path() + "/absent.wav", 100000, &error), nullptr);
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace
