// Day counts of the proleptic Gregorian calendar from 1 January 1970, and
// back. All arithmetic is 64-bit, so dates hold far beyond 2038 whatever the
// width of the C library's time_t (the board's runtime has no time functions
// at all). Year-of-era arithmetic: each 400-year era has 146097 days.
#pragma once

#include "platform/types.h"

inline bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

inline int DaysInMonth(int64_t year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to year-month-day (month 1..12, day 1..31).
inline int64_t DaysFromCivil(int64_t year, int month, int day) {
  // Years start in March, so the leap day ends the year.
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The date `days` after 1970-01-01.
inline void CivilFromDays(int64_t days, int64_t* year, int* month, int* day) {
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  *month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

// 0 = Sunday; 1970-01-01 was a Thursday.
inline int DayOfWeek(int64_t days) {
  const int64_t r = (days + 4) % 7;
  return static_cast<int>(r < 0 ? r + 7 : r);
}

// Floor division, for seconds before 1970 as well.
inline int64_t FloorDivide(int64_t value, int64_t divisor) {
  const int64_t q = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? q - 1 : q;
}
