// The SSP3 port that the converter is wired to: set-up and the sample reader.
#pragma once

#include "platform/types.h"

// Maps GpioRegPtr, SspRegPtr and v_pClkRegs and prints the registers' values
// before the set-up.
void MapSspRegisters();

// Programs GPIO 81..84, the port and its unit clock through short-lived
// windows of its own, printing each register after it is programmed. The port
// is left enabled as a 24-bit PSP receiver clocked by itself, framed by the
// converter.
void InitNSSP();

// Polls the receive FIFO through SspRegPtr for `count` samples into buffer[0..].
// Returns count (0 for count <= 0), or -1 after a sample's poll budget ran out;
// the words from the one that timed out to the end are then 0. A receive
// overrun (ROR) is cleared when seen and reported once per call.
int32_t ReadSspSamples(uint32_t* buffer, int32_t count);

// Polls of SSSR a sample may take: the first, and one for each count down to 0.
static const uint32_t kSspPollBudget = 0x3FFFF;
