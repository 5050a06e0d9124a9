// PXA27x AC97 controller (physical 0x40500000, 64 KB) with the board's
// primary audio codec behind it.
//
// Decoded: the control and status registers of the PCM-in, PCM-out and mic
// channels, GCR, GSR, CAR, and the primary audio codec's registers at
// 0x200 + 2r. The FIFO data registers, the modem channels and the secondary
// and modem codec ranges are not decoded: the program has no business there.
//
// Timing (virtual, from the bus clock, one AC-link frame = 1/48 kHz):
// - a codec register write sets CAR.CAIP and completes one frame later:
//   GSR.CDONE rises and CAIP clears;
// - a codec register read starts an AC-link read and returns the data of the
//   previous read, as the manual warns; the new data is there when GSR.SDONE
//   rises two frames later, for the next read to return, and CAIP clears;
// - the link carries one codec access at a time: a codec read or write that
//   arrives while another is in flight is lost, as on the part (nothing goes
//   out, nothing completes; a lost read returns what the controller holds).
//   Ac97TestPort counts them;
// - reading CAR with CAIP clear claims the codec (the read sets CAIP); the
//   claimant's access follows, or software writes CAR 0 to give it back;
// - setting GCR.ACLINK_OFF raises GSR.ACOFFD one frame later; clearing it
//   brings the link back and drops ACOFFD.
// CDONE and SDONE are sticky, cleared only by writing 1 to them, as on the
// part. A codec command issued while the link is off (ACLINK_OFF, or the
// codec's own link power-down PR4) never completes. A warm reset (GCR
// WARM_RST) wakes the codec's link; a cold reset (GCR COLD_RST written 0)
// resets the codec.
//
// After the board's boot the audio driver has brought the link up: GCR has
// COLD_RST set, GSR has PCR (primary codec ready), the codec is fully powered.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/bus.h"
#include "sim/register_block.h"

namespace sim {

namespace ac97 {
// Register offsets and bits, the manual's names. These definitions are the
// simulator's own, read from the manual apart from the system's
// hardware/pxa27x_ac97_regs.h on purpose: a second entry, so that a slip in
// one shows against the other.
constexpr uint32_t POCR = 0x00;  // PCM-out control
constexpr uint32_t PICR = 0x04;  // PCM-in control
constexpr uint32_t MCCR = 0x08;  // mic-in control
constexpr uint32_t GCR = 0x0C;   // global control
constexpr uint32_t POSR = 0x10;  // PCM-out status
constexpr uint32_t PISR = 0x14;  // PCM-in status
constexpr uint32_t MCSR = 0x18;  // mic-in status
constexpr uint32_t GSR = 0x1C;   // global status
constexpr uint32_t CAR = 0x20;   // codec access

constexpr uint32_t GCR_GIE = 1u << 0;
constexpr uint32_t GCR_COLD_RST = 1u << 1;  // 0 holds the link in cold reset
constexpr uint32_t GCR_WARM_RST = 1u << 2;  // a command bit, not stored
constexpr uint32_t GCR_ACLINK_OFF = 1u << 3;
constexpr uint32_t GCR_PRIRES_IEN = 1u << 4;
constexpr uint32_t GCR_SECRES_IEN = 1u << 5;
constexpr uint32_t GCR_PRIRDY_IEN = 1u << 8;
constexpr uint32_t GCR_SECRDY_IEN = 1u << 9;
constexpr uint32_t GCR_SDONE_IE = 1u << 18;
constexpr uint32_t GCR_CDONE_IE = 1u << 19;
constexpr uint32_t GCR_nDMAEN = 1u << 24;
constexpr uint32_t GCR_WRITABLE = GCR_GIE | GCR_COLD_RST | GCR_ACLINK_OFF | GCR_PRIRES_IEN |
                                  GCR_SECRES_IEN | GCR_PRIRDY_IEN | GCR_SECRDY_IEN | GCR_SDONE_IE |
                                  GCR_CDONE_IE | GCR_nDMAEN;

constexpr uint32_t GSR_ACOFFD = 1u << 3;  // AC-link shut off
constexpr uint32_t GSR_PCR = 1u << 8;     // primary codec ready
constexpr uint32_t GSR_PRIRES = 1u << 10;
constexpr uint32_t GSR_SECRES = 1u << 11;
constexpr uint32_t GSR_RDCS = 1u << 15;   // a codec read timed out
constexpr uint32_t GSR_SDONE = 1u << 18;  // codec status (read) done
constexpr uint32_t GSR_CDONE = 1u << 19;  // codec command (write) done
constexpr uint32_t GSR_W1C = GSR_PRIRES | GSR_SECRES | GSR_RDCS | GSR_SDONE | GSR_CDONE;

constexpr uint32_t CAR_CAIP = 1u << 0;  // a codec access is in progress

// Channel control: FIFO-service and error interrupt enables; status: the
// FIFO error and service flags, cleared by writing 1.
constexpr uint32_t xCR_WRITABLE = 0xA;
constexpr uint32_t xSR_W1C = 0x1C;

// The primary codec's register r (0x00..0x7E, even) at 0x200 + 2r.
constexpr uint32_t kPrimaryCodec = 0x200;
constexpr uint32_t kCodecRegisters = 64;
constexpr uint32_t AC97_POWERDOWN = 0x26;  // codec powerdown control/status
constexpr uint16_t AC97_PR0 = 1u << 8, AC97_PR1 = 1u << 9, AC97_PR2 = 1u << 10, AC97_PR3 = 1u << 11;
constexpr uint16_t AC97_PR4 = 1u << 12;               // AC-link (BIT_CLK and SDATA_IN) powered down
constexpr uint16_t AC97_POWERDOWN_WRITABLE = 0xFF00;  // PR0..PR7, EAPD; the low nibble reports
}  // namespace ac97

class Ac97Controller : public RegisterBlock {
 public:
  static constexpr Nanoseconds kFrameNs = 20833;
  static constexpr Nanoseconds kCodecCommandNs = kFrameNs;
  static constexpr Nanoseconds kCodecStatusNs = 2 * kFrameNs;
  static constexpr Nanoseconds kLinkOffNs = kFrameNs;

