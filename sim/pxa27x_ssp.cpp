#include "sim/pxa27x_ssp.h"

#include "sim/pxa27x_clock.h"
#include "sim/pxa27x_gpio.h"

namespace sim {

using namespace ssp;

Pxa27xSsp::Pxa27xSsp(const Bus& bus, const Pxa27xGpio& gpio, const Pxa27xClockManager& clocks,
                     Converter& converter)
    : bus_(bus), gpio_(gpio), clocks_(clocks), converter_(converter), s_{} {
  // The manual's reset values: every register 0 but SSSR.
  s_.sssr = kSssrReset;
  converter_.Connect(this);
  Update();
}

const char* Pxa27xSsp::RegisterName(uint32_t offset) const {
  switch (offset) {
    case SSCR0: return "SSCR0";
    case SSCR1: return "SSCR1";
    case SSSR: return "SSSR";
    case SSITR: return "SSITR";
    case SSDR: return "SSDR";
    case SSTO: return "SSTO";
    case SSPSP: return "SSPSP";
    case SSTSA: return "SSTSA";
    case SSRSA: return "SSRSA";
    case SSTSS: return "SSTSS";
    case SSACD: return "SSACD";
    default: return nullptr;
  }
}

bool Pxa27xSsp::Read(uint32_t offset, uint32_t* value) {
  CatchUp();
  // The reader's poll loop lands here back to back: keep it to a compare.
  if (offset == SSSR) {
    if (pollCountdown_ != 0 && --pollCountdown_ == 0) {
      Push(pollWord_);
      Update();
    }
    *value = s_.sssr;
    return true;
  }
  switch (offset) {
    case SSCR0: *value = s_.sscr0; return true;
    case SSCR1: *value = s_.sscr1; return true;
    case SSITR: *value = s_.ssitr; return true;
    case SSDR:
      // The manual leaves an empty-FIFO read undefined; the port hands back
      // the last word it delivered (0 after reset).
      if (rxCount_ != 0) {
        lastRead_ = rx_[rxHead_];
        rxHead_ = (rxHead_ + 1) % kFifoDepth;
        --rxCount_;
        ++read_;
        Update();
      }
      *value = lastRead_;
      return true;
    case SSTO: *value = s_.ssto; return true;
    case SSPSP: *value = s_.sspsp; return true;
    case SSTSA: *value = s_.sstsa; return true;
    case SSRSA: *value = s_.ssrsa; return true;
    case SSTSS: *value = s_.sstss; return true;
    case SSACD: *value = s_.ssacd; return true;
    default: return false;
  }
}

bool Pxa27xSsp::Write(uint32_t offset, uint32_t value) {
  CatchUp();
  switch (offset) {
    case SSCR0: {
      const bool wasEnabled = s_.sscr0 & SSCR0_SSE;
      s_.sscr0 = value & SSCR0_WRITABLE;
      // Disabling the port empties both FIFOs, so a restart sees no stale words.
      if (wasEnabled && !(s_.sscr0 & SSCR0_SSE)) rxCount_ = txCount_ = 0;
      Update();
      StartConditionsChanged();
      return true;
    }
    case SSCR1:
      s_.sscr1 = value & SSCR1_WRITABLE;
      Update();
      StartConditionsChanged();
      return true;
    case SSSR:
      // Sticky bits clear on 1; the flags are the hardware's own.
      s_.sssr &= ~(value & SSSR_W1C);
      Update();
      return true;
    case SSITR: s_.ssitr = value & SSITR_WRITABLE; return true;
    case SSDR:
      // A full transmit FIFO drops the word, as the port does.
      if (txCount_ < kFifoDepth) ++txCount_;
      Update();
      return true;
    case SSTO: s_.ssto = value & SSTO_WRITABLE; return true;
    case SSPSP: s_.sspsp = value & SSPSP_WRITABLE; return true;
    case SSTSA: s_.sstsa = value & SSTSA_WRITABLE; return true;
    case SSRSA: s_.ssrsa = value & SSRSA_WRITABLE; return true;
    case SSACD: s_.ssacd = value & SSACD_WRITABLE; return true;
    default:  // SSTSS is read-only; the rest is not decoded
      return false;
  }
}

bool Pxa27xSsp::ComputeRunning() const {
  const uint32_t c0 = s_.sscr0, c1 = s_.sscr1;
  if (!(c0 & SSCR0_SSE) || (c0 & SSCR0_FRF) != SSCR0_FRF_PSP) return false;
  // 24-bit words only: DSS = 7 with EDSS.
  if ((c0 & SSCR0_DSS) != 7 || !(c0 & SSCR0_EDSS)) return false;
  // The converter drives the frame, the port the serial clock.
  if (!(c1 & SSCR1_SFRMDIR) || (c1 & SSCR1_SCLKDIR)) return false;
  if (!(clocks_.Cken() & clk::CKEN_SSP3)) return false;
  for (unsigned pin = kPinClock; pin <= kPinTransmit; ++pin)
    if (gpio_.AlternateFunction(pin) != kPinFunction) return false;
  return gpio_.IsOutput(kPinClock) && !gpio_.IsOutput(kPinFrame) && !gpio_.IsOutput(kPinReceive) &&
         gpio_.IsOutput(kPinTransmit);
}

void Pxa27xSsp::StartConditionsChanged() {
  CatchUp();
  const bool running = ComputeRunning();
  if (running == running_) return;
  running_ = running;
  converter_.SetClocked(running, bus_.Now());
  Update();
}

void Pxa27xSsp::Push(uint32_t word) {
  if (rxCount_ == kFifoDepth) {
    ++lost_;
    s_.sssr |= SSSR_ROR;
    return;
  }
  rx_[(rxHead_ + rxCount_) % kFifoDepth] = word;
  ++rxCount_;
}

void Pxa27xSsp::ReceiveFrame(uint32_t word) {
  Push(word);
  ++pushed_;
  if (txCount_) --txCount_;
}

void Pxa27xSsp::LoseFrames(uint64_t count) {
  lost_ += count;
  s_.sssr |= SSSR_ROR;
  txCount_ = count >= txCount_ ? 0 : txCount_ - static_cast<unsigned>(count);
}

void Pxa27xSsp::Update() {
  uint32_t v = s_.sssr & SSSR_W1C;
  if (txCount_ < kFifoDepth) v |= SSSR_TNF;
  v |= (txCount_ & 0xFu) << SSSR_TFL_SHIFT;
  if (rxCount_) v |= SSSR_RNE;
  v |= ((rxCount_ - 1u) & 0xFu) << SSSR_RFL_SHIFT;
  if (s_.sscr0 & SSCR0_SSE) {
    if (running_) v |= SSSR_BSY;
    if (txCount_ <= ((s_.sscr1 & SSCR1_TFT) >> SSCR1_TFT_SHIFT)) v |= SSSR_TFS;
    if (rxCount_ >= ((s_.sscr1 & SSCR1_RFT) >> SSCR1_RFT_SHIFT) + 1u) v |= SSSR_RFS;
  }
  s_.sssr = v;
}

void Pxa27xSsp::Inject(uint32_t word) {
  CatchUp();
  Push(word);
  Update();
}

void Pxa27xSsp::InjectAtPoll(uint64_t n, uint32_t word) {
  pollCountdown_ = n;
  pollWord_ = word;
}

void Pxa27xSsp::Stall(bool stalled) {
  CatchUp();
  converter_.Stall(stalled, bus_.Now());
}

void Pxa27xSsp::ForceOverrun() {
  CatchUp();
  s_.sssr |= SSSR_ROR;
  Update();
}

}  // namespace sim
