// What the converter behind SSP3 digitises: one 24-bit code a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sf_private_tag;  // libsndfile's SNDFILE, kept out of this header

namespace sim {

struct SndfileCalls;  // libsndfile's calls, loaded with the first WAV file

constexpr uint32_t kCodeMask = 0x00FFFFFF;  // a 24-bit two's-complement code

class SignalSource {
 public:
  virtual ~SignalSource() = default;
  // The converter's code for frame k (k = 0 is the first frame it makes);
  // only the low 24 bits count.
  virtual uint32_t Code(uint64_t k) = 0;
  // Codes of frames first .. first + n - 1 into out, as Code gives them but
  // with the high 8 bits clear (the converter takes them as they come).
  virtual void Codes(uint64_t first, uint32_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = Code(first + i) & kCodeMask;
  }
  // False for a converter that is wired but never frames (no clock, no power):
  // the port then sees nothing at all.
  virtual bool Sends() const { return true; }
};

// kind: "tone" (the default, also for ""), "counter", "silence", "none" or
// "wav:FILE". Returns nullptr with a one-line reason in *error (if given).
std::shared_ptr<SignalSource> MakeSignal(const std::string& kind, uint32_t frameRateHz,
                                         std::string* error);

// A 1 kHz sine at a quarter of full scale (peak 2^21), phase 0 at frame 0.
class ToneSignal : public SignalSource {
 public:
  static constexpr uint32_t kFrequencyHz = 1000;
  static constexpr double kAmplitude = 2097152.0;  // 2^23 / 4
  explicit ToneSignal(uint32_t frameRateHz);
  uint32_t Code(uint64_t k) override {
    // The converter asks frame after frame: the period in hand serves them,
    // and only a jump (or a code not yet computed) costs a division.
    const uint64_t i = k - periodFirst_;
    return i < codes_.size() ? codes_[i] : NewPeriod(k);
  }
  void Codes(uint64_t first, uint32_t* out, size_t n) override;

 private:
  static constexpr size_t kComputedAhead = 64;
  uint32_t NewPeriod(uint64_t k);
  // The codes of the period's frames up to `end` (at most period_), in codes_.
  void Compute(size_t end);

  uint32_t frameRateHz_;
  size_t period_ = 1;            // frames of one period of the tone
  std::vector<uint32_t> codes_;  // the period's first codes, from frame 0, as far as asked
  uint64_t periodFirst_ = 0;     // the frame of codes_[0] in the period in hand
};

// Frame k carries k modulo 2^24: gaps and reordering show in the data.
class CounterSignal : public SignalSource {
 public:
  uint32_t Code(uint64_t k) override { return static_cast<uint32_t>(k) & kCodeMask; }
};

class SilenceSignal : public SignalSource {
 public:
  uint32_t Code(uint64_t) override { return 0; }
};

class NoSignal : public SignalSource {
 public:
  uint32_t Code(uint64_t) override { return 0; }
  bool Sends() const override { return false; }
};

// The first channel of a WAV file, one frame a sample whatever the file's own
// rate, as a 24-bit code, looping at its end: frame k is sample k mod Frames().
// Read through libsndfile in blocks as the converter walks forward, so memory
// stays bounded whatever the file's size: kBlockSamples samples of all
// channels (4 bytes each, 8 for float files) and a code for each of their
// frames, at most 768 KiB (BufferBytes()), plus libsndfile's own state,
// which does not grow with the file either.
// A build without libsndfile has no WAV input: Load refuses every file.
class WavSignal : public SignalSource {
 public:
  // The block holds this many samples of all channels together, so a file of
  // many channels gets fewer frames a block, never more memory.
  static constexpr size_t kBlockSamples = size_t{1} << 16;
  static bool Supported();  // false in a build without libsndfile

  // Only a regular file (no FIFO, device node or folder) that libsndfile
  // reads as a WAV file of integer PCM or float samples, with at least one
  // frame. nullptr and a one-line reason naming the path otherwise.
  // `blockSamples` other than the default serves tests that walk block edges.
  static std::shared_ptr<WavSignal> Load(const std::string& path, std::string* error,
                                         size_t blockSamples = kBlockSamples);
  ~WavSignal() override;
  WavSignal(const WavSignal&) = delete;
  WavSignal& operator=(const WavSignal&) = delete;

  uint32_t Code(uint64_t k) override {
    // Frames come in increasing k almost always: the block in hand serves them.
    const uint64_t i = k - blockFirst_;
    return i < blockFrames_ ? block_[i] : Refill(k);
  }
  uint32_t FileRateHz() const { return fileRateHz_; }
  uint64_t Frames() const { return frames_; }
  size_t BufferBytes() const {
    return block_.capacity() * sizeof block_[0] + ints_.capacity() * sizeof ints_[0] +
           doubles_.capacity() * sizeof doubles_[0];
  }

 private:
  WavSignal() = default;
  uint32_t Refill(uint64_t k);

  const SndfileCalls* sndfile_ = nullptr;
  sf_private_tag* file_ = nullptr;
  int fd_ = -1;
  uint32_t fileRateHz_ = 0;
  uint32_t channels_ = 1;
  bool floats_ = false;  // float or double samples, read as doubles
  uint64_t frames_ = 0;
  uint64_t capacityFrames_ = 0;  // frames of all channels the block holds
  bool resident_ = false;        // the whole file is in the block, repeated
  uint64_t cursor_ = 0;          // the file frame libsndfile reads next
  // Codes of frames blockFirst_ .. blockFirst_ + blockFrames_ - 1 (of the
  // converter's count k, not the file's), from the first channel.
  std::vector<uint32_t> block_;
  uint64_t blockFirst_ = 0;
  uint64_t blockFrames_ = 0;
  // The frames as libsndfile reads them, all channels: one of the two is used.
  std::vector<int> ints_;
  std::vector<double> doubles_;
};

}  // namespace sim
