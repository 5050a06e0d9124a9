// The board's wall clock and its time-zone setting, as its kernel keeps them.
// The clock is UTC; the setting is the one rule a Windows CE device holds (an
// offset and at most one yearly daylight-saving rule, no history).
#pragma once

#include <cstdint>
#include <string>

namespace sim {

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

// The host's wall clock in nanoseconds since 1970-01-01 00:00 UTC.
int64_t HostClockNanoseconds();

}  // namespace sim
