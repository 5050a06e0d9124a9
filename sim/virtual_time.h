// The simulated board's clock: virtual nanoseconds since the board came out
// of reset, advanced only by register accesses (see sim/bus.h).
#pragma once

#include <cstdint>

namespace sim {

using Nanoseconds = uint64_t;

}  // namespace sim
