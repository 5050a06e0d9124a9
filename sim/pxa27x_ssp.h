// PXA27x SSP3 (physical 0x41900000) as the converter's receiver: the port
// registers, a 16-entry receive FIFO fed by the converter while the port's
// start conditions hold, and a transmit FIFO the frames drain.
#pragma once

#include <cstdint>

#include "sim/bus.h"
#include "sim/converter.h"
#include "sim/line.h"
#include "sim/register_block.h"

namespace sim {

namespace ssp {
// Register offsets, the manual's names. These definitions are the simulator's
// own, read from the manual apart from hardware/pxa27x_ssp_regs.h on purpose:
// a second entry, so that a slip in one shows against the other.
constexpr uint32_t SSCR0 = 0x00;  // control 0
constexpr uint32_t SSCR1 = 0x04;  // control 1
constexpr uint32_t SSSR = 0x08;   // status
constexpr uint32_t SSITR = 0x0C;  // interrupt test
constexpr uint32_t SSDR = 0x10;   // data: receive FIFO on read, transmit FIFO on write
constexpr uint32_t SSTO = 0x28;   // receiver time-out
constexpr uint32_t SSPSP = 0x2C;  // programmable serial protocol
constexpr uint32_t SSTSA = 0x30;  // transmit time slot active
constexpr uint32_t SSRSA = 0x34;  // receive time slot active
constexpr uint32_t SSTSS = 0x38;  // time slot status (read-only)
constexpr uint32_t SSACD = 0x3C;  // audio clock divider

constexpr uint32_t SSCR0_DSS = 0x0000000F;  // data size - 1 (low four bits)
constexpr uint32_t SSCR0_FRF = 0x00000030;  // frame format
constexpr uint32_t SSCR0_FRF_PSP = 0x00000030;
constexpr uint32_t SSCR0_ECS = 0x00000040;   // external clock select
constexpr uint32_t SSCR0_SSE = 0x00000080;   // port enable
constexpr uint32_t SSCR0_SCR = 0x000FFF00;   // serial clock rate
constexpr uint32_t SSCR0_EDSS = 0x00100000;  // extended data size: +16
constexpr uint32_t SSCR0_NCS = 0x00200000;
constexpr uint32_t SSCR0_RIM = 0x00400000;       // receive FIFO overrun interrupt mask
constexpr uint32_t SSCR0_TIM = 0x00800000;       // transmit FIFO underrun interrupt mask
constexpr uint32_t SSCR0_FRDC = 0x07000000;      // frame rate divider control (network mode)
constexpr uint32_t SSCR0_ACS = 0x40000000;       // audio clock select
constexpr uint32_t SSCR0_MOD = 0x80000000;       // network mode
constexpr uint32_t SSCR0_WRITABLE = 0xC7FFFFFF;  // bits 29:27 reserved

constexpr uint32_t SSCR1_RIE = 0x00000001;
constexpr uint32_t SSCR1_TIE = 0x00000002;
constexpr uint32_t SSCR1_LBM = 0x00000004;
constexpr uint32_t SSCR1_TFT = 0x000003C0;  // transmit FIFO threshold
constexpr uint32_t SSCR1_TFT_SHIFT = 6;
constexpr uint32_t SSCR1_RFT = 0x00003C00;  // receive FIFO threshold - 1
constexpr uint32_t SSCR1_RFT_SHIFT = 10;
constexpr uint32_t SSCR1_TINTE = 0x00080000;
constexpr uint32_t SSCR1_RWOT = 0x00800000;
constexpr uint32_t SSCR1_SFRMDIR = 0x01000000;  // frame signal is an input (slave to frame)
constexpr uint32_t SSCR1_SCLKDIR = 0x02000000;  // serial clock is an input (slave to clock)
constexpr uint32_t SSCR1_SCFR = 0x10000000;
constexpr uint32_t SSCR1_TTE = 0x40000000;
constexpr uint32_t SSCR1_WRITABLE = 0xFFFDFFFF;  // bit 17 reserved

constexpr uint32_t SSSR_TNF = 0x00000004;  // transmit FIFO not full
constexpr uint32_t SSSR_RNE = 0x00000008;  // receive FIFO not empty
constexpr uint32_t SSSR_BSY = 0x00000010;  // port busy
constexpr uint32_t SSSR_TFS = 0x00000020;  // transmit FIFO service request
constexpr uint32_t SSSR_RFS = 0x00000040;  // receive FIFO service request
constexpr uint32_t SSSR_ROR = 0x00000080;  // receive FIFO overrun (W1C)
constexpr uint32_t SSSR_TFL = 0x00000F00;  // transmit FIFO level (16 reads as 0 with TNF clear)
constexpr uint32_t SSSR_TFL_SHIFT = 8;
constexpr uint32_t SSSR_RFL =
    0x0000F000;  // receive FIFO level - 1 (empty reads as 0xF with RNE clear)
constexpr uint32_t SSSR_RFL_SHIFT = 12;
constexpr uint32_t SSSR_PINT = 0x00040000;  // peripheral trailing byte (W1C)
constexpr uint32_t SSSR_TINT = 0x00080000;  // receiver time-out (W1C)
constexpr uint32_t SSSR_EOC = 0x00100000;   // end of chain (W1C)
constexpr uint32_t SSSR_TUR = 0x00200000;   // transmit FIFO underrun (W1C)
constexpr uint32_t SSSR_CSS = 0x00400000;   // clock synchronisation status
constexpr uint32_t SSSR_BCE = 0x00800000;   // bit count error (W1C)
constexpr uint32_t SSSR_W1C = SSSR_ROR | SSSR_PINT | SSSR_TINT | SSSR_EOC | SSSR_TUR | SSSR_BCE;
// The manual's reset value: transmit FIFO empty and not full, receive FIFO
// empty (RFL 0xF with RNE clear), nothing pending.
constexpr uint32_t kSssrReset = 0x0000F004;

constexpr uint32_t SSITR_WRITABLE = 0x000000E0;  // TTFS, TRFS, TROR
constexpr uint32_t SSTO_WRITABLE = 0x00FFFFFF;
constexpr uint32_t SSPSP_WRITABLE = 0x03FFFFFF;
constexpr uint32_t SSTSA_WRITABLE = 0x000000FF;
constexpr uint32_t SSRSA_WRITABLE = 0x000000FF;
constexpr uint32_t SSACD_WRITABLE = 0x0000007F;

constexpr unsigned kFifoDepth = 16;
// The port's signals reach its pins in alternate function 1 (the board says
// which GPIO carries which); the converter is the frame master.
constexpr unsigned kPinFunction = 1;
}  // namespace ssp

// The port reacts to its unit clock and its four pins as input lines; the
// converter on its serial link is the one device it talks to directly.
class Pxa27xSsp final : public RegisterBlock, private FrameReceiver {
 public:
  Pxa27xSsp(const Bus& bus, Converter& converter);

