// Local calendar time from the system clock (UTC) and the device's time-zone
// setting, as the data file names carry it. The board's C runtime has no calendar
// conversion of its own, so this is the program's own arithmetic,
// 64-bit throughout: it holds past 2038 on every build.
#pragma once

#include "platform/types.h"

#include "platform/kernel.h"

// The five fields of a data file name.
struct LocalTimeFields {
  int32_t yearsSince1900;
  int32_t dayOfYear;  // 0 = 1 January
  int32_t hour;
  int32_t minute;
  int32_t second;
};

// What the conversion handles, and what it gives otherwise:
// - A clock from 1901 to 30827 with every field in range (month 1 to 12, day
//   within the month, 23:59:59 at most). Any other clock, and any instant
//   outside those years, gives all five fields 0 (the name "0-0-0-0-0").
// - A zone whose standard and daylight offsets (Bias + StandardBias,
//   Bias + DaylightBias) lie within 24 hours; a zone beyond that is read as UTC.
// - Daylight saving only with both dates in the recurring form (wYear 0,
//   month 1 to 12, wDay 1 to 5, wDayOfWeek 0 to 6, time of day below 24:00) and
//   different; any other daylight rule is ignored and standard time applies
//   all year.
// The fields are thus always in range, and a year counted from 1900 stays
// between 0 and 28928: a name never exceeds its buffer.

// Seconds since 1970-01-01 00:00 UTC of `utc`; false for a clock the
// conversion does not handle.
bool UtcSecondsOf(const SYSTEMTIME& utc, int64_t* seconds);

// Local time at `utcSeconds` (seconds since 1970-01-01 00:00 UTC) under `zone`.
// A daylight change happens at DaylightDate's time in local standard time and
// at StandardDate's time in local daylight time; when DaylightDate comes later
// in the year than StandardDate (the southern hemisphere), daylight time spans
// the new year.
LocalTimeFields LocalTimeAt(int64_t utcSeconds, const TIME_ZONE_INFORMATION& zone);

LocalTimeFields LocalTimeOf(const SYSTEMTIME& utc, const TIME_ZONE_INFORMATION& zone);
