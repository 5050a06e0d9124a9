#include "sim/pxa27x_ssp.h"

#include <cstring>

#include "sim/fault.h"
#include "sim/pxa27x_gpio.h"

namespace sim {

using namespace ssp;

namespace {
const char* const kSignals[4] = {"SSPSCLK3", "SSPSFRM3", "SSPRXD3", "SSPTXD3"};
// The modes the converter needs: the port drives the serial clock and the
// transmit line, the converter the frame and the receive line.
const uint32_t kSignalModes[4] = {PinMode(kPinFunction, true), PinMode(kPinFunction, false),
                                  PinMode(kPinFunction, false), PinMode(kPinFunction, true)};
}  // namespace

// The manual's reset values: every register 0 but SSSR. SSSR's status bits are
// derived (Update), its sticky ones clear on 1.
const RegisterRow Pxa27xSsp::kRows[] = {
    {SSCR0, "SSCR0", 0, SSCR0_WRITABLE, 0, kReadWrite, nullptr, WriteBy<&Pxa27xSsp::WriteSscr0>},
    {SSCR1, "SSCR1", 0, SSCR1_WRITABLE, 0, kReadWrite, nullptr, WriteBy<&Pxa27xSsp::WriteSscr1>},
    {SSSR, "SSSR", kSssrReset, 0, SSSR_W1C, kReadWrite, nullptr, WriteBy<&Pxa27xSsp::WriteSssr>},
    {SSITR, "SSITR", 0, SSITR_WRITABLE, 0, kReadWrite},
    // Receive FIFO on read, transmit FIFO on write.
    {SSDR, "SSDR", 0, 0, 0, kReadWrite, ReadBy<&Pxa27xSsp::ReadSsdr>,
     WriteBy<&Pxa27xSsp::WriteSsdr>},
    {SSTO, "SSTO", 0, SSTO_WRITABLE, 0, kReadWrite},
    {SSPSP, "SSPSP", 0, SSPSP_WRITABLE, 0, kReadWrite},
    {SSTSA, "SSTSA", 0, SSTSA_WRITABLE, 0, kReadWrite},
    {SSRSA, "SSRSA", 0, SSRSA_WRITABLE, 0, kReadWrite},
    {SSTSS, "SSTSS", 0, 0, 0, kReadOnly},
    {SSACD, "SSACD", 0, SSACD_WRITABLE, 0, kReadWrite},
};

Pxa27xSsp::Pxa27xSsp(const Bus& bus, Converter& converter)
    : RegisterBlock("SSP3", {std::begin(kRows), std::end(kRows)}),
      bus_(bus),
      converter_(converter),
      sscr0_(At(SSCR0)),
      sscr1_(At(SSCR1)),
      sssr_(At(SSSR)),
      unitClock_([this] { StartConditionsChanged(); }),
      pins_{InputLine([this] { StartConditionsChanged(); }),
            InputLine([this] { StartConditionsChanged(); }),
            InputLine([this] { StartConditionsChanged(); }),
            InputLine([this] { StartConditionsChanged(); })} {
  converter_.Connect(this);
  Reconfigure();
  Update();
  FollowConverter();
}

InputLine& Pxa27xSsp::Pin(const char* signal) {
  for (unsigned i = 0; i < 4; ++i)
    if (std::strcmp(signal, kSignals[i]) == 0) return pins_[i];
  Fault("SSP3: no signal named %s", signal);
  return pins_[0];
}

void Pxa27xSsp::CatchUp(Nanoseconds now) {
  // Once a frame: the one frame due taken straight from the converter, with
  // no call (the next frame is later than the one due). A frame also shifts
  // a word out of a transmit FIFO that holds one: that case goes the long way.
  uint32_t word;
  if (rxCount_ == kFifoDepth || txCount_ != 0 || !converter_.TakeOnlyFrame(now, &word))
    return DeliverFrames(now);
  rx_[(rxHead_ + rxCount_) % kFifoDepth] = word;
  ++rxCount_;
  UpdateReceive();
  FollowConverter();
}

void Pxa27xSsp::DeliverFrames(Nanoseconds now) {
  if (converter_.CatchUp(now)) Update();
  FollowConverter();
}

void Pxa27xSsp::WriteSscr0(Register& sscr0, uint32_t before, uint32_t) {
  // Disabling the port empties both FIFOs, so a restart sees no stale words.
  if ((before & SSCR0_SSE) && !(sscr0.value & SSCR0_SSE)) rxCount_ = txCount_ = 0;
  Reconfigure();
  Update();
  StartConditionsChanged();
}

void Pxa27xSsp::WriteSscr1(Register&, uint32_t, uint32_t) {
  Reconfigure();
  Update();
  StartConditionsChanged();
}

void Pxa27xSsp::WriteSssr(Register&, uint32_t, uint32_t) { Update(); }

uint32_t Pxa27xSsp::ReadSsdr(Register&) {
  // The manual leaves an empty-FIFO read undefined; the port hands back the
  // last word it delivered (0 after reset).
  if (rxCount_ == 0) return lastRead_;
  const uint32_t word = rx_[rxHead_];
  lastRead_ = word;
  rxHead_ = (rxHead_ + 1) % kFifoDepth;
  --rxCount_;
  ++read_;
  UpdateReceive();
  return word;
}

void Pxa27xSsp::WriteSsdr(Register&, uint32_t, uint32_t) {
  // A full transmit FIFO drops the word, as the port does.
  if (txCount_ < kFifoDepth) ++txCount_;
  Update();
}

uint32_t Pxa27xSsp::ReadSssrCountingPolls(Register& sssr) {
  if (--pollCountdown_ == 0) {
    Push(pollWord_);
    Update();
    SetReadHook(SSSR, nullptr);
  }
  return sssr.value;
}

bool Pxa27xSsp::ComputeRunning() const {
  const uint32_t c0 = sscr0_.value, c1 = sscr1_.value;
  if (!(c0 & SSCR0_SSE) || (c0 & SSCR0_FRF) != SSCR0_FRF_PSP) return false;
  // 24-bit words only: DSS = 7 with EDSS.
  if ((c0 & SSCR0_DSS) != 7 || !(c0 & SSCR0_EDSS)) return false;
  // The converter drives the frame, the port the serial clock.
  if (!(c1 & SSCR1_SFRMDIR) || (c1 & SSCR1_SCLKDIR)) return false;
  if (!unitClock_.value()) return false;
  for (unsigned i = 0; i < 4; ++i)
    if (pins_[i].value() != kSignalModes[i]) return false;
  return true;
}

void Pxa27xSsp::StartConditionsChanged() {
  CatchUp(bus_.Now());
  const bool running = ComputeRunning();
  if (running == running_) return;
  running_ = running;
  converter_.SetClocked(running, bus_.Now());
  FollowConverter();
  Reconfigure();
  Update();
}

void Pxa27xSsp::Push(uint32_t word) {
  if (rxCount_ == kFifoDepth) {
    ++lost_;
    sssr_.value |= SSSR_ROR;
    return;
  }
  rx_[(rxHead_ + rxCount_) % kFifoDepth] = word;
  ++rxCount_;
}

void Pxa27xSsp::ReceiveFrame(uint32_t word) {
  Push(word);
  if (txCount_) --txCount_;
}

void Pxa27xSsp::LoseFrames(uint64_t count) {
  lost_ += count;
  framesLost_ += count;
  sssr_.value |= SSSR_ROR;
  txCount_ = count >= txCount_ ? 0 : txCount_ - static_cast<unsigned>(count);
}

void Pxa27xSsp::Reconfigure() {
  enabled_ = (sscr0_.value & SSCR0_SSE) != 0;
  transmitLevel_ = (sscr1_.value & SSCR1_TFT) >> SSCR1_TFT_SHIFT;
  receiveLevel_ = ((sscr1_.value & SSCR1_RFT) >> SSCR1_RFT_SHIFT) + 1u;
  for (unsigned n = 0; n <= kFifoDepth; ++n) {
    // A full transmit FIFO reads TFL 0 with TNF clear, an empty receive FIFO
    // RFL 0xF with RNE clear.
    uint32_t rx = ((n - 1u) & 0xFu) << SSSR_RFL_SHIFT, tx = (n & 0xFu) << SSSR_TFL_SHIFT;
    if (n != 0) rx |= SSSR_RNE;
    if (n < kFifoDepth) tx |= SSSR_TNF;
    if (enabled_) {
      if (running_) rx |= SSSR_BSY;
      if (n >= receiveLevel_) rx |= SSSR_RFS;
      if (n <= transmitLevel_) tx |= SSSR_TFS;
    }
    receiveStatus_[n] = rx;
    transmitStatus_[n] = tx;
  }
}

void SspTestPort::Inject(uint32_t word) {
  port_.CatchUp(port_.bus_.Now());
  port_.Push(word);
  port_.Update();
  port_.ChangedBehindTheBus();
}

void SspTestPort::InjectAtPoll(uint64_t n, uint32_t word) {
  port_.pollCountdown_ = n;
  port_.pollWord_ = word;
  port_.SetReadHook(SSSR, n ? ReadBy<&Pxa27xSsp::ReadSssrCountingPolls> : nullptr);
}

void SspTestPort::Stall(bool stalled) {
  port_.CatchUp(port_.bus_.Now());
  port_.converter_.Stall(stalled, port_.bus_.Now());
  port_.FollowConverter();
  port_.ChangedBehindTheBus();
}

void SspTestPort::ForceOverrun() {
  port_.CatchUp(port_.bus_.Now());
  port_.sssr_.value |= SSSR_ROR;
  port_.Update();
  port_.ChangedBehindTheBus();
}

}  // namespace sim