  explicit Ac97Controller(const Bus& bus);

  // Primary codec register r (0x00..0x7E) as the codec holds it.
  uint16_t CodecRegister(uint32_t r) const;
  uint32_t Gcr() const { return At(ac97::GCR).value; }
  uint32_t Gsr();  // with every event due by the bus's Now()

 private:
  friend class Ac97TestPort;
  static std::vector<RegisterRow> Rows();

  // The link's events are few and the controller's status follows from its
  // state at each access: it catches up on every one.
  void CatchUp(Nanoseconds now) override;
  bool LinkOff() const;
  void ResetCodec();
  void WriteCodec(uint32_t r, uint16_t value);
  uint16_t ReadCodec(uint32_t r) const;

  // An AC-link access is on the link until its CDONE or SDONE.
  bool InFlight() const { return commandPending_ || statusPending_; }

  void WriteGcr(Register& gcr, uint32_t before, uint32_t written);
  uint32_t ReadGsr(Register& gsr);
  uint32_t ReadCar(Register& car);
  uint32_t ReadCodecRegister(Register& reg);
  void WriteCodecRegister(Register& reg, uint32_t before, uint32_t written);

  const Bus& bus_;
  uint32_t held_ = 0;

  bool commandPending_ = false;
  Nanoseconds commandDoneAt_ = 0;
  bool statusPending_ = false;
  Nanoseconds statusDoneAt_ = 0;
  uint16_t statusData_ = 0;  // what the pending read brings back
  uint16_t readLatch_ = 0;   // what the next codec read returns
  Nanoseconds linkOffAt_ = 0;
  uint32_t lostAccesses_ = 0;

  uint16_t codec_[ac97::kCodecRegisters];
};

// The AC97 controller's test backdoor, apart from its bus side; no virtual
// time passes. GSR bits in `mask` never read as set from now on (a codec or
// link that never answers); 0 releases them. LostAccesses: the codec reads
// and writes that arrived while another access was on the link, since the
// board was made.
class Ac97TestPort {
 public:
  explicit Ac97TestPort(Ac97Controller& ac97) : ac97_(ac97) {}
  void HoldStatusLow(uint32_t mask) { ac97_.held_ = mask; }
  uint32_t LostAccesses() const { return ac97_.lostAccesses_; }

 private:
  Ac97Controller& ac97_;
};

}  // namespace sim
