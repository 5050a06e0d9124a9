// The bare-metal stand-in of the CE kernel on the PXA270 of QEMU's mainstone
// machine: what its parts share. Not part of the board program; the system
// sees only platform/kernel.h, platform/device.h and platform/format.h.
#pragma once

#include "platform/types.h"

// Debug console: the FFUART (QEMU's first serial port).
void ConsoleWrite(const char* text, size_t length);

// Ends the run through ARM semihosting: QEMU exits with 0 when `ok`, else 1.
// Standard output is flushed first.
void SemihostExit(bool ok);

// What GetLastError reports next.
void SetKernelError(uint32_t error);

// A fault the board would not survive: the line on the console, then the run
// ends as failed.
void Halt(const char* line);

extern "C" {
// Builds the translation table (flat RAM, the console's UART, the vector page,
// and the window area with every page faulting) and turns the MMU on.
void PelmokStartMmu();
// From startup.S: the faulting address, instruction and status.
void PelmokDataAbort(uint32_t address, uint32_t pc, uint32_t status);
void PelmokPrefetchAbort(uint32_t pc);
void PelmokUndefined(uint32_t pc);
// The C++ start after the MMU: the C library, the run, the exit.
void PelmokStart();
}

// What the image runs once the C library is up; each image defines it
// (the board program's run, or a deliberate fault).
int RunImage();
