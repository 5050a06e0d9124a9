// Register windows: ranges of physical processor registers bound into the
// process, read-write and uncached, through which registers are reached as
// 32-bit words. The register at physical A + d lies at window + d, where A is
// the address the window was made for.
#pragma once

#include "platform/registers.h"
#include "platform/types.h"

typedef volatile uint32_t* RegisterWindow;

// Binds the whole 4 KB pages that cover `size` bytes from `physicalAddress`
// and returns a window on `physicalAddress`, or NULL.
RegisterWindow MapPhysicalAddr(uint32_t physicalAddress, int32_t size);

// Binds 64 KB from the page that holds the register and returns a window on
// the register itself, or NULL.
RegisterWindow MapRegisterPage(uint32_t physicalAddress);

// Releases the reservation that holds the window; NULL releases nothing.
void UnmapRegisterWindow(RegisterWindow window);

// The long-lived windows of the run, mapped at start-up by MapSspRegisters
// and released by the run at its end.
extern RegisterWindow GpioRegPtr;
extern RegisterWindow SspRegPtr;
extern RegisterWindow v_pClkRegs;

// Byte offsets from a window. Pointer arithmetic stays in uintptr_t, so a
// window holds on a 64-bit host as on the 32-bit board.
inline volatile uint32_t* RegisterAt(RegisterWindow window, uint32_t offset) {
  return reinterpret_cast<volatile uint32_t*>(reinterpret_cast<uintptr_t>(window) + offset);
}

// Every register access of the system goes through these four. A
// read-modify-write reads the register afresh each time.
inline uint32_t RegRead(RegisterWindow window, uint32_t offset) {
  return ReadRegister32(RegisterAt(window, offset));
}
inline void RegWrite(RegisterWindow window, uint32_t offset, uint32_t value) {
  WriteRegister32(RegisterAt(window, offset), value);
}
inline void RegSet(RegisterWindow window, uint32_t offset, uint32_t mask) {
  RegWrite(window, offset, RegRead(window, offset) | mask);
}
inline void RegClear(RegisterWindow window, uint32_t offset, uint32_t mask) {
  RegWrite(window, offset, RegRead(window, offset) & ~mask);
}
