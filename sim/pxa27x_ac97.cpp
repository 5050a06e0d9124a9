#include "sim/pxa27x_ac97.h"

#include <cstdio>

#include "hardware/pxa27x_ac97_regs.h"

namespace sim {

namespace {

constexpr uint32_t kCodecFirst = kPrimaryCodecBase;
constexpr uint32_t kCodecEnd = kPrimaryCodecBase + 0x100;

constexpr uint32_t GCR_PRIRES_IEN = 1u << 4;
constexpr uint32_t GCR_SECRES_IEN = 1u << 5;
constexpr uint32_t GCR_PRIRDY_IEN = 1u << 8;
constexpr uint32_t GCR_SECRDY_IEN = 1u << 9;
constexpr uint32_t GCR_SDONE_IE = 1u << 18;
constexpr uint32_t GCR_CDONE_IE = 1u << 19;
constexpr uint32_t GCR_nDMAEN = 1u << 24;
constexpr uint32_t kGcrWritable = GCR_GIE | GCR_COLD_RST | GCR_ACLINK_OFF | GCR_PRIRES_IEN |
                                  GCR_SECRES_IEN | GCR_PRIRDY_IEN | GCR_SECRDY_IEN |
                                  GCR_SDONE_IE | GCR_CDONE_IE | GCR_nDMAEN;

constexpr uint32_t GSR_PRIRES = 1u << 10;
constexpr uint32_t GSR_SECRES = 1u << 11;
constexpr uint32_t kGsrWriteOneToClear = GSR_PRIRES | GSR_SECRES | GSR_RDCS | GSR_SDONE | GSR_CDONE;

// Channel control: FIFO-service and error interrupt enables; status: the
// FIFO error and service flags, cleared by writing 1.
constexpr uint32_t kChannelControlWritable = 0xA;
constexpr uint32_t kChannelStatusBits = 0x1C;

// Powerdown register: PR0..PR7 and EAPD are written; the low nibble reports
// which sections are ready.
constexpr uint32_t kPowerdownIndex = AC97_POWERDOWN / 2;
constexpr uint16_t kPowerdownWritable = 0xFF00;
constexpr uint16_t PR0 = 1u << 8, PR1 = 1u << 9, PR2 = 1u << 10, PR3 = 1u << 11;

int ChannelIndex(uint32_t offset, uint32_t first) {
  return offset >= first && offset <= first + 8 ? static_cast<int>((offset - first) / 4) : -1;
}

}  // namespace

Ac97Controller::Ac97Controller(Bus& bus)
    : bus_(bus),
      channelControl_{0, 0, 0},
      channelStatus_{0, 0, 0},
      gcr_(GCR_COLD_RST),
      gsr_(GSR_PCR),
      car_(0) {
  ResetCodec();
}

const char* Ac97Controller::RegisterName(uint32_t offset) const {
  switch (offset) {
    case POCR: return "POCR";
    case PICR: return "PICR";
    case MCCR: return "MCCR";
    case GCR: return "GCR";
    case POSR: return "POSR";
    case PISR: return "PISR";
    case MCSR: return "MCSR";
    case GSR: return "GSR";
    case CAR: return "CAR";
    default: break;
  }
  if (offset >= kCodecFirst && offset < kCodecEnd && (offset & 3) == 0) {
    static char names[kCodecRegisters][16];
    char* name = names[(offset - kCodecFirst) / 4];
    if (name[0] == '\0') std::snprintf(name, sizeof names[0], "CODEC%02X", (offset - kCodecFirst) / 2);
    return name;
  }
  return nullptr;
}

bool Ac97Controller::LinkOff() const {
  return (gcr_ & GCR_ACLINK_OFF) != 0 || (codec_[kPowerdownIndex] & AC97_PR4) != 0;
}

void Ac97Controller::CatchUp() {
  const Nanoseconds now = bus_.Now();
  if (commandPending_ && now >= commandDoneAt_) {
    commandPending_ = false;
    gsr_ |= GSR_CDONE;
  }
  if (statusPending_ && now >= statusDoneAt_) {
    statusPending_ = false;
    readLatch_ = statusData_;
    gsr_ |= GSR_SDONE;
  }
  // A command to a codec whose link is down leaves CAIP set for good.
  if (!commandPending_ && !statusPending_ && !LinkOff()) car_ &= ~CAR_CAIP;
}

uint32_t Ac97Controller::Gsr() {
  CatchUp();
  uint32_t value = gsr_;
  if ((gcr_ & GCR_ACLINK_OFF) != 0 && bus_.Now() >= linkOffAt_) value |= GSR_ACOFFD;
  return value & ~held_;
}

bool Ac97Controller::Read(uint32_t offset, uint32_t* value) {
  int channel;
  if ((channel = ChannelIndex(offset, POCR)) >= 0) {
    *value = channelControl_[channel];
    return true;
  }
  if ((channel = ChannelIndex(offset, POSR)) >= 0) {
    *value = channelStatus_[channel];
    return true;
  }
  switch (offset) {
    case GCR:
      *value = gcr_;
      return true;
    case GSR:
      *value = Gsr();
      return true;
    case CAR:
      // A semaphore: the read that finds CAIP clear claims the codec.
      CatchUp();
      *value = car_;
      car_ |= CAR_CAIP;
      return true;
    default:
      break;
  }
  if (offset < kCodecFirst || offset >= kCodecEnd) return false;
  CatchUp();
  const uint32_t r = (offset - kCodecFirst) / 2;
  *value = readLatch_;
  statusData_ = ReadCodec(r);
  car_ |= CAR_CAIP;
  statusPending_ = true;
  statusDoneAt_ = bus_.Now() + kCodecStatusNs;
  if (LinkOff()) {
    // Nothing comes back over a dead link: the read times out instead.
    statusPending_ = false;
    gsr_ |= GSR_RDCS;
  }
  return true;
}

bool Ac97Controller::Write(uint32_t offset, uint32_t value) {
  int channel;
  if ((channel = ChannelIndex(offset, POCR)) >= 0) {
    channelControl_[channel] = value & kChannelControlWritable;
    return true;
  }
  if ((channel = ChannelIndex(offset, POSR)) >= 0) {
    channelStatus_[channel] &= ~(value & kChannelStatusBits);
    return true;
  }
  switch (offset) {
    case GCR: {
      CatchUp();
      const uint32_t before = gcr_;
      gcr_ = value & kGcrWritable;
      if ((before & GCR_COLD_RST) != 0 && (gcr_ & GCR_COLD_RST) == 0) {
        ResetCodec();
        gsr_ &= ~GSR_PCR;
        commandPending_ = statusPending_ = false;
      } else if ((before & GCR_COLD_RST) == 0 && (gcr_ & GCR_COLD_RST) != 0) {
        gsr_ |= GSR_PCR;
      }
      if ((value & GCR_WARM_RST) != 0) {
        codec_[kPowerdownIndex] &= ~AC97_PR4;
        gsr_ |= GSR_PCR;
      }
      if ((before & GCR_ACLINK_OFF) == 0 && (gcr_ & GCR_ACLINK_OFF) != 0) {
        linkOffAt_ = bus_.Now() + kLinkOffNs;
      }
      return true;
    }
    case GSR:
      CatchUp();
      gsr_ &= ~(value & kGsrWriteOneToClear);
      return true;
    case CAR:
      CatchUp();
      car_ = value & CAR_CAIP;
      return true;
    default:
      break;
  }
  if (offset < kCodecFirst || offset >= kCodecEnd) return false;
  CatchUp();
  car_ |= CAR_CAIP;
  if (LinkOff()) return true;  // the codec never hears it; CDONE never comes
  WriteCodec((offset - kCodecFirst) / 2, static_cast<uint16_t>(value));
  commandPending_ = true;
  commandDoneAt_ = bus_.Now() + kCodecCommandNs;
  return true;
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
    codec_[kPowerdownIndex] = value & kPowerdownWritable;
  } else {
    codec_[r / 2] = value;
  }
}

