#include "sim/pxa27x_ac97.h"

#include <cstring>

namespace sim {

using namespace ac97;

// After the board's boot the audio driver has brought the link up: GCR has
// COLD_RST, GSR has PCR.
std::vector<RegisterRow> Ac97Controller::Rows() {
  std::vector<RegisterRow> rows = {
      {POCR, "POCR", 0, xCR_WRITABLE, 0, kReadWrite},
      {PICR, "PICR", 0, xCR_WRITABLE, 0, kReadWrite},
      {MCCR, "MCCR", 0, xCR_WRITABLE, 0, kReadWrite},
      {GCR, "GCR", GCR_COLD_RST, GCR_WRITABLE, 0, kReadWrite, nullptr,
       WriteBy<&Ac97Controller::WriteGcr>},
      {POSR, "POSR", 0, 0, xSR_W1C, kReadWrite},
      {PISR, "PISR", 0, 0, xSR_W1C, kReadWrite},
      {MCSR, "MCSR", 0, 0, xSR_W1C, kReadWrite},
      // ACOFFD follows from the link state; held bits read low.
      {GSR, "GSR", GSR_PCR, 0, GSR_W1C, kReadWrite, ReadBy<&Ac97Controller::ReadGsr>},
      // A semaphore: the read that finds CAIP clear claims the codec.
      {CAR, "CAR", 0, CAR_CAIP, 0, kReadWrite, ReadBy<&Ac97Controller::ReadCar>},
  };
  // The codec's registers live in the codec; the controller's rows only carry
  // the AC-link commands.
  // "CODEC" and the register's two hex digits, written at every start-up: by
  // hand, since 64 calls of snprintf cost the start more than the rest of
  // this block.
  static char names[kCodecRegisters][8];
  static_assert(2 * kCodecRegisters <= 0x100, "two hex digits name each codec register");
  for (uint32_t i = 0; i < kCodecRegisters; ++i) {
    const char kHex[] = "0123456789ABCDEF";
    std::memcpy(names[i], "CODEC", 5);
    names[i][5] = kHex[(2 * i) >> 4];
    names[i][6] = kHex[(2 * i) & 0xF];
    names[i][7] = '\0';
    rows.push_back({kPrimaryCodec + 4 * i, names[i], 0, 0, 0, kReadWrite,
                    ReadBy<&Ac97Controller::ReadCodecRegister>,
                    WriteBy<&Ac97Controller::WriteCodecRegister>, 2 * i});
  }
  return rows;
}

Ac97Controller::Ac97Controller(const Bus& bus) : RegisterBlock("AC97", Rows()), bus_(bus) {
  ResetCodec();
  DueAt(0);
}

bool Ac97Controller::LinkOff() const {
  return (Gcr() & GCR_ACLINK_OFF) != 0 || (codec_[AC97_POWERDOWN / 2] & AC97_PR4) != 0;
}

void Ac97Controller::CatchUp(Nanoseconds now) {
  uint32_t& gsr = At(GSR).value;
  if (commandPending_ && now >= commandDoneAt_) {
    commandPending_ = false;
    gsr |= GSR_CDONE;
    At(CAR).value &= ~CAR_CAIP;
  }
  if (statusPending_ && now >= statusDoneAt_) {
    statusPending_ = false;
    readLatch_ = statusData_;
    gsr |= GSR_SDONE;
    At(CAR).value &= ~CAR_CAIP;
  }
}

uint32_t Ac97Controller::Gsr() {
  CatchUp(bus_.Now());
  return ReadGsr(At(GSR));
}

uint32_t Ac97Controller::ReadGsr(Register& gsr) {
  uint32_t value = gsr.value;
  if ((Gcr() & GCR_ACLINK_OFF) != 0 && bus_.Now() >= linkOffAt_) value |= GSR_ACOFFD;
  return value & ~held_;
}

uint32_t Ac97Controller::ReadCar(Register& car) {
  const uint32_t value = car.value;
  car.value |= CAR_CAIP;
  return value;
}

void Ac97Controller::WriteGcr(Register& gcr, uint32_t before, uint32_t written) {
  uint32_t& gsr = At(GSR).value;
  // A reset restarts the link: nothing is in flight after it. A command to a
  // codec whose link was down left CAIP set until then.
  if ((before & GCR_COLD_RST) != 0 && (gcr.value & GCR_COLD_RST) == 0) {
    ResetCodec();
    gsr &= ~GSR_PCR;
    commandPending_ = statusPending_ = false;
    At(CAR).value &= ~CAR_CAIP;
  } else if ((before & GCR_COLD_RST) == 0 && (gcr.value & GCR_COLD_RST) != 0) {
    gsr |= GSR_PCR;
  }
  if ((written & GCR_WARM_RST) != 0) {
    codec_[AC97_POWERDOWN / 2] &= ~AC97_PR4;
    gsr |= GSR_PCR;
    if (!InFlight()) At(CAR).value &= ~CAR_CAIP;
  }
  if ((before & GCR_ACLINK_OFF) == 0 && (gcr.value & GCR_ACLINK_OFF) != 0) {
    linkOffAt_ = bus_.Now() + kLinkOffNs;
  }
}

uint32_t Ac97Controller::ReadCodecRegister(Register& reg) {
  // The data of the previous read comes back; this one's arrives with SDONE.
  const uint32_t value = readLatch_;
  if (InFlight()) {
    ++lostAccesses_;
    return value;
  }
  statusData_ = ReadCodec(reg.row.index);
  At(CAR).value |= CAR_CAIP;
  statusPending_ = true;
  statusDoneAt_ = bus_.Now() + kCodecStatusNs;
  if (LinkOff()) {
    // Nothing comes back over a dead link: the read times out instead.
    statusPending_ = false;
    At(GSR).value |= GSR_RDCS;
  }
  return value;
}

void Ac97Controller::WriteCodecRegister(Register& reg, uint32_t, uint32_t written) {
  if (InFlight()) {
    ++lostAccesses_;
    return;
  }
  At(CAR).value |= CAR_CAIP;
  if (LinkOff()) return;  // the codec never hears it; CDONE never comes
  WriteCodec(reg.row.index, static_cast<uint16_t>(written));
  commandPending_ = true;
  commandDoneAt_ = bus_.Now() + kCodecCommandNs;
}

void Ac97Controller::ResetCodec() {
  for (uint16_t& r : codec_) r = 0;
  // AC'97 defaults: master, headphone and PCM-out muted.
  codec_[0x02 / 2] = 0x8000;
  codec_[0x04 / 2] = 0x8000;
  codec_[0x18 / 2] = 0x8808;
}

void Ac97Controller::WriteCodec(uint32_t r, uint16_t value) {
  if (r == 0x00) {
    ResetCodec();
  } else if (r == AC97_POWERDOWN) {
    codec_[r / 2] = value & AC97_POWERDOWN_WRITABLE;
  } else {
    codec_[r / 2] = value;
  }
}

uint16_t Ac97Controller::ReadCodec(uint32_t r) const {
  uint16_t value = codec_[r / 2];
  if (r == AC97_POWERDOWN) {
    // Ready flags: ADC, DAC, analog mixer, Vref, each unless powered down.
    if ((value & AC97_PR0) == 0) value |= 0x1;
    if ((value & AC97_PR1) == 0) value |= 0x2;
    if ((value & (AC97_PR2 | AC97_PR3)) == 0) value |= 0x4;
    if ((value & AC97_PR3) == 0) value |= 0x8;
  }
  return value;
}

uint16_t Ac97Controller::CodecRegister(uint32_t r) const {
  return r < 2 * kCodecRegisters && (r & 1) == 0 ? ReadCodec(r) : 0;
}

}  // namespace sim
