// libFuzzer target for the host's time-zone readers and the board's local
// time. The first byte of an input says what the rest is: even, a POSIX TZ
// rule for ParseZoneRule; odd, a zoneinfo file, written under /dev/shm and
// read as TZ=:FILE is (ZoneFromTz). A refusal must give a one-line reason
// without control bytes. An accepted zone reaches LocalTimeAt as the kernel
// reports it, and a few UTC instants from 1970 to 2199 picked from the input,
// including the seconds around each change, are checked against glibc's
// localtime_r with the same rule in TZ (for a zoneinfo file, the rule at its
// end: the board holds no history).
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "datafiles/local_time.h"
#include "fuzz/scratch_folder.h"
#include "hostlib/time_zone.h"
#include "platform/calendar.h"

namespace {

namespace fs = std::filesystem;

std::string zoneinfoFile;

[[noreturn]] void Trap(const std::string& what, const uint8_t* data, size_t size) {
  std::fprintf(stderr, "time-zone check failed: %s\ninput (%zu bytes):\n", what.c_str(), size);
  std::fwrite(data, 1, size, stderr);
  std::fputc('\n', stderr);
  __builtin_trap();
}

// Instants from the input's bytes (FNV-1a, then splitmix64).
struct Picker {
  uint64_t state = 1469598103934665603u;
  Picker(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) state = (state ^ data[i]) * 1099511628211u;
  }
  uint64_t Next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
};

const int kFirstYear = 1970, kLastYear = 2199;
const int64_t kDay = 86400;

// The change `c` of `year` in UTC, `biasMinutes` being the offset in force
// before it; the same date rule CE documents (wDay 5: the last).
int64_t ChangeUtc(int64_t year, const SYSTEMTIME& c, int64_t biasMinutes) {
  const int64_t first = DaysFromCivil(year, c.wMonth, 1);
  int day = 1 + (c.wDayOfWeek - DayOfWeek(first) + 7) % 7 + (c.wDay - 1) * 7;
  while (day > DaysInMonth(year, c.wMonth)) day -= 7;
  return (first + day - 1) * kDay + c.wHour * 3600 + c.wMinute * 60 + c.wSecond + biasMinutes * 60;
}

int64_t YearOf(int64_t seconds) {
  int64_t year;
  int month, day;
  CivilFromDays(FloorDivide(seconds, kDay), &year, &month, &day);
  return year;
}

// Daylight time at `t` by the changes of `year`, the order of the two
// telling a northern rule from a southern one.
bool DaylightBy(int64_t year, int64_t t, const TIME_ZONE_INFORMATION& zone) {
  const int64_t start = ChangeUtc(year, zone.DaylightDate, int64_t{zone.Bias} + zone.StandardBias);
  const int64_t end = ChangeUtc(year, zone.StandardDate, int64_t{zone.Bias} + zone.DaylightBias);
  return start < end ? t >= start && t < end : start > end && (t >= start || t < end);
}

std::string Text(const LocalTimeFields& f) {
  return std::to_string(f.yearsSince1900) + "-" + std::to_string(f.dayOfYear) + "-" +
         std::to_string(f.hour) + "-" + std::to_string(f.minute) + "-" + std::to_string(f.second);
}

void CheckRefusal(const std::string& error, const uint8_t* data, size_t size) {
  if (error.empty()) Trap("refused without a reason", data, size);
  for (unsigned char c : error)
    if (c < 0x20 || c == 0x7F) Trap("reason with a control byte: " + error, data, size);
}

