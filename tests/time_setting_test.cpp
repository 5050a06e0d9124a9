// The host's readers of the board's clock and zone setting (ISO 8601 times,
// POSIX TZ rules, zoneinfo files), and the kernel calls that report them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "hostlib/time_zone.h"
#include "platform/host/host.h"
#include "platform/kernel.h"
#include "sim/board.h"
#include "tests/test_support.h"

namespace {

hostlib::TimeZoneSetting Parsed(const std::string& rule) {
  hostlib::TimeZoneSetting zone;
  std::string error;
  EXPECT_TRUE(hostlib::ParseZoneRule(rule, &zone, &error)) << rule << ": " << error;
  return zone;
}

TEST(TimeSettingTest, RulesBecomeTheBoardsSetting) {
  hostlib::TimeZoneSetting z = Parsed("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(z.bias, -60);
  EXPECT_EQ(z.standardBias, 0);
  EXPECT_EQ(z.daylightBias, -60);
  EXPECT_EQ(z.standardName, "CET");
  EXPECT_EQ(z.daylightName, "CEST");
  EXPECT_EQ(z.daylightStart.month, 3);
  EXPECT_EQ(z.daylightStart.week, 5);
  EXPECT_EQ(z.daylightStart.weekday, 0);
  EXPECT_EQ(z.daylightStart.hour, 2);  // the default time of a change
  EXPECT_EQ(z.standardStart.month, 10);
  EXPECT_EQ(z.standardStart.hour, 3);

  z = Parsed("NST3:30NDT,M3.2.0,M11.1.0");
  EXPECT_EQ(z.bias, 210);
  EXPECT_EQ(z.daylightBias, -60);
  z = Parsed("<+0545>-5:45");
  EXPECT_EQ(z.bias, -345);
  EXPECT_EQ(z.standardName, "+0545");
  EXPECT_EQ(z.daylightStart.month, 0);
  z = Parsed("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0");
  EXPECT_EQ(z.daylightBias, -30);
  z = Parsed("<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45");
  EXPECT_EQ(z.standardStart.hour, 3);
  EXPECT_EQ(z.standardStart.minute, 45);
  z = Parsed("XXX+3YYY,M1.1.1/23:59:59,M12.5.6/0");
  EXPECT_EQ(z.bias, 180);
  EXPECT_EQ(z.daylightStart.second, 59);
  EXPECT_EQ(z.standardStart.hour, 0);
  EXPECT_EQ(Parsed("UTC0").bias, 0);
}

TEST(TimeSettingTest, RulesTheBoardCannotHoldAreRefused) {
  const struct {
    const char* rule;
    const char* reason;  // a word the message must carry
  } cases[] = {
      {"CET-1CEST,J60,M10.5.0/3", "Julian"},
      {"CET-1CEST,M3.5.0,59", "Julian"},
      {"CET-1CEST,M3.5.0,M10.5.0/25", "/25"},
      {"CET-1CEST,M3.5.0/-1,M10.5.0", "/-1"},
      {"CET-1CEST,M3.5.0/24,M10.5.0", "/24"},
      {"<-04>4<-03>,M9.1.6/24,M4.1.6/24", "/24"},
      {"CET-1CEST", "without its dates"},
      {"CET-1CEST,M3.5.0", "end"},
      {"CET-1CEST,M13.5.0,M10.5.0", "Mm.w.d"},
      {"CET-1CEST,M3.6.0,M10.5.0", "Mm.w.d"},
      {"CET-1CEST,M3.5.7,M10.5.0", "Mm.w.d"},
      {"LMT-0:17:30", "seconds"},
      {"XXX25", "24 hours"},
      {"CET-1CEST-25,M3.5.0,M10.5.0", "24 hours"},
      {"XXX-24YYY,M3.5.0,M10.5.0", "daylight time, one hour ahead"},  // would be 25 h ahead
      {"CET", "offset"},
      {"CE-1", "name"},
      {"<+05>-5x", "daylight name at 'x'"},
      {"<+05>-5<+06>,M3.5.0,M10.5.0,", "unexpected"},
      {"Europe/Berlin", "offset"},
      {"", "name"},
  };
  for (const auto& c : cases) {
    hostlib::TimeZoneSetting zone;
    zone.bias = 12345;
    std::string error;
    EXPECT_FALSE(hostlib::ParseZoneRule(c.rule, &zone, &error)) << c.rule;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.rule << ": " << error;
    EXPECT_EQ(zone.bias, 12345) << c.rule << ": a refused rule leaves the setting alone";
  }
}

TEST(TimeSettingTest, UtcTimes) {
  int64_t t = 0;
  std::string error;
  ASSERT_TRUE(hostlib::ParseUtcTime("2026-10-25T00:59:58Z", &t, &error)) << error;
  EXPECT_EQ(t, 1792889998);
  ASSERT_TRUE(hostlib::ParseUtcTime("2038-01-19T03:14:08Z", &t, &error));
  EXPECT_EQ(t, INT64_C(2147483648));
  ASSERT_TRUE(hostlib::ParseUtcTime("1970-01-01T00:00:00Z", &t, &error));
  EXPECT_EQ(t, 0);
  for (const char* bad : {"2026-10-25T00:59:58", "2026-10-25 00:59:58Z", "2026-02-29T00:00:00Z",
                          "2026-10-25T24:00:00Z", "2026-10-25T00:60:00Z", "1969-12-31T23:59:59Z",
                          "2200-01-01T00:00:00Z", "26-10-25T00:59:58Z", "2026-1-25T00:59:58Z",
                          "2026-10-25T00:59:58+01:00", "2026-10-25T00:59:58Zx", ""}) {
    error.clear();
    EXPECT_FALSE(hostlib::ParseUtcTime(bad, &t, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

class ZoneinfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::ifstream("/usr/share/zoneinfo/Europe/Berlin")) GTEST_SKIP() << "no tzdata";
  }
  testsupport::ScratchDir scratch;
};

TEST_F(ZoneinfoTest, ZoneNamesGiveTheRuleAtTheEndOfTheirFile) {
  std::string rule, error;
  ASSERT_TRUE(hostlib::ReadZoneinfoRule("/usr/share/zoneinfo/Europe/Berlin", &rule, &error))
      << error;
  EXPECT_EQ(rule, "CET-1CEST,M3.5.0,M10.5.0/3");

  hostlib::TimeZoneSetting zone;
  ASSERT_TRUE(hostlib::ZoneFromTz("Australia/Sydney", &zone, &error)) << error;
  EXPECT_EQ(zone.bias, -600);
  EXPECT_EQ(zone.daylightStart.month, 10);
  ASSERT_TRUE(hostlib::ZoneFromTz(":Asia/Kathmandu", &zone, &error)) << error;
  EXPECT_EQ(zone.bias, -345);
  // A rule as it stands; a daylight name with no dates is a zone's name.
  ASSERT_TRUE(hostlib::ZoneFromTz("NST3:30NDT,M3.2.0,M11.1.0", &zone, &error)) << error;
  EXPECT_EQ(zone.bias, 210);
  ASSERT_TRUE(hostlib::ZoneFromTz("EST5EDT", &zone, &error)) << error;
  EXPECT_EQ(zone.daylightStart.month, 3);
  // TZ unset: the host's own zone file.
  ASSERT_TRUE(hostlib::ZoneFromTz(nullptr, &zone, &error, "/usr/share/zoneinfo",
                                  "/usr/share/zoneinfo/Pacific/Auckland"))
      << error;
  EXPECT_EQ(zone.bias, -720);
}

TEST_F(ZoneinfoTest, ZonesTheBoardCannotHoldAreRefused) {
  scratch.WriteFile("v1", std::string("TZif\0", 5) + std::string(60, '\0') + "\nUTC0\n");
  scratch.WriteFile("notz", "CET-1CEST,M3.5.0,M10.5.0/3\n");
  scratch.WriteFile("norule", std::string("TZif2") + std::string(60, '\0') + "\n\n");
  hostlib::TimeZoneSetting zone;
  std::string error;
  for (const char* tz : {"America/Santiago",  // changes at 24:00
                         "No/Such_Zone", ":", "../etc/passwd"}) {
    error.clear();
    EXPECT_FALSE(hostlib::ZoneFromTz(tz, &zone, &error)) << tz;
    EXPECT_FALSE(error.empty()) << tz;
  }
  for (const char* file : {"v1", "notz", "norule", "missing"}) {
    std::string rule;
    error.clear();
    EXPECT_FALSE(hostlib::ReadZoneinfoRule(scratch.path() + "/" + file, &rule, &error)) << file;
    EXPECT_NE(error.find(file), std::string::npos) << error;
  }
  EXPECT_FALSE(
      hostlib::ZoneFromTz(nullptr, &zone, &error, "/usr/share/zoneinfo", scratch.path() + "/v1"));
}

TEST_F(ZoneinfoTest, HostileZoneFilesAreRefusedWithTheirReason) {
  // Each once exhausted memory (a device, a sparse file of 2 GiB), hung (a
  // FIFO) or put a file's bytes on the terminal raw. Every refusal says what
  // was wrong, in printable text.
  ASSERT_EQ(mkfifo((scratch.path() + "/fifo").c_str(), 0600), 0);
  scratch.MakeDirs("folder");
  scratch.WriteFile("sparse", "");
  ASSERT_EQ(truncate((scratch.path() + "/sparse").c_str(), INT64_C(2) << 30), 0);
  scratch.WriteFile("big", "TZif2" + std::string((1 << 20) + 1, '\0'));
  scratch.WriteFile("escape", "TZif2" + std::string(60, '\0') +
                                  "\n\x1b]0;owned\x07\x1b[31mEVIL\x9b"
                                  "0\n");
  const struct {
    std::string tz, reason;
  } cases[] = {
      {"/dev/zero", "/dev/zero: is not a regular file"},
      {":/dev/urandom", "/dev/urandom: is not a regular file"},
      {":" + scratch.path() + "/fifo", "/fifo: is not a regular file"},
      {":" + scratch.path() + "/folder", "/folder: is a folder"},
      {":" + scratch.path() + "/sparse", "/sparse: 2147483648 bytes, more than 1048576"},
      {":" + scratch.path() + "/big", "/big: 1048582 bytes, more than 1048576"},
      {":" + scratch.path() + "/escape", "'\\x1b]0;owned\\x07\\x1b[31mEVIL\\x9b0'"},
      {":", "TZ ':' names no zone"},
      {":../x", "'..'"},
      {":No/Such_Zone", "no zone /usr/share/zoneinfo/No/Such_Zone"},
  };
  for (const auto& c : cases) {
    hostlib::TimeZoneSetting zone;
    std::string error;
    EXPECT_FALSE(hostlib::ZoneFromTz(c.tz.c_str(), &zone, &error)) << c.tz;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.tz << ": " << error;
    for (unsigned char ch : error) EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << c.tz << ": " << error;
    EXPECT_NE(error.back(), ' ') << c.tz << ": " << error;
  }
}

class BoardClockTest : public testsupport::BoardTest {
 protected:
  sim::BoardOptions Options() const override {
    sim::BoardOptions o;
    o.clockEpoch = INT64_C(2147483646);  // 2038-01-19 03:14:06 UTC
    return o;
  }
};

TEST_F(BoardClockTest, SystemTimeIsTheBoardsClockWithItsMilliseconds) {
  bus().Advance(1999999999);  // 1.999999999 s: 03:14:07.999
  SYSTEMTIME st;
  GetSystemTime(&st);
  EXPECT_EQ(st.wYear, 2038);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 19);
  EXPECT_EQ(st.wDayOfWeek, 2);  // a Tuesday
  EXPECT_EQ(st.wHour, 3);
  EXPECT_EQ(st.wMinute, 14);
  EXPECT_EQ(st.wSecond, 7);
  EXPECT_EQ(st.wMilliseconds, 999);
  bus().Advance(1);
  GetSystemTime(&st);
  EXPECT_EQ(st.wSecond, 8);
  EXPECT_EQ(st.wMilliseconds, 0);
}

TEST_F(BoardClockTest, TimeZoneInformationIsTheBoardsSetting) {
  TIME_ZONE_INFORMATION zone;
  EXPECT_EQ(GetTimeZoneInformation(&zone), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN));
  EXPECT_EQ(zone.Bias, 0);
  EXPECT_EQ(zone.DaylightDate.wMonth, 0);
  EXPECT_EQ(zone.StandardName[0], 'U');

  hostlib::TimeZoneSetting setting = Parsed("<+1245>-12:45<+1345>,M9.5.0/2:45,M4.1.0/3:45");
  setting.standardName = std::string(40, 'N');  // longer than the kernel keeps
  board().SetTimeZone(setting);
  EXPECT_EQ(GetTimeZoneInformation(&zone), static_cast<DWORD>(TIME_ZONE_ID_STANDARD));
  EXPECT_EQ(zone.Bias, -765);
  EXPECT_EQ(zone.DaylightBias, -60);
  EXPECT_EQ(zone.DaylightDate.wYear, 0);
  EXPECT_EQ(zone.DaylightDate.wMonth, 9);
  EXPECT_EQ(zone.DaylightDate.wDay, 5);
  EXPECT_EQ(zone.DaylightDate.wHour, 2);
  EXPECT_EQ(zone.DaylightDate.wMinute, 45);
  EXPECT_EQ(zone.StandardDate.wMonth, 4);
  EXPECT_EQ(zone.StandardDate.wHour, 3);
  EXPECT_EQ(zone.StandardName[30], 'N');
  EXPECT_EQ(zone.StandardName[31], 0);
  EXPECT_EQ(zone.DaylightName[0], '+');
}

TEST(BoardClockFaultTest, ClockCallsWithoutABoardAreFaults) {
  testsupport::FaultCatcher catcher;
  host::AttachBoard(nullptr);
  SYSTEMTIME st;
  GetSystemTime(&st);
  TIME_ZONE_INFORMATION zone;
  EXPECT_EQ(GetTimeZoneInformation(&zone), static_cast<DWORD>(TIME_ZONE_ID_INVALID));
  EXPECT_EQ(testsupport::FaultCatcher::faults().size(), 2u);
  EXPECT_EQ(st.wMonth, 0);
}

}  // namespace
