// The board's time-zone setting, and the host's ways of writing it and the
// board's clock: an ISO 8601 UTC time, a POSIX TZ rule, a zoneinfo zone name.
// The board holds one rule with no history, so only what its setting can hold
// is accepted; everything else is refused with a reason. The simulated board,
// the host platform and the host tools all take the setting from here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel.h"

namespace hostlib {

// A yearly change: the week-th (1 to 5, 5 the last) weekday (0 = Sunday) of
// month (1 to 12) at hour:minute:second local time, the time in force before
// the change.
struct ZoneChange {
  uint16_t month = 0;
  uint16_t week = 0;
  uint16_t weekday = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
};

// UTC = local time + bias (+ standardBias or daylightBias), in minutes, as the
// kernel reports it. daylightStart.month 0: no daylight saving.
struct TimeZoneSetting {
  int32_t bias = 0;
  std::string standardName = "UTC";
  ZoneChange standardStart;  // the change back to standard time
  int32_t standardBias = 0;
  std::string daylightName;
  ZoneChange daylightStart;  // the change to daylight time
  int32_t daylightBias = 0;
};

// "2026-10-25T00:59:58Z" -> seconds since 1970-01-01 00:00 UTC. Years 1970 to
// 2199 (the board's clock counts nanoseconds in 64 bits).
bool ParseUtcTime(const std::string& text, int64_t* seconds, std::string* error);

// A POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3", "<+0545>-5:45", "UTC0").
// Refused: Julian-day dates (Jn, n), a change outside 00:00 to 23:59:59, an
// offset beyond 24 hours or with seconds, daylight time without its dates.
bool ParseZoneRule(const std::string& rule, TimeZoneSetting* zone, std::string* error);

// The POSIX rule at the end of a zoneinfo file of version 2 or later.
bool ReadZoneinfoRule(const std::string& path, std::string* rule, std::string* error);

// A zone written as TZ takes it: a rule as it stands, else a zone name
// (":Europe/Berlin" or "Europe/Berlin") by the rule at the end of its
// zoneinfo file under `zoneinfoDir`.
bool ParseTimeZone(const std::string& text, TimeZoneSetting* zone, std::string* error,
                   const std::string& zoneinfoDir = "/usr/share/zoneinfo");

// The setting the TZ variable describes, as ParseTimeZone reads it; `tz`
// nullptr: the host's own zone, `localtimePath`.
bool ZoneFromTz(const char* tz, TimeZoneSetting* zone, std::string* error,
                const std::string& zoneinfoDir = "/usr/share/zoneinfo",
                const std::string& localtimePath = "/etc/localtime");

// Where a setting came from, for messages: "TZ=Europe/Berlin", or "the host's
// zone (/etc/localtime)" when TZ is not set.
std::string TzOrigin(const char* tz);

// The setting as the board's kernel reports it (GetTimeZoneInformation).
TIME_ZONE_INFORMATION ZoneInformation(const TimeZoneSetting& zone);

}  // namespace hostlib
