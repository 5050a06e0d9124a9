// The host program's contract, run as a separate process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/test_support.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class PelmokDaqTest : public ::testing::Test {
 protected:
  Outcome Daq(const std::string& args) {
    const std::string out = scratch.path() + "/stdout", err = scratch.path() + "/stderr";
    const std::string command = std::string(PELMOK_DAQ_LAUNCHER) + " '" PELMOK_DAQ_PATH "' " +
                                args + " >'" + out + "' 2>'" + err + "' </dev/null";
    const int raw = std::system(command.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = scratch.ReadFile("stdout");
    o.err = scratch.ReadFile("stderr");
    return o;
  }
  std::string Root() const { return "'" + scratch.path() + "/device'"; }
  bool Exists(const std::string& relative) const {
    struct stat st;
    return stat((scratch.path() + "/device/" + relative).c_str(), &st) == 0;
  }
  testsupport::ScratchDir scratch;
};

size_t Lines(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

TEST_F(PelmokDaqTest, HelpNamesEveryOption) {
  const Outcome o = Daq("--help");
  EXPECT_EQ(o.status, 0);
  for (const char* option : {"--device-root", "--bare", "--signal", "--frame-rate", "--trace",
                             "--low-power", "--library-dir", "--help"})
    EXPECT_NE(o.out.find(option), std::string::npos) << option;
}

TEST_F(PelmokDaqTest, BadOptionsStopBeforeAnythingRuns) {
  // Each: exit 2, one line on standard error, nothing laid out.
  for (const char* args : {"--frobnicate", "--frame-rate 0", "--frame-rate 12x", "--signal square",
                           "--signal wav:/nonexistent.wav", "--low-power", "--device-root"}) {
    const Outcome o = Daq(std::string(args) + " --device-root " + Root());
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_EQ(Lines(o.err), 1u) << args << ": " << o.err;
    EXPECT_EQ(o.out, "") << args;
    EXPECT_FALSE(Exists("")) << args;
  }
}

TEST_F(PelmokDaqTest, DefaultDeviceRunsTheDefaultConfiguration) {
  // A silent converter keeps the run short: every record times out at once.
  const Outcome o = Daq("--device-root " + Root() + " --signal none");
  EXPECT_EQ(o.status, 0);
  const std::string config = scratch.ReadFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt");
  for (const char* key : {"Sample rate:", "Number of samples per record:", "Number of hydrophones:",
                          "Number of records per Flash Disk file:",
                          "Number of Flash Disk files per USB write:",
                          "Seconds to sleep between acquisitions:"})
    EXPECT_NE(config.find(key), std::string::npos) << key;
  EXPECT_TRUE(Exists("Storage Card/Pelmok/Data"));
  // Standard error is the debug console alone; standard output the banner, then the report.
  EXPECT_EQ(o.err.rfind("\r\nPrototype Pelmok Data Acq program\r\nOpened Configuration File \n", 0), 0u);
  EXPECT_NE(o.err.find("Read SSP timed out with RNE = 0\nRecord Count = 0\n"), std::string::npos);
  EXPECT_EQ(o.err.find("pelmok-daq"), std::string::npos);
  EXPECT_EQ(o.out.rfind("\r\nPrototype Pelmok Data Acq program\r\n", 0), 0u);
  EXPECT_NE(o.out.find("/Hard Disk/Pelmok/Data/"), std::string::npos);
  EXPECT_FALSE(scratch.List("device/Hard Disk/Pelmok/Data").empty());
}

TEST_F(PelmokDaqTest, ExistingConfigurationIsNeverChanged) {
  scratch.MakeDirs("device/FlashFX Disk/Pelmok");
  const std::string mine = "Number of Flash Disk files per USB write:1\nNumber of samples per record:8\n"
                           "Number of records per Flash Disk file:1\nSeconds to sleep between acquisitions:1\n";
  scratch.WriteFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt", mine);
  const std::string trace = scratch.path() + "/trace.txt";
  const Outcome o = Daq("--device-root " + Root() + " --signal counter --trace '" + trace + "'");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(scratch.ReadFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt"), mine);
  EXPECT_NE(o.err.find("Wrote 8 samples to flash \nFile Count = 0\n"), std::string::npos);
  EXPECT_NE(o.out.find("read 8"), std::string::npos);
  // The trace names the registers of the set-up.
  const std::string lines = scratch.ReadFile("trace.txt");
  EXPECT_NE(lines.find("SSCR0"), std::string::npos);
  EXPECT_NE(lines.find("0x41900010"), std::string::npos);
}

TEST_F(PelmokDaqTest, BareUsesTheDeviceAsItIs) {
  scratch.MakeDirs("device");
  const Outcome o = Daq("--bare --device-root " + Root());
  EXPECT_EQ(o.status, 0);
  EXPECT_TRUE(scratch.List("device").empty());
  EXPECT_NE(o.err.find("Cannot open configuration file"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(PelmokDaqTest, LowPowerRunsInsteadOfTheAcquisition) {
  // The build's stand-in library loads; the AC97 link goes down; no data.
  Outcome o = Daq("--device-root " + Root() + " --low-power 1");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err.rfind("\r\nLoading SMARTIO.DLL...\r\n\r\nSMARTIO.DLL Loaded successfully...", 0), 0u);
  EXPECT_NE(o.err.find("AC97 GSR Register ACOFFD= 8\n"), std::string::npos);
  EXPECT_EQ(o.err.find("Prototype Pelmok"), std::string::npos);
  EXPECT_TRUE(scratch.List("device/Hard Disk/Pelmok/Data").empty());
  // An empty library folder: nothing loads, the backlight is left alone.
  scratch.MakeDirs("nolib");
  o = Daq("--device-root " + Root() + " --low-power 0 --library-dir '" + scratch.path() + "/nolib'");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err,
            "\r\nLoading SMARTIO.DLL...\r\n\r\nCan't find SMARTIO.DLL\r\n"
            "\r\nLoading KEYBDDR.DLL...\r\n\r\nFailed to load ADSmartIO library!\r\n");
}

}  // namespace