  // CKEN's SSP3 enable, and the port's pins by signal name ("SSPSCLK3",
  // "SSPSFRM3", "SSPRXD3", "SSPTXD3"), each carrying a PinMode. A change
  // delivers the frames due so far under the old conditions, then starts or
  // stops the converter at bus.Now().
  InputLine& UnitClock() { return unitClock_; }
  InputLine& Pin(const char* signal);

  // SSE, the unit clock, the pins and the port format all as the converter
  // needs them.
  bool Running() const { return running_; }

  uint64_t FramesMade() const { return converter_.FramesMade(); }
  // Converter frames that entered the FIFO: each frame made enters it or is lost.
  uint64_t FramesPushed() const { return converter_.FramesMade() - framesLost_; }
  uint64_t FramesRead() const { return read_; }  // SSDR reads that took an entry
  uint64_t FramesLost() const { return lost_; }  // words dropped at a full FIFO
  unsigned FifoLevel() const { return rxCount_; }

 private:
  friend class SspTestPort;
  static const RegisterRow kRows[];

  // FrameReceiver
  unsigned Room() const override { return ssp::kFifoDepth - rxCount_; }
  void ReceiveFrame(uint32_t word) override;
  void LoseFrames(uint64_t count) override;

  // RegisterBlock: the converter's next frame is the block's next event.
  void CatchUp(Nanoseconds now) override;
  // Every frame due through the converter's receiver side (several, or a full FIFO).
  __attribute__((noinline)) void DeliverFrames(Nanoseconds now);
  void FollowConverter() { DueAt(converter_.NextFrameAt()); }

