// The board's wall clock, as its kernel keeps it: UTC. Its time-zone setting
// (hostlib/time_zone.h) is the one rule a Windows CE device holds.
#pragma once

#include <cstdint>

namespace sim {

// The host's wall clock in nanoseconds since 1970-01-01 00:00 UTC.
int64_t HostClockNanoseconds();

}  // namespace sim
