// Device paths on the host as the board's FAT volumes take them: names match
// without regard to case.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "acquisition/configuration.h"
#include "datafiles/data_files.h"
#include "platform/device.h"
#include "platform/host/fat_volume.h"
#include "platform/host/host.h"
#include "tests/test_support.h"

namespace {

class DevicePathTest : public testsupport::BoardTest {};

TEST_F(DevicePathTest, ConfigurationFileNamedInAnyCase) {
  device.MakeDirs("FLASHFX DISK/pelmok");
  device.WriteFile("FLASHFX DISK/pelmok/PELMOKCONFIG.TXT", "Number of hydrophones:4\n");
  AcquisitionConfig c = {0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(ReadConfiguration(c));
  EXPECT_EQ(c.hydrophoneCount, 4);
  EXPECT_EQ(console, "Opened Configuration File \nHydrophones 4\n");
}

TEST_F(DevicePathTest, NamesDifferingOnlyInCaseAreOneFile) {
  device.MakeDirs("Hard Disk/Pelmok/Data");
  device.WriteFile("Hard Disk/Pelmok/Data/Run-A", "abcd");
  // An append under another spelling lands in the same file, a new name is
  // made as written.
  FILE* f = OpenDeviceFile("\\HARD DISK\\pelmok\\DATA\\run-a", "ab");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fputs("efgh", f), 1);
  EXPECT_EQ(std::fclose(f), 0);
  f = OpenDeviceFile("\\hard disk\\PELMOK\\data\\New-B", "ab");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(device.List("Hard Disk/Pelmok/Data"), (std::vector<std::string>{"New-B", "Run-A"}));
  EXPECT_EQ(device.ReadFile("Hard Disk/Pelmok/Data/Run-A"), "abcdefgh");
  EXPECT_EQ(host::HostPathOf("\\hard disk\\pelmok\\data\\"),
            device.path() + "/Hard Disk/Pelmok/Data/");
}

TEST_F(DevicePathTest, AFolderNoFatVolumeCouldHoldIsRefused) {
  // Two entries that differ only in case: refused under any spelling, the
  // exact one too, in one line naming both.
  device.MakeDirs("Hard Disk/Pelmok/Data");
  device.WriteFile("Hard Disk/Pelmok/Data/ab", "1");
  device.WriteFile("Hard Disk/Pelmok/Data/AB", "2");
  for (const char* path : {"\\Hard Disk\\Pelmok\\Data\\Ab", "\\Hard Disk\\Pelmok\\Data\\AB"}) {
    EXPECT_EQ(OpenDeviceFile(path, "rb"), nullptr) << path;
    EXPECT_EQ(host::HostPathOf(path), "") << path;
    const std::string refusal = host::ResolveDevicePath(path).refusal;
    EXPECT_NE(refusal.find("holds both "), std::string::npos) << refusal;
    EXPECT_NE(refusal.find(" ab"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find(" AB"), std::string::npos) << refusal;
  }
  EXPECT_EQ(host::HostPathOf("Hard Disk\\x"), "");
}

TEST_F(DevicePathTest, FatCountsEntriesAsItStoresNames) {
  // 8.3 names in upper case take one entry; others one more per 13 characters.
  EXPECT_EQ(host::fat::EntriesOf("PELMOK"), 1u);
  EXPECT_EQ(host::fat::EntriesOf("CONFIG.TXT"), 1u);
  EXPECT_EQ(host::fat::EntriesOf("Pelmok"), 2u);
  EXPECT_EQ(host::fat::EntriesOf("126-0-0-0-1"), 2u);       // 11 characters
  EXPECT_EQ(host::fat::EntriesOf("126-297-2-59-5"), 3u);    // 14
  EXPECT_EQ(host::fat::EntriesOf("PelmokConfig.txt"), 3u);  // 16
  EXPECT_EQ(host::fat::EntriesOf("ABCDEFGHI"), 2u);         // 9: no 8.3 name
  // Microsoft's default clusters: 4 KiB from 256 MiB to 8 GiB.
  EXPECT_EQ(host::fat::ClusterBytesFor(uint64_t{1} << 30), 4096u);
  EXPECT_EQ(host::fat::ClustersOf(uint64_t{1} << 30), ((uint64_t{1} << 30) - 16384) / 4104);
}
}  // namespace
