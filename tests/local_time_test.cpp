// The program's local-time conversion against the C library's localtime_r
// with the same POSIX rule in TZ, over many instants: both daylight changes
// in northern and southern zones, odd offsets, year ends, leap days and years
// past 2038. The zone reaches the conversion the board's way: the rule is
// read into the board's setting and comes back through GetTimeZoneInformation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "datafiles/local_time.h"
#include "hostlib/time_zone.h"
#include "platform/calendar.h"
#include "platform/host/host.h"
#include "platform/kernel.h"
#include "sim/board.h"

namespace {

// Sets TZ for the test's length and puts it back after.
class ScopedTz {
 public:
  explicit ScopedTz(const char* rule) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    setenv("TZ", rule, 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string saved_;
};

// The rule as the board's kernel reports it.
TIME_ZONE_INFORMATION ZoneOf(const std::string& rule) {
  hostlib::TimeZoneSetting setting;
  std::string error;
  EXPECT_TRUE(hostlib::ParseZoneRule(rule, &setting, &error)) << rule << ": " << error;
  sim::BoardOptions options;
  options.timeZone = setting;
  sim::Board board(options);
  host::AttachBoard(&board);
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  host::AttachBoard(nullptr);
  return zone;
}

bool Representable(int64_t t) { return static_cast<int64_t>(static_cast<time_t>(t)) == t; }

int64_t UtcOf(int year, int month, int day) { return DaysFromCivil(year, month, day) * 86400; }

struct Oracle {
  bool ok;
  LocalTimeFields fields;
  long offset;  // seconds east of UTC
};

Oracle LibraryLocalTime(int64_t t) {
  Oracle o = {false, {0, 0, 0, 0, 0}, 0};
  if (!Representable(t)) return o;
  const time_t tt = static_cast<time_t>(t);
  struct tm tm;
  if (localtime_r(&tt, &tm) == nullptr) return o;
  o.ok = true;
  o.fields = {tm.tm_year, tm.tm_yday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  o.offset = tm.tm_gmtoff;
  return o;
}

std::string Text(const LocalTimeFields& f) {
  return std::to_string(f.yearsSince1900) + "-" + std::to_string(f.dayOfYear) + "-" +
         std::to_string(f.hour) + "-" + std::to_string(f.minute) + "-" + std::to_string(f.second);
}

struct Sweep {
  int compared = 0;
  int changes = 0;  // offset changes the oracle showed
  int mismatches = 0;
};

void Compare(int64_t t, const TIME_ZONE_INFORMATION& zone, const char* rule, Sweep* sweep) {
  const Oracle expected = LibraryLocalTime(t);
  if (!expected.ok) return;
  ++sweep->compared;
  const LocalTimeFields got = LocalTimeAt(t, zone);
  if (Text(got) != Text(expected.fields) && ++sweep->mismatches <= 5)
    ADD_FAILURE() << rule << " at " << t << ": " << Text(got) << ", C library "
                  << Text(expected.fields);
}

// Every 15 minutes around an offset change, and each second at its edge.
void AroundChange(int64_t before, int64_t after, const TIME_ZONE_INFORMATION& zone,
                  const char* rule, Sweep* sweep) {
  const long from = LibraryLocalTime(before).offset;
  while (after - before > 1) {  // the first second of the new offset
    const int64_t mid = before + (after - before) / 2;
    (LibraryLocalTime(mid).offset == from ? before : after) = mid;
  }
  for (int64_t t = after - 4 * 3600; t <= after + 4 * 3600; t += 15 * 60)
    Compare(t, zone, rule, sweep);
  for (int64_t t = after - 2; t <= after + 2; ++t) Compare(t, zone, rule, sweep);
}

// A year of hourly instants (offset by 7 minutes 13 seconds so minutes and
// seconds vary), the changes the oracle shows in it, its two ends and the end
// of February, in 15-minute steps.
void SweepYear(int year, const TIME_ZONE_INFORMATION& zone, const char* rule, Sweep* sweep) {
  const int64_t start = UtcOf(year, 1, 1), end = UtcOf(year + 1, 1, 1);
  int64_t previous = start - 3600 + 433;
  for (int64_t t = start + 433; t < end; t += 3600) {
    Compare(t, zone, rule, sweep);
    const Oracle a = LibraryLocalTime(previous), b = LibraryLocalTime(t);
    if (a.ok && b.ok && a.offset != b.offset) {
      ++sweep->changes;
      AroundChange(previous, t, zone, rule, sweep);
    }
    previous = t;
  }
  for (const int64_t edge : {start, UtcOf(year, 3, 1)})
    for (int64_t t = edge - 26 * 3600; t <= edge + 26 * 3600; t += 15 * 60)
      Compare(t, zone, rule, sweep);
}

struct ZoneCase {
  const char* rule;
  int changesPerYear;  // what the rule promises, so a sweep that missed them fails
};

const ZoneCase kZones[] = {
    {"UTC0", 0},
    {"CET-1CEST,M3.5.0,M10.5.0/3", 2},
    {"EST5EDT,M3.2.0,M11.1.0", 2},
    {"AEST-10AEDT,M10.1.0,M4.1.0/3", 2},                  // southern: daylight over the new year
    {"NZST-12NZDT,M9.5.0,M4.1.0/3", 2},                   // southern, last Sunday in September
    {"<-03>3<-02>,M9.1.0/0,M4.1.0/0", 2},                 // southern, changes at midnight
    {"NST3:30NDT,M3.2.0,M11.1.0", 2},                     // half-hour offset
    {"<+0545>-5:45", 0},                                  // 45-minute offset
    {"<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45", 2},  // 45 minutes, near the date line
    {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", 2},          // Lord Howe: a 30-minute shift
    {"<-10>10", 0},
    {"<+14>-14", 0},
};

TEST(LocalTimeTest, AgreesWithTheCLibraryInEveryZone) {
  const int kYears[] = {1971, 1999, 2000, 2024, 2026, 2037, 2038, 2039, 2100, 2400, 2999};
  for (const ZoneCase& zc : kZones) {
    const TIME_ZONE_INFORMATION zone = ZoneOf(zc.rule);
    ScopedTz tz(zc.rule);
    for (const int year : kYears) {
      if (!Representable(UtcOf(year + 1, 1, 1))) continue;  // a 32-bit time_t: no oracle there
      Sweep sweep;
      SweepYear(year, zone, zc.rule, &sweep);
      EXPECT_EQ(sweep.mismatches, 0) << zc.rule << " in " << year;
      EXPECT_EQ(sweep.changes, zc.changesPerYear) << zc.rule << " in " << year;
      EXPECT_GT(sweep.compared, 8760) << zc.rule << " in " << year;
    }
  }
}

TEST(LocalTimeTest, SkippedAndRepeatedHours) {
  const TIME_ZONE_INFORMATION cet = ZoneOf("CET-1CEST,M3.5.0,M10.5.0/3");
  // 29 March 2026: 02:00 CET does not exist, 01:59:59 is followed by 03:00:00.
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2026, 3, 29) + 3599, cet)), "126-87-1-59-59");
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2026, 3, 29) + 3600, cet)), "126-87-3-0-0");
  // 25 October 2026: 02:00 to 02:59 comes twice, an hour apart in UTC.
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2026, 10, 25) + 1800, cet)), "126-297-2-30-0");
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2026, 10, 25) + 5400, cet)), "126-297-2-30-0");
  // Sydney, southern: daylight time on 1 January, standard time in July.
  const TIME_ZONE_INFORMATION sydney = ZoneOf("AEST-10AEDT,M10.1.0,M4.1.0/3");
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2027, 1, 1) - 11 * 3600, sydney)), "127-0-0-0-0");
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2027, 7, 1) - 10 * 3600, sydney)), "127-181-0-0-0");
}