  void WriteSscr0(Register& sscr0, uint32_t before, uint32_t written);
  void WriteSscr1(Register& sscr1, uint32_t before, uint32_t written);
  void WriteSssr(Register& sssr, uint32_t before, uint32_t written);
  inline uint32_t ReadSsdr(Register& ssdr);  // inline: its hook is the one call of an SSDR read
  void WriteSsdr(Register& ssdr, uint32_t before, uint32_t written);
  uint32_t ReadSssrCountingPolls(Register& sssr);

  void StartConditionsChanged();
  void Push(uint32_t word);
  bool ComputeRunning() const;
  // Takes the FIFO thresholds and the enable from SSCR0/SSCR1, and with
  // running_ derives the status bits of each FIFO level, for Update.
  void Reconfigure();
  // Sets every derived SSSR bit from the FIFO levels: a look-up of each.
  void Update() {
    sssr_.value =
        (sssr_.value & ssp::SSSR_W1C) | receiveStatus_[rxCount_] | transmitStatus_[txCount_];
  }
  // The same after a change of the receive FIFO's level alone: every other
  // bit is as the last Update left it.
  void UpdateReceive() { sssr_.value = (sssr_.value & ~kReceiveBits) | receiveStatus_[rxCount_]; }
  static constexpr uint32_t kReceiveBits =
      ssp::SSSR_RNE | ssp::SSSR_RFL | ssp::SSSR_RFS | ssp::SSSR_BSY;

  const Bus& bus_;
  Converter& converter_;
  // The registers the port's own logic works on, found once.
  Register& sscr0_;
  Register& sscr1_;
  Register& sssr_;
  InputLine unitClock_;
  InputLine pins_[4];  // SSPSCLK3, SSPSFRM3, SSPRXD3, SSPTXD3

  uint32_t rx_[ssp::kFifoDepth];
  unsigned rxHead_ = 0;
  unsigned rxCount_ = 0;
  unsigned txCount_ = 0;  // transmit words are shifted out, never looked at
  uint32_t lastRead_ = 0;
  bool running_ = false;
  bool enabled_ = false;        // SSCR0.SSE
  unsigned transmitLevel_ = 0;  // TFS at or below this many entries (SSCR1.TFT)
  unsigned receiveLevel_ = 1;   // RFS at or above this many entries (SSCR1.RFT + 1)
  // SSSR's derived bits for 0..16 entries: RNE, RFL, RFS and BSY by the
  // receive level, TNF, TFL and TFS by the transmit level.
  uint32_t receiveStatus_[ssp::kFifoDepth + 1];
  uint32_t transmitStatus_[ssp::kFifoDepth + 1];

  uint64_t pollCountdown_ = 0;  // only while SSSR's read hook counts polls
  uint32_t pollWord_ = 0;

  uint64_t framesLost_ = 0;  // converter frames lost at a full FIFO
  uint64_t read_ = 0;
  uint64_t lost_ = 0;
};

// Test backdoors of the SSP3 port, apart from its bus side; no virtual time
// passes. Inject pushes a word as if it had just been received (a full FIFO
// drops it and sets ROR). InjectAtPoll makes the word arrive just before the
// n-th SSSR read from now (n >= 1; 0 disarms); a second call replaces a
// pending one. Stall stops the converter making frames; released, it starts
// afresh one period later. ForceOverrun sets ROR as a dropped frame would,
// without touching the FIFO or the counters.
class SspTestPort {
 public:
  explicit SspTestPort(Pxa27xSsp& port) : port_(port) {}
  void Inject(uint32_t word);
  void InjectAtPoll(uint64_t n, uint32_t word);
  void Stall(bool stalled);
  void ForceOverrun();

 private:
  Pxa27xSsp& port_;
};

}  // namespace sim
