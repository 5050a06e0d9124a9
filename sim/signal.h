// What the converter behind SSP3 digitises: one 24-bit code a frame.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

constexpr uint32_t kCodeMask = 0x00FFFFFF;  // a 24-bit two's-complement code

class SignalSource {
 public:
  virtual ~SignalSource() = default;
  // The converter's code for frame k (k = 0 is the first frame it makes);
  // only the low 24 bits count.
  virtual uint32_t Code(uint64_t k) = 0;
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
  uint32_t Code(uint64_t k) override;

 private:
  uint32_t frameRateHz_;
  std::vector<uint32_t> codes_;  // one period, from frame 0
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

// The first channel of a PCM WAV file, one frame a sample whatever the file's
// own rate, scaled to 24 bits, looping at its end.
class WavSignal : public SignalSource {
 public:
  // nullptr and a one-line reason for a file that cannot be used.
  static std::shared_ptr<WavSignal> Load(const std::string& path, std::string* error);
  uint32_t Code(uint64_t k) override;
  const std::vector<int32_t>& Samples() const { return samples_; }
  uint32_t FileRateHz() const { return fileRateHz_; }

 private:
  std::vector<int32_t> samples_;  // 24-bit values, sign-extended
  uint32_t fileRateHz_ = 0;
};

}  // namespace sim