TEST(LocalTimeTest, HoldsPastTheEndOfA32BitClock) {
  // Fixed expectations, so the builds with a 32-bit time_t are checked too.
  const TIME_ZONE_INFORMATION utc = ZoneOf("UTC0");
  EXPECT_EQ(Text(LocalTimeAt(INT64_C(2147483647), utc)), "138-18-3-14-7");
  EXPECT_EQ(Text(LocalTimeAt(INT64_C(2147483648), utc)), "138-18-3-14-8");
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2100, 3, 1), utc)), "200-59-0-0-0");  // 2100 is no leap year
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2400, 3, 1), utc)), "500-60-0-0-0");  // 2400 is
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(30827, 12, 31) + 86399, utc)), "28927-364-23-59-59");
  // 1 July 2080 in CET: daylight time.
  const TIME_ZONE_INFORMATION cet = ZoneOf("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(Text(LocalTimeAt(UtcOf(2080, 7, 1), cet)), "180-182-2-0-0");
}

TEST(LocalTimeTest, SystemTimeReadsAsTheCLibraryCountsSeconds) {
  for (int64_t t = -2145916800 /* 1902 */; t < INT64_C(4102444800) /* 2100 */;
       t += 86400 * 37 + 3671) {
    if (!Representable(t)) continue;
    const time_t tt = static_cast<time_t>(t);
    struct tm tm;
    ASSERT_NE(gmtime_r(&tt, &tm), nullptr);
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(tm.tm_year + 1900);
    st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st.wDay = static_cast<WORD>(tm.tm_mday);
    st.wHour = static_cast<WORD>(tm.tm_hour);
    st.wMinute = static_cast<WORD>(tm.tm_min);
    st.wSecond = static_cast<WORD>(tm.tm_sec);
    int64_t seconds = 0;
    ASSERT_TRUE(UtcSecondsOf(st, &seconds)) << t;
    EXPECT_EQ(seconds, t);
  }
}