uint16_t Ac97Controller::ReadCodec(uint32_t r) const {
  uint16_t value = codec_[r / 2];
  if (r == AC97_POWERDOWN) {
    // Ready flags: ADC, DAC, analog mixer, Vref, each unless powered down.
    if ((value & PR0) == 0) value |= 0x1;
    if ((value & PR1) == 0) value |= 0x2;
    if ((value & (PR2 | PR3)) == 0) value |= 0x4;
    if ((value & PR3) == 0) value |= 0x8;
  }
  return value;
}

uint16_t Ac97Controller::CodecRegister(uint32_t r) const {
  return r < 2 * kCodecRegisters && (r & 1) == 0 ? ReadCodec(r) : 0;
}

bool Ac97Controller::Poke(uint32_t offset, uint32_t value) {
  int channel;
  if ((channel = ChannelIndex(offset, POCR)) >= 0) {
    channelControl_[channel] = value;
  } else if ((channel = ChannelIndex(offset, POSR)) >= 0) {
    channelStatus_[channel] = value;
  } else if (offset == GCR) {
    gcr_ = value;
  } else if (offset == GSR) {
    gsr_ = value;
  } else if (offset == CAR) {
    car_ = value;
  } else {
    return false;
  }
  return true;
}

}  // namespace sim
