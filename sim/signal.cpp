#include "sim/signal.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace sim {
namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

void SetError(std::string* error, const std::string& message) {
  if (error) *error = message;
}

uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One sample of `bits` at p, as a sign-extended 24-bit value. 8-bit PCM is
// unsigned (offset 128); the wider formats are two's complement.
int32_t Sample24(const uint8_t* p, uint32_t bits) {
  switch (bits) {
    case 8:
      return (static_cast<int32_t>(p[0]) - 128) * 65536;
    case 16:
      return static_cast<int16_t>(Le16(p)) * 256;
    case 24:
      return static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (static_cast<uint32_t>(p[2]) << 24)) >>
             8;
    default:  // the top 24 bits: an arithmetic shift keeps the sign
      return static_cast<int32_t>(Le32(p)) >> 8;
  }
}

}  // namespace

ToneSignal::ToneSignal(uint32_t frameRateHz) : frameRateHz_(frameRateHz ? frameRateHz : 1) {
  // The phase is reduced in integers, so the tone is exact however long the
  // run and repeats after rate / gcd(rate, 1 kHz) frames: one period of codes
  // is computed here and a frame is a table look-up (100 entries at 100 kHz).
  uint32_t a = frameRateHz_, b = kFrequencyHz;
  while (b != 0) {
    const uint32_t t = a % b;
    a = b;
    b = t;
  }
  codes_.resize(frameRateHz_ / a);
  for (uint64_t k = 0; k < codes_.size(); ++k) {
    const uint64_t cycle = k * kFrequencyHz % frameRateHz_;
    const long v = std::lround(kAmplitude * std::sin(kTwoPi * cycle / frameRateHz_));
    codes_[k] = static_cast<uint32_t>(v) & kCodeMask;
  }
}

uint32_t ToneSignal::Code(uint64_t k) { return codes_[k % codes_.size()]; }

std::shared_ptr<WavSignal> WavSignal::Load(const std::string& path, std::string* error) {
  const std::string where = "wav:" + path + ": ";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    SetError(error, where + "cannot open the file");
    return nullptr;
  }
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  const uint8_t* d = file.data();
  const size_t size = file.size();
  if (size < 12 || std::string(file.begin(), file.begin() + 4) != "RIFF" ||
      std::string(file.begin() + 8, file.begin() + 12) != "WAVE") {
    SetError(error, where + "not a RIFF/WAVE file");
    return nullptr;
  }

  bool haveFormat = false;
  uint32_t channels = 0, rate = 0, blockAlign = 0, bits = 0;
  size_t dataAt = 0, dataSize = 0;
  bool haveData = false;
  // Chunks may come in any order and carry odd sizes padded to even; the RIFF
  // size field is often wrong in files cut by recorders, so the walk goes by
  // the file's real length.
  for (size_t at = 12; at + 8 <= size;) {
    const std::string id(file.begin() + at, file.begin() + at + 4);
    const uint32_t chunkSize = Le32(d + at + 4);
    const size_t body = at + 8;
    const size_t present = size - body;
    if (id == "data") {
      if (chunkSize > present) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "truncated data chunk (%u bytes declared, %zu present)",
                      chunkSize, present);
        SetError(error, where + buf);
        return nullptr;
      }
      dataAt = body;
      dataSize = chunkSize;
      haveData = true;
    } else if (id == "fmt ") {
      if (chunkSize < 16 || chunkSize > present) {
        SetError(error, where + "truncated fmt chunk");
        return nullptr;
      }
      uint32_t tag = Le16(d + body);
      channels = Le16(d + body + 2);
      rate = Le32(d + body + 4);
      blockAlign = Le16(d + body + 12);
      bits = Le16(d + body + 14);
      if (tag == 0xFFFE) {  // WAVE_FORMAT_EXTENSIBLE: the subformat GUID starts with the tag
        if (chunkSize < 40) {
          SetError(error, where + "truncated extensible fmt chunk");
          return nullptr;
        }
        tag = Le16(d + body + 24);
      }
      if (tag != 1) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "format 0x%04x is not integer PCM", tag);
        SetError(error, where + buf);
        return nullptr;
      }
      haveFormat = true;
    }
    if (chunkSize > present) break;
    at = body + chunkSize + (chunkSize & 1u);
  }
  if (!haveFormat) {
    SetError(error, where + "no fmt chunk");
    return nullptr;
  }
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    SetError(error, where + std::to_string(bits) + "-bit samples (8, 16, 24 or 32 only)");
    return nullptr;
  }
  if (channels == 0 || blockAlign != channels * (bits / 8)) {
    SetError(error, where + "inconsistent channel count and block size");
    return nullptr;
  }
  if (!haveData) {
    SetError(error, where + "no data chunk");
    return nullptr;
  }
  const size_t frames = dataSize / blockAlign;
  if (frames == 0) {
    SetError(error, where + "no samples in the data chunk");
    return nullptr;
  }
  auto wav = std::make_shared<WavSignal>();
  wav->fileRateHz_ = rate;
  wav->samples_.reserve(frames);
  for (size_t i = 0; i < frames; ++i)
    wav->samples_.push_back(Sample24(d + dataAt + i * blockAlign, bits));
  return wav;
}

uint32_t WavSignal::Code(uint64_t k) {
  return static_cast<uint32_t>(samples_[k % samples_.size()]) & kCodeMask;
}

std::shared_ptr<SignalSource> MakeSignal(const std::string& kind, uint32_t frameRateHz,
                                         std::string* error) {
  if (kind.empty() || kind == "tone") return std::make_shared<ToneSignal>(frameRateHz);
  if (kind == "counter") return std::make_shared<CounterSignal>();
  if (kind == "silence") return std::make_shared<SilenceSignal>();
  if (kind == "none") return std::make_shared<NoSignal>();
  if (kind.compare(0, 4, "wav:") == 0) {
    if (kind.size() == 4) {
      SetError(error, "wav: needs a file name (wav:FILE)");
      return nullptr;
    }
    return WavSignal::Load(kind.substr(4), error);
  }
  SetError(error, "unknown signal '" + kind + "' (tone, counter, silence, none or wav:FILE)");
  return nullptr;
}

}  // namespace sim
