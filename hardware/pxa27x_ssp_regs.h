// PXA27x SSP3 port (physical 0x41900000).
//
// The simulated board defines these registers again in sim/pxa27x_ssp.h, read from
// the manual on its own and not from this file, on purpose: a second,
// independent entry, so that a slip in either shows against the other.
#pragma once

#include "platform/types.h"

static const uint32_t kSsp3Phys = 0x41900000;
static const int32_t kSspWindowSize = 24;  // SSCR0 .. SSDR; SSPSP lies beyond it in the same page

static const uint32_t SSCR0 = 0x00;  // control register 0
static const uint32_t SSCR1 = 0x04;  // control register 1
static const uint32_t SSSR = 0x08;   // status
static const uint32_t SSDR = 0x10;   // data (receive FIFO on read)
static const uint32_t SSPSP = 0x2C;  // programmable serial protocol
static const uint32_t SSRSA = 0x34;  // receive time slot active

static const uint32_t SSCR0_DSS = 0x0000000F;      // data size select (size - 1)
static const uint32_t SSCR0_DSS_24 = 0x00000007;   // with EDSS: 24-bit words
static const uint32_t SSCR0_FRF_PSP = 0x00000030;  // frame format: programmable serial protocol
static const uint32_t SSCR0_SSE = 0x00000080;      // port enable
static const uint32_t SSCR0_SCR = 0x000FFF00;      // serial clock rate: internal clock / (SCR + 1)
static const uint32_t SSCR0_SCR_DIV4 = 0x00000300;
static const uint32_t SSCR0_EDSS = 0x00100000;  // extended data size: adds 16 to DSS

static const uint32_t SSCR1_SFRMDIR = 0x01000000;  // frame signal is an input
static const uint32_t SSCR1_SCFR = 0x10000000;     // slave clock only while frame is active
static const uint32_t SSCR1_TTE = 0x40000000;      // transmit line tri-state enable

static const uint32_t SSSR_RNE = 0x00000008;  // receive FIFO not empty
static const uint32_t SSSR_ROR = 0x00000080;  // receive FIFO overrun, write 1 to clear

static const uint32_t SSPSP_SFRMWDTH_1 = 0x00010000;  // frame width of one serial clock

static const uint32_t SSRSA_SLOTS_0_1 = 0x00000003;
