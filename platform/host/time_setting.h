// The board's clock and time-zone setting from the host's ways of writing
// them: an ISO 8601 UTC time, a POSIX TZ rule, a zoneinfo zone name. The
// board holds one rule with no history, so only what its setting can hold is
// accepted; everything else is refused with a reason.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel.h"
#include "sim/board_clock.h"

namespace host {

// "2026-10-25T00:59:58Z" -> seconds since 1970-01-01 00:00 UTC. Years 1970 to
// 2199 (the board's clock counts nanoseconds in 64 bits).
bool ParseUtcTime(const std::string& text, int64_t* seconds, std::string* error);

// A POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3", "<+0545>-5:45", "UTC0").
// Refused: Julian-day dates (Jn, n), a change outside 00:00 to 23:59:59, an
// offset beyond 24 hours or with seconds, daylight time without its dates.
bool ParseZoneRule(const std::string& rule, sim::TimeZoneSetting* zone, std::string* error);

// The POSIX rule at the end of a zoneinfo file of version 2 or later.
bool ReadZoneinfoRule(const std::string& path, std::string* rule, std::string* error);

// The setting the TZ variable describes: a rule as it stands, else a zone
// name (":Europe/Berlin" or "Europe/Berlin") by the rule of its zoneinfo file
// under `zoneinfoDir`; `tz` nullptr: the host's own zone, `localtimePath`.
bool ZoneFromTz(const char* tz, sim::TimeZoneSetting* zone, std::string* error,
                const std::string& zoneinfoDir = "/usr/share/zoneinfo",
                const std::string& localtimePath = "/etc/localtime");

// The setting as the board's kernel reports it (GetTimeZoneInformation).
TIME_ZONE_INFORMATION ZoneInformation(const sim::TimeZoneSetting& zone);

}  // namespace host
