#include "datafiles/local_time.h"

#include "platform/calendar.h"

namespace {

const int64_t kSecondsPerDay = 86400;
const int64_t kLongestOffsetMinutes = 24 * 60;
const int kFirstYear = 1901;  // with an offset of a day, still year 0 from 1900
const int kLastYear = 30827;  // SYSTEMTIME's own limit

int64_t FirstSecond() { return DaysFromCivil(kFirstYear, 1, 1) * kSecondsPerDay; }
int64_t EndSecond() { return DaysFromCivil(kLastYear + 1, 1, 1) * kSecondsPerDay; }

LocalTimeFields Zero() {
  LocalTimeFields f = {0, 0, 0, 0, 0};
  return f;
}

bool IsRecurringDate(const SYSTEMTIME& d) {
  return d.wYear == 0 && d.wMonth >= 1 && d.wMonth <= 12 && d.wDay >= 1 && d.wDay <= 5 &&
         d.wDayOfWeek <= 6 && d.wHour <= 23 && d.wMinute <= 59 && d.wSecond <= 59;
}

bool SameChange(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wMonth == b.wMonth && a.wDay == b.wDay && a.wDayOfWeek == b.wDayOfWeek &&
         a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

bool IsOffset(int64_t minutes) {
  return minutes >= -kLongestOffsetMinutes && minutes <= kLongestOffsetMinutes;
}

// Local seconds (from 1970, in the clock time that applies before the change)
// of the change `rule` in `year`: the wDay-th wDayOfWeek, 5 meaning the last.
int64_t ChangeInYear(int64_t year, const SYSTEMTIME& rule) {
  const int64_t first = DaysFromCivil(year, rule.wMonth, 1);
  int day = 1 + (rule.wDayOfWeek - DayOfWeek(first) + 7) % 7 + (rule.wDay - 1) * 7;
  while (day > DaysInMonth(year, rule.wMonth)) day -= 7;
  return (first + day - 1) * kSecondsPerDay + rule.wHour * 3600 + rule.wMinute * 60 + rule.wSecond;
}

}  // namespace

bool UtcSecondsOf(const SYSTEMTIME& utc, int64_t* seconds) {
  if (utc.wYear < kFirstYear || utc.wYear > kLastYear || utc.wMonth < 1 || utc.wMonth > 12 ||
      utc.wDay < 1 || utc.wDay > DaysInMonth(utc.wYear, utc.wMonth) || utc.wHour > 23 ||
      utc.wMinute > 59 || utc.wSecond > 59)
    return false;
  *seconds = DaysFromCivil(utc.wYear, utc.wMonth, utc.wDay) * kSecondsPerDay + utc.wHour * 3600 +
             utc.wMinute * 60 + utc.wSecond;
  return true;
}

LocalTimeFields LocalTimeAt(int64_t utcSeconds, const TIME_ZONE_INFORMATION& zone) {
  if (utcSeconds < FirstSecond() || utcSeconds >= EndSecond()) return Zero();

  int64_t standardBias = static_cast<int64_t>(zone.Bias) + zone.StandardBias;
  int64_t daylightBias = static_cast<int64_t>(zone.Bias) + zone.DaylightBias;
  if (!IsOffset(standardBias) || !IsOffset(daylightBias)) standardBias = daylightBias = 0;

  int64_t bias = standardBias;
  if (zone.DaylightDate.wMonth != 0 && IsRecurringDate(zone.DaylightDate) &&
      IsRecurringDate(zone.StandardDate) && !SameChange(zone.DaylightDate, zone.StandardDate)) {
    // The rules are local dates: take the year of the local standard time.
    int64_t year;
    int month, day;
    CivilFromDays(FloorDivide(utcSeconds - standardBias * 60, kSecondsPerDay), &year, &month, &day);
    const int64_t start = ChangeInYear(year, zone.DaylightDate) + standardBias * 60;
    const int64_t end = ChangeInYear(year, zone.StandardDate) + daylightBias * 60;
    const bool daylight = start < end ? utcSeconds >= start && utcSeconds < end
                                      : start > end && (utcSeconds >= start || utcSeconds < end);
    if (daylight) bias = daylightBias;
  }

  const int64_t local = utcSeconds - bias * 60;
  const int64_t days = FloorDivide(local, kSecondsPerDay);
  const int64_t secondOfDay = local - days * kSecondsPerDay;
  int64_t year;
  int month, day;
  CivilFromDays(days, &year, &month, &day);

  LocalTimeFields f;
  f.yearsSince1900 = static_cast<int32_t>(year - 1900);
  f.dayOfYear = static_cast<int32_t>(days - DaysFromCivil(year, 1, 1));
  f.hour = static_cast<int32_t>(secondOfDay / 3600);
  f.minute = static_cast<int32_t>(secondOfDay / 60 % 60);
  f.second = static_cast<int32_t>(secondOfDay % 60);
  return f;
}

LocalTimeFields LocalTimeOf(const SYSTEMTIME& utc, const TIME_ZONE_INFORMATION& zone) {
  int64_t seconds;
  if (!UtcSecondsOf(utc, &seconds)) return Zero();
  return LocalTimeAt(seconds, zone);
}
