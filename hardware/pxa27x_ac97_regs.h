// PXA27x AC97 controller (physical 0x40500000) and the AC'97 codec register
// the low-power routine uses.
//
// The simulated board defines these registers again in sim/pxa27x_ac97.h, read from
// the manual on its own and not from this file, on purpose: a second,
// independent entry, so that a slip in either shows against the other.
#pragma once

#include "platform/types.h"

static const uint32_t kAc97Phys = 0x40500000;

static const uint32_t POCR = 0x00;  // PCM-out control
static const uint32_t PICR = 0x04;  // PCM-in control
static const uint32_t MCCR = 0x08;  // mic-in control
static const uint32_t GCR = 0x0C;   // global control
static const uint32_t POSR = 0x10;  // PCM-out status
static const uint32_t PISR = 0x14;  // PCM-in status
static const uint32_t MCSR = 0x18;  // mic-in status
static const uint32_t GSR = 0x1C;   // global status
static const uint32_t CAR = 0x20;   // codec access

static const uint32_t GCR_GIE = 1u << 0;
static const uint32_t GCR_COLD_RST = 1u << 1;  // 0 holds the link in cold reset
static const uint32_t GCR_WARM_RST = 1u << 2;
static const uint32_t GCR_ACLINK_OFF = 1u << 3;  // request to shut the AC-link off

static const uint32_t GSR_ACOFFD = 1u << 3;  // AC-link shut off
static const uint32_t GSR_PCR = 1u << 8;     // primary codec ready
static const uint32_t GSR_RDCS = 1u << 15;   // a codec read timed out
static const uint32_t GSR_SDONE = 1u << 18;  // codec status (read) done
static const uint32_t GSR_CDONE = 1u << 19;  // codec command (write) done

static const uint32_t CAR_CAIP = 1u << 0;  // a codec access is in progress

// Codec register r of the primary audio codec lies at 0x200 + 2r.
static const uint32_t kPrimaryCodecBase = 0x200;
inline uint32_t PrimaryCodecRegister(uint32_t r) { return kPrimaryCodecBase + 2 * r; }

static const uint32_t AC97_POWERDOWN = 0x26;  // codec powerdown control/status
static const uint32_t AC97_PR4 = 1u << 12;    // AC-link (BIT_CLK and SDATA_IN) powered down
static const uint32_t kPrimaryCodecPowerdown = kPrimaryCodecBase + 2 * AC97_POWERDOWN;  // 0x24C
