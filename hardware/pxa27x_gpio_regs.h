// PXA27x GPIO controller (physical 0x40E00000): the registers the SSP3 pins use.
//
// The simulated board defines these registers again in sim/pxa27x_gpio.h, read from
// the manual on its own and not from this file, on purpose: a second,
// independent entry, so that a slip in either shows against the other.
#pragma once

#include "platform/types.h"

static const uint32_t kGpioPhys = 0x40E00000;
static const int32_t kGpioWindowSize = 116;  // GPLR0 .. GAFR3_U

static const uint32_t GPDR2 = 0x14;    // direction of GPIO 64..95: 1 = output
static const uint32_t GAFR2_U = 0x68;  // alternate function of GPIO 80..95, two bits a pin

// GPDR2 bit for GPIO n (64..95).
inline uint32_t GpdrBit(unsigned gpio) { return 1u << (gpio - 64); }
// GAFR2_U field mask and alternate-function value for GPIO n (80..95).
inline uint32_t GafrMask(unsigned gpio) { return 3u << (2 * (gpio - 80)); }
inline uint32_t GafrFunction(unsigned gpio, uint32_t af) { return af << (2 * (gpio - 80)); }

// The converter's pins: SSP3 in alternate function 1 on GPIO 81 to 84.
static const unsigned kSsp3PinFirst = 81;
static const unsigned kSsp3PinLast = 84;
