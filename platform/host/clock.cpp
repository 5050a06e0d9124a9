// GetSystemTime and GetTimeZoneInformation, answered by the attached board:
// its wall clock (epoch plus virtual time) and the time-zone setting it holds.
#include <cstring>

#include "hostlib/time_zone.h"
#include "platform/calendar.h"
#include "platform/host/host.h"
#include "platform/kernel.h"
#include "sim/board.h"
#include "sim/fault.h"

void GetSystemTime(LPSYSTEMTIME systemTime) {
  std::memset(systemTime, 0, sizeof *systemTime);
  const sim::Board* board = host::AttachedBoard();
  if (board == nullptr) {
    sim::Fault("GetSystemTime with no board attached");
    return;
  }
  const int64_t ns = board->UtcNanoseconds();
  const int64_t days = FloorDivide(ns, 86400 * int64_t{1000000000});
  const int64_t msOfDay = (ns - days * 86400 * int64_t{1000000000}) / 1000000;
  int64_t year;
  int month, day;
  CivilFromDays(days, &year, &month, &day);
  systemTime->wYear = static_cast<WORD>(year);
  systemTime->wMonth = static_cast<WORD>(month);
  systemTime->wDayOfWeek = static_cast<WORD>(DayOfWeek(days));
  systemTime->wDay = static_cast<WORD>(day);
  systemTime->wHour = static_cast<WORD>(msOfDay / 3600000);
  systemTime->wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
  systemTime->wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
  systemTime->wMilliseconds = static_cast<WORD>(msOfDay % 1000);
}

// The host does not work out which period is in force (the program reads only
// the setting): TIME_ZONE_ID_UNKNOWN without a daylight rule, else
// TIME_ZONE_ID_STANDARD.
DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION timeZoneInformation) {
  std::memset(timeZoneInformation, 0, sizeof *timeZoneInformation);
  const sim::Board* board = host::AttachedBoard();
  if (board == nullptr) {
    sim::Fault("GetTimeZoneInformation with no board attached");
    return TIME_ZONE_ID_INVALID;
  }
  const hostlib::TimeZoneSetting& zone = board->timeZone();
  *timeZoneInformation = hostlib::ZoneInformation(zone);
  return zone.daylightStart.month == 0 ? TIME_ZONE_ID_UNKNOWN : TIME_ZONE_ID_STANDARD;
}