void Compare(const std::string& rule, const TIME_ZONE_INFORMATION& zone, const uint8_t* data,
             size_t size) {
  // glibc first looks for a file named like the rule under TZDIR (GMT0 is
  // one); TZDIR is an empty folder here, so glibc reads the rule itself.
  setenv("TZ", rule.c_str(), 1);
  tzset();

  const bool hasDaylight = zone.DaylightDate.wMonth != 0;
  const int64_t standardBias = int64_t{zone.Bias} + zone.StandardBias;
  const int64_t daylightBias = int64_t{zone.Bias} + zone.DaylightBias;
  const SYSTEMTIME& start = zone.DaylightDate;
  const SYSTEMTIME& end = zone.StandardDate;
  const bool sameDates = start.wMonth == end.wMonth && start.wDay == end.wDay &&
                         start.wDayOfWeek == end.wDayOfWeek && start.wHour == end.wHour &&
                         start.wMinute == end.wMinute && start.wSecond == end.wSecond;
  Picker pick(data, size);
  std::vector<int64_t> instants;
  const int64_t first = DaysFromCivil(kFirstYear, 1, 1) * kDay;
  const int64_t span = DaysFromCivil(kLastYear + 1, 1, 1) * kDay - first;
  for (int i = 0; i < 3; ++i) {
    const int64_t year =
        kFirstYear + static_cast<int64_t>(pick.Next() % (kLastYear - kFirstYear + 1));
    instants.push_back(first + static_cast<int64_t>(pick.Next() % span));
    const int64_t newYear = DaysFromCivil(year, 1, 1) * kDay;
    for (int64_t d : {-1, 0, 1}) instants.push_back(newYear + d);
    if (!hasDaylight) continue;
    for (const int64_t change :
         {ChangeUtc(year, start, standardBias), ChangeUtc(year, end, daylightBias)}) {
      for (int64_t d = -2; d <= 2; ++d) instants.push_back(change + d);
      for (int64_t d : {-3600, -1800, 1800, 3600}) instants.push_back(change + d);
      instants.push_back(change + static_cast<int64_t>(pick.Next() % (2 * kDay)) - kDay);
    }
  }

  // Skips, where glibc itself is no model of the board:
  // - Both changes on the same date and time: the board keeps standard time
  //   all year (CE reads such a rule as none); glibc places the two changes an
  //   offset apart and is in daylight time all but that gap.
  if (sameDates) return;
  for (const int64_t t : instants) {
    if (YearOf(t) < kFirstYear || YearOf(t) > kLastYear) continue;
    // - glibc takes the year's changes by the UTC year of the instant, the
    //   board (like CE) by the local standard year. Where the two years differ
    //   (within a day of the new year), the instant is skipped when their
    //   changes give different answers: a change in December or January, or
    //   two changes in one month whose order differs between the years.
    const int64_t utcYear = YearOf(t), localYear = YearOf(t - standardBias * 60);
    if (hasDaylight && utcYear != localYear &&
        DaylightBy(utcYear, t, zone) != DaylightBy(localYear, t, zone))
      continue;

    const time_t tt = static_cast<time_t>(t);
    struct tm tm;
    if (localtime_r(&tt, &tm) == nullptr)
      Trap("localtime_r failed at " + std::to_string(t), data, size);
    const LocalTimeFields expected = {tm.tm_year, tm.tm_yday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    const LocalTimeFields got = LocalTimeAt(t, zone);
    if (Text(got) != Text(expected))
      Trap("rule '" + rule + "' at " + std::to_string(t) + ": board " + Text(got) + ", glibc " +
               Text(expected),
           data, size);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path scratch = fuzz::MakeScratchFolder("pelmok-tz-fuzz");
  fs::create_directories(scratch / "tzdir");
  setenv("TZDIR", (scratch / "tzdir").c_str(), 1);
  zoneinfoFile = (scratch / "zone").string();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  hostlib::TimeZoneSetting setting;
  std::string error;
  std::string rule;
  if (data[0] % 2 == 0) {
    rule = body;
    if (!hostlib::ParseZoneRule(rule, &setting, &error)) {
      CheckRefusal(error, data, size);
      return 0;
    }
  } else {
    FILE* file = std::fopen(zoneinfoFile.c_str(), "wb");
    if (file == nullptr || std::fwrite(body.data(), 1, body.size(), file) != body.size() ||
        std::fclose(file) != 0) {
      std::perror(zoneinfoFile.c_str());
      std::abort();
    }
    const std::string tz = ":" + zoneinfoFile;
    if (!hostlib::ZoneFromTz(tz.c_str(), &setting, &error)) {
      CheckRefusal(error, data, size);
      return 0;
    }
    std::string footerError;
    if (!hostlib::ReadZoneinfoRule(zoneinfoFile, &rule, &footerError))
      Trap("zone accepted, but its rule unreadable: " + footerError, data, size);
  }
  if (rule.find('\0') != std::string::npos) Trap("accepted a rule with a NUL byte", data, size);
  Compare(rule, hostlib::ZoneInformation(setting), data, size);
  return 0;
}