TEST(LocalTimeTest, ClockOrZoneBeyondTheConversion) {
  const TIME_ZONE_INFORMATION cet = ZoneOf("CET-1CEST,M3.5.0,M10.5.0/3");
  SYSTEMTIME good = {2009, 3, 4, 19, 14, 5, 9, 0};
  EXPECT_EQ(Text(LocalTimeOf(good, cet)), "109-77-15-5-9");
  // Unreadable clocks give all fields 0.
  SYSTEMTIME bad[] = {good, good, good, good, good, good, good, good};
  bad[0].wMonth = 0;
  bad[1].wMonth = 13;
  bad[2].wDay = 0;
  bad[3].wDay = 31;  // 31 March is fine, but not 31 February:
  bad[3].wMonth = 2;
  bad[4].wHour = 24;
  bad[5].wSecond = 60;
  bad[6].wYear = 1900;
  bad[7].wYear = 65535;
  for (const SYSTEMTIME& st : bad) EXPECT_EQ(Text(LocalTimeOf(st, cet)), "0-0-0-0-0");
  EXPECT_EQ(Text(LocalTimeAt(INT64_MIN, cet)), "0-0-0-0-0");
  EXPECT_EQ(Text(LocalTimeAt(INT64_MAX, cet)), "0-0-0-0-0");
  // Offsets beyond a day (and their sums, which overflow 32 bits) read as UTC.
  TIME_ZONE_INFORMATION wild = cet;
  wild.Bias = INT32_MAX;
  wild.DaylightBias = INT32_MAX;
  EXPECT_EQ(Text(LocalTimeOf(good, wild)), "109-77-14-5-9");
  // A daylight rule the conversion does not read leaves standard time all year.
  TIME_ZONE_INFORMATION badRule = cet;
  good.wMonth = 7;
  good.wDay = 1;
  EXPECT_EQ(Text(LocalTimeOf(good, badRule)), "109-181-16-5-9");  // daylight time
  for (int field = 0; field < 4; ++field) {
    badRule = cet;
    if (field == 0) badRule.DaylightDate.wDay = 6;
    if (field == 1) badRule.StandardDate.wHour = 24;
    if (field == 2) badRule.StandardDate.wYear = 2009;            // an absolute date
    if (field == 3) badRule.StandardDate = badRule.DaylightDate;  // starts where it ends
    EXPECT_EQ(Text(LocalTimeOf(good, badRule)), "109-181-15-5-9") << field;
  }
  // The longest name the conversion can give still fits the path buffer.
  SYSTEMTIME last = {30827, 12, 0, 31, 23, 59, 59, 999};
  EXPECT_EQ(Text(LocalTimeOf(last, ZoneOf("<+24>-24"))), "28928-0-23-59-59");
}

}  // namespace
