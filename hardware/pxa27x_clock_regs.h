// PXA27x clock manager (physical 0x41300000).
//
// The simulated board defines these registers again in sim/pxa27x_clock.h, read from
// the manual on its own and not from this file, on purpose: a second,
// independent entry, so that a slip in either shows against the other.
#pragma once

#include "platform/types.h"

static const uint32_t kClockManagerPhys = 0x41300000;

static const uint32_t CCCR = 0x00;  // core clock configuration
static const uint32_t CKEN = 0x04;  // clock enable
static const uint32_t OSCC = 0x08;  // oscillator configuration
static const uint32_t CCSR = 0x0C;  // core clock status

static const uint32_t kCkenPhys = kClockManagerPhys + CKEN;

static const uint32_t CKEN_AC97 = 1u << 2;       // AC97 controller unit clock
static const uint32_t CKEN_SSP3 = 1u << 4;       // SSP3 unit clock
static const uint32_t CKEN_AC97CONF = 1u << 31;  // AC97 controller configuration clock
