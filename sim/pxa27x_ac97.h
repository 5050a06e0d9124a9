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
//   rises two frames later, for the next read to return;
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

#include "sim/bus.h"

namespace sim {

class Ac97Controller : public Device {
 public:
  static constexpr Nanoseconds kFrameNs = 20833;
  static constexpr Nanoseconds kCodecCommandNs = kFrameNs;
  static constexpr Nanoseconds kCodecStatusNs = 2 * kFrameNs;
  static constexpr Nanoseconds kLinkOffNs = kFrameNs;

  explicit Ac97Controller(Bus& bus);

  const char* BlockName() const override { return "AC97"; }
  const char* RegisterName(uint32_t offset) const override;
  bool Read(uint32_t offset, uint32_t* value) override;
  bool Write(uint32_t offset, uint32_t value) override;

  // Test backdoors, no virtual time.
  // GSR bits in `mask` never read as set from now on (a codec or link that
  // never answers); 0 releases them.
  void HoldStatusLow(uint32_t mask) { held_ = mask; }
  // Primary codec register r (0x00..0x7E) as the codec holds it.
  uint16_t CodecRegister(uint32_t r) const;
  // Stores a controller register (GCR, GSR, CAR or a channel register) as
  // given, with no side effects. False for an offset that is not one of them.
  bool Poke(uint32_t offset, uint32_t value);
  uint32_t Gcr() const { return gcr_; }
  uint32_t Gsr();  // with every event due by the bus's Now()

 private:
  static constexpr int kCodecRegisters = 64;

  // Brings the status bits up to the bus's time.
  void CatchUp();
  bool LinkOff() const;
  void ResetCodec();
  void WriteCodec(uint32_t r, uint16_t value);
  uint16_t ReadCodec(uint32_t r) const;

  Bus& bus_;
  uint32_t channelControl_[3];  // POCR, PICR, MCCR
  uint32_t channelStatus_[3];   // POSR, PISR, MCSR
  uint32_t gcr_;
  uint32_t gsr_;  // stored bits; ACOFFD follows from the link state
  uint32_t car_;
  uint32_t held_ = 0;

  bool commandPending_ = false;
  Nanoseconds commandDoneAt_ = 0;
  bool statusPending_ = false;
  Nanoseconds statusDoneAt_ = 0;
  uint16_t statusData_ = 0;   // what the pending read brings back
  uint16_t readLatch_ = 0;    // what the next codec read returns
  Nanoseconds linkOffAt_ = 0;

  uint16_t codec_[kCodecRegisters];
};

}  // namespace sim
