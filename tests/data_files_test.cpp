// Data file naming from the board's local time, and records on disk.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "datafiles/data_files.h"
#include "hostlib/time_zone.h"
#include "tests/test_support.h"

namespace {

constexpr time_t kBase = 946684800;  // 2000-01-01 00:00:00 UTC

class DataFilesTest : public testsupport::BoardTest {
 protected:
  sim::BoardOptions Options() const override {
    sim::BoardOptions o;
    o.clockEpoch = kBase;
    return o;
  }
  void SetZone(const char* rule) {
    hostlib::TimeZoneSetting zone;
    std::string error;
    ASSERT_TRUE(hostlib::ParseZoneRule(rule, &zone, &error)) << error;
    board().SetTimeZone(zone);
  }
  // Moves the board's clock forward to `when` (UTC seconds).
  void ClockTo(int64_t when) {
    const uint64_t target = static_cast<uint64_t>(when - kBase) * 1000000000ull;
    ASSERT_GE(target, bus().Now());
    bus().Advance(target - bus().Now());
  }
  std::string NameAt(int64_t when, DataDestination destination = HardDisk) {
    ClockTo(when);
    char path[kDataPathBuffer];
    std::memset(path, 'Z', sizeof path);
    MakeDataFileName(path, destination);
    return path;
  }
};

TEST_F(DataFilesTest, NamesCarryYearDayHourMinuteSecondWithoutPadding) {
  EXPECT_EQ(NameAt(1199523907), "\\Hard Disk\\Pelmok\\Data\\108-4-9-5-7");  // 5 Jan 2008 09:05:07
  EXPECT_EQ(NameAt(1230767999),
            "\\Hard Disk\\Pelmok\\Data\\108-365-23-59-59");                   // 31 Dec, leap year
  EXPECT_EQ(NameAt(1230768000), "\\Hard Disk\\Pelmok\\Data\\109-0-0-0-0");    // 1 January
  EXPECT_EQ(NameAt(1237471509), "\\Hard Disk\\Pelmok\\Data\\109-77-14-5-9");  // 19 Mar 2009
}

TEST_F(DataFilesTest, DestinationSelectsDirectory) {
  // Only 1 selects the storage card; any other value means the hard disk.
  EXPECT_EQ(NameAt(1237471509, StorageCard), "\\Storage Card\\Pelmok\\Data\\109-77-14-5-9");
  EXPECT_EQ(NameAt(1237471509, 7), "\\Hard Disk\\Pelmok\\Data\\109-77-14-5-9");
  EXPECT_EQ(NameAt(1237471509, -1), "\\Hard Disk\\Pelmok\\Data\\109-77-14-5-9");
}

TEST_F(DataFilesTest, NamesFollowTheLocalTimeZone) {
  // 03:00 UTC on 1 Jan 2009 is 22:00 on 31 Dec 2008 five hours west.
  SetZone("EST5");
  EXPECT_EQ(NameAt(1230778800), "\\Hard Disk\\Pelmok\\Data\\108-365-22-0-0");
}

TEST_F(DataFilesTest, TheRepeatedHourOfAChangeBackGoesToOneFile) {
  // 25 October 2026 in Berlin: 02:30 CEST and, an hour later, 02:30 CET.
  SetZone("CET-1CEST,M3.5.0,M10.5.0/3");
  device.MakeDirs("Hard Disk/Pelmok/Data");
  const uint32_t first = 1, second = 2;
  // The skipped hour of 29 March: 00:59:59 UTC is 01:59:59 CET, a second later 03:00 CEST.
  EXPECT_EQ(NameAt(1774745999), "\\Hard Disk\\Pelmok\\Data\\126-87-1-59-59");
  EXPECT_EQ(NameAt(1774746000), "\\Hard Disk\\Pelmok\\Data\\126-87-3-0-0");
  ClockTo(1792888200);  // 00:30 UTC
  EXPECT_EQ(WriteRecord(&first, 1), 1);
  ClockTo(1792891800);  // 01:30 UTC
  EXPECT_EQ(WriteRecord(&second, 1), 1);
  EXPECT_EQ(device.List("Hard Disk/Pelmok/Data"), std::vector<std::string>{"126-297-2-30-0"});
  EXPECT_EQ(device.ReadFile("Hard Disk/Pelmok/Data/126-297-2-30-0"),
            std::string("\1\0\0\0\2\0\0\0", 8));
}

TEST_F(DataFilesTest, WritesAfter2038AreNamedRight) {
  // The last second a signed 32-bit clock holds, and the ones after it.
  EXPECT_EQ(NameAt(INT64_C(2147483647)), "\\Hard Disk\\Pelmok\\Data\\138-18-3-14-7");
  EXPECT_EQ(NameAt(INT64_C(2147483648)), "\\Hard Disk\\Pelmok\\Data\\138-18-3-14-8");
  SetZone("AEST-10AEDT,M10.1.0,M4.1.0/3");
  EXPECT_EQ(NameAt(INT64_C(4102444800)),
            "\\Hard Disk\\Pelmok\\Data\\200-0-11-0-0");  // 2100-01-01 UTC
}

TEST_F(DataFilesTest, RecordIsStoredAsLittleEndianWordsAndAppendedWithinASecond) {
  device.MakeDirs("Hard Disk/Pelmok/Data");
  ClockTo(1237471509);
  const uint32_t first[] = {0x00123456, 0xFFFFFFFF, 0x00000001};
  const uint32_t second[] = {0x89ABCDEF};
  EXPECT_EQ(WriteRecord(first, 3), 3);
  EXPECT_EQ(WriteRecord(second, 1), 1);
  // Same second, same name: one file, the second record behind the first.
  EXPECT_EQ(device.List("Hard Disk/Pelmok/Data"), std::vector<std::string>{"109-77-14-5-9"});
  const std::string bytes = device.ReadFile("Hard Disk/Pelmok/Data/109-77-14-5-9");
  const std::string expected("\x56\x34\x12\x00\xFF\xFF\xFF\xFF\x01\x00\x00\x00\xEF\xCD\xAB\x89",
                             16);
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(console, "Wrote 3 samples to flash \nWrote 1 samples to flash \n");

  // A second later: a new file.
  ClockTo(1237471510);
  EXPECT_EQ(WriteRecordToStorageCard(first, 3), 0);  // no storage card directory
  EXPECT_EQ(WriteRecord(first, 2), 2);
  EXPECT_EQ(device.List("Hard Disk/Pelmok/Data"),
            (std::vector<std::string>{"109-77-14-5-10", "109-77-14-5-9"}));
  EXPECT_EQ(device.ReadFile("Hard Disk/Pelmok/Data/109-77-14-5-10").size(), 8u);
}

TEST_F(DataFilesTest, EmptyRecordCreatesTheFile) {
  device.MakeDirs("Storage Card/Pelmok/Data");
  ClockTo(1237471509);
  EXPECT_EQ(WriteRecordToStorageCard(nullptr, 0), 0);
  EXPECT_EQ(device.List("Storage Card/Pelmok/Data"), std::vector<std::string>{"109-77-14-5-9"});
  EXPECT_EQ(device.ReadFile("Storage Card/Pelmok/Data/109-77-14-5-9"), "");
  EXPECT_EQ(console, "Wrote 0 samples to flash \n");
}

TEST_F(DataFilesTest, MissingDirectoryIsReportedAndNotCreated) {
  ClockTo(1237471509);
  const uint32_t word = 5;
  EXPECT_EQ(WriteRecord(&word, 1), 0);
  EXPECT_EQ(console,
            "Cannot open data file \\Hard Disk\\Pelmok\\Data\\109-77-14-5-9: record not written\n");
  EXPECT_TRUE(device.List("").empty());
}

TEST_F(DataFilesTest, FullVolumeIsNotReportedAsWritten) {
  // A file size limit of 0 stands for a full volume: opening and buffering
  // succeed, the flush fails (EFBIG), and nothing reaches the file.
  device.MakeDirs("Hard Disk/Pelmok/Data");
  ClockTo(1237471509);
  const uint32_t record[] = {1, 2, 3, 4};
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit full = saved;
  full.rlim_cur = 0;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  const int32_t written = WriteRecord(record, 4);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(written, 0);
  EXPECT_EQ(console,
            "Write to \\Hard Disk\\Pelmok\\Data\\109-77-14-5-9 failed: 0 of 4 samples stored\n"
            "Wrote 0 samples to flash \n");
  EXPECT_EQ(device.ReadFile("Hard Disk/Pelmok/Data/109-77-14-5-9"), "");
}

TEST_F(DataFilesTest, AVolumeThatFillsMidWordLeavesNoTornWordBehind) {
  // Ten bytes fit: two words are stored and the two bytes of the third are
  // cut off again, so the next record appended to the file starts on a word.
  device.MakeDirs("Hard Disk/Pelmok/Data");
  ClockTo(1237471509);
  const uint32_t first[] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
  const uint32_t second[] = {0x55555555, 0x66666666};
  host::LimitVolumeBytes(10);
  EXPECT_EQ(WriteRecord(first, 4), 2);
  host::ClearFileFaults();
  EXPECT_EQ(WriteRecord(second, 2), 2);
  EXPECT_EQ(console,
            "Write to \\Hard Disk\\Pelmok\\Data\\109-77-14-5-9 failed: 2 of 4 samples stored\n"
            "Wrote 2 samples to flash \n"
            "Wrote 2 samples to flash \n");
  EXPECT_EQ(device.ReadFile("Hard Disk/Pelmok/Data/109-77-14-5-9"),
            std::string("\x11\x11\x11\x11\x22\x22\x22\x22\x55\x55\x55\x55\x66\x66\x66\x66"));
}

TEST_F(DataFilesTest, DataFileThatIsADeviceNodeIsNotOpened) {
  // A board volume holds no device nodes: a link to /dev/full is refused at
  // the open, not written into.
  device.MakeDirs("Hard Disk/Pelmok/Data");
  ASSERT_EQ(symlink("/dev/full", (device.path() + "/Hard Disk/Pelmok/Data/109-77-14-5-9").c_str()),
            0);
  ClockTo(1237471509);
  const uint32_t record[] = {1, 2, 3, 4};
  EXPECT_EQ(WriteRecord(record, 4), 0);
  EXPECT_EQ(console,
            "Cannot open data file \\Hard Disk\\Pelmok\\Data\\109-77-14-5-9: record not written\n");
}

}  // namespace
