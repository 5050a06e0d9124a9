// A fixed clock and zone: the board's clock stands still at 2026-12-09
// 00:00:00 UTC, in a zone of UTC with no daylight saving, so the run names
// its data files as the host simulation does with --start-time
// 2026-12-09T00:00:00Z --time-zone UTC0 (a run shorter than a second).
#include <string.h>

#include "platform/kernel.h"

void GetSystemTime(LPSYSTEMTIME systemTime) {
  memset(systemTime, 0, sizeof *systemTime);
  systemTime->wYear = 2026;
  systemTime->wMonth = 12;
  systemTime->wDayOfWeek = 3;
  systemTime->wDay = 9;
}

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION zone) {
  memset(zone, 0, sizeof *zone);
  return TIME_ZONE_ID_UNKNOWN;
}
