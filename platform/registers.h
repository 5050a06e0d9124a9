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

uint32_t ReadRegister32(volatile uint32_t* reg);
void WriteRegister32(volatile uint32_t* reg, uint32_t value);

#endif
