// Device paths on the host as the board's FAT volumes take them: names match
// without regard to case.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "acquisition/configuration.h"
#include "datafiles/data_files.h"
#include "platform/device.h"
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
  // Two entries that differ only in case, neither named exactly.
  device.MakeDirs("Hard Disk/Pelmok/Data");
  device.WriteFile("Hard Disk/Pelmok/Data/ab", "1");
  device.WriteFile("Hard Disk/Pelmok/Data/AB", "2");
  EXPECT_EQ(OpenDeviceFile("\\Hard Disk\\Pelmok\\Data\\Ab", "rb"), nullptr);
  EXPECT_EQ(host::HostPathOf("\\Hard Disk\\Pelmok\\Data\\Ab"), "");
  // The exact name still opens its own file.
  FILE* f = OpenDeviceFile("\\Hard Disk\\Pelmok\\Data\\AB", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fgetc(f), '2');
  std::fclose(f);
  EXPECT_EQ(host::HostPathOf("Hard Disk\\x"), "");
}

}  // namespace
