// A converter with one data line stuck: every code it sends has one bit held
// at 0 or 1, whatever was digitised. The bench's stuck-bit fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "sim/signal.h"

namespace sim {

class StuckBitSignal : public SignalSource {
 public:
  StuckBitSignal(std::shared_ptr<SignalSource> inner, unsigned bit, bool value)
      : inner_(std::move(inner)),
        mask_(uint32_t{1} << bit),
        set_(value ? mask_ & kCodeMask : 0) {}  // Codes stay within 24 bits
  uint32_t Code(uint64_t k) override { return Stick(inner_->Code(k)); }
  void Codes(uint64_t first, uint32_t* out, size_t n) override {
    inner_->Codes(first, out, n);
    for (size_t i = 0; i < n; ++i) out[i] = Stick(out[i]);
  }
  bool Sends() const override { return inner_->Sends(); }

 private:
  uint32_t Stick(uint32_t code) const { return (code & ~mask_) | set_; }

  std::shared_ptr<SignalSource> inner_;
  uint32_t mask_;
  uint32_t set_;
};

}  // namespace sim
