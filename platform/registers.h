// The one pair of accessors through which every processor register access
// goes. On the board a register is a volatile 32-bit word in an uncached
// window, so an access is a single load or store that the compiler may not
// merge, reorder against other register accesses or drop. On the host the
// window is a reservation that faults when touched directly; the access is
// routed to the simulated physical bus instead.
#pragma once

#include "platform/types.h"

#if defined(UNDER_CE) || defined(PELMOK_DIRECT_REGISTERS)

inline uint32_t ReadRegister32(volatile uint32_t* reg) { return *reg; }
inline void WriteRegister32(volatile uint32_t* reg, uint32_t value) { *reg = value; }

#else

// The reads of one register that the simulated bus has lent out (reads that
// see its stored value until its block's next event) are served here, inline
// in the poll loop: a compare and a count down, each one access of the bus.
// Every other access goes to the bus, which lends afresh after it.
struct HostRegisterLease {
  volatile uint32_t* reg;  // the register lent, or NULL
  uintptr_t* left;         // reads left, the bus's count
  const uint32_t* value;   // its stored value
};
extern HostRegisterLease hostRegisterLease;

uint32_t ReadRegister32ByBus(volatile uint32_t* reg);
// The lent register's read once every read lent is used.
uint32_t ReadRegister32PastLease();

inline uint32_t ReadRegister32(volatile uint32_t* reg) {
  const HostRegisterLease& lease = hostRegisterLease;
  if (reg != lease.reg) return ReadRegister32ByBus(reg);
  // One decrement and its sign: at 0 the count goes below, and the bus's
  // read path sets it right.
  uintptr_t& left = *lease.left;
  left -= 1;
  if (static_cast<intptr_t>(left) >= 0) return *lease.value;
  return ReadRegister32PastLease();
}
void WriteRegister32(volatile uint32_t* reg, uint32_t value);

#endif
