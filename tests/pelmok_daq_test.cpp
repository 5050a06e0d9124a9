// The host program's contract, run as a separate process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tools/common/version.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class PelmokDaqTest : public ::testing::Test {
 protected:
  // `environment` goes before the command; the host's own TZ stays out of the
  // tests unless one asks for it.
  Outcome Daq(const std::string& args, const std::string& environment = "TZ=UTC0") {
    const std::string out = scratch.path() + "/stdout", err = scratch.path() + "/stderr";
    const std::string command = environment + " " + PELMOK_DAQ_LAUNCHER +
                                " '" PELMOK_DAQ_PATH "' " + args + " >'" + out + "' 2>'" + err +
                                "' </dev/null";
    const int raw = std::system(command.c_str());
    Outcome o;
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    o.out = scratch.ReadFile("stdout");
    o.err = scratch.ReadFile("stderr");
    return o;
  }
  std::string Root() const { return "'" + scratch.path() + "/device'"; }
#ifdef PELMOK_DATA_PATH
  // What pelmok-data info says, on standard output and error, given `args`.
  std::string Info(const std::string& args) {
    const std::string said = scratch.path() + "/info";
    std::system(("TZ=UTC0 '" PELMOK_DATA_PATH "' info " + args + " >'" + said + "' 2>&1").c_str());
    return scratch.ReadFile("info");
  }
#endif
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
  for (const char* option : {"--device-root", "--bare", "--signal", "--frame-rate", "--stall-after",
                             "--trace", "--force", "--trace-every-access", "--low-power",
                             "--library-dir", "--start-time", "--time-zone", "--clock-drift",
                             "--version", "--help", "TZ", "zoneinfo", "Julian", "repeated hour"})
    EXPECT_NE(o.out.find(option), std::string::npos) << option;
  // The version: the project's, with the commit where the build had one; nothing runs.
  const Outcome v = Daq("--version --device-root " + Root());
  EXPECT_EQ(v.status, 0) << v.err;
  EXPECT_EQ(v.out, "pelmok-daq " + std::string(tools::Version()) + "\n");
  EXPECT_EQ(v.out.rfind("pelmok-daq " PELMOK_PROJECT_VERSION, 0), 0u) << v.out;
  EXPECT_FALSE(Exists(""));
}

TEST_F(PelmokDaqTest, BadOptionsStopBeforeAnythingRuns) {
  // Each: exit 2, one line on standard error, nothing laid out.
  for (const char* args :
       {"--frobnicate", "--frame-rate 0", "--frame-rate 12x", "--signal square",
        // Numbers are decimal: no hexadecimal, no octal digits taken apart.
        "--frame-rate 0x10", "--frame-rate 0x", "--low-power 0x1", "--signal wav:/nonexistent.wav",
        "--low-power", "--device-root", "--stall-after -1", "--stall-after 3.5",
        "--stall-after many", "--stall-after 18446744073709551616", "--clock-drift 100001",
        "--clock-drift 5ppm",
        // A folder as a WAV file: refused as no regular file.
        "--signal wav:/"}) {
    const Outcome o = Daq(std::string(args) + " --device-root " + Root());
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_EQ(Lines(o.err), 1u) << args << ": " << o.err;
    EXPECT_EQ(o.out, "") << args;
    EXPECT_FALSE(Exists("")) << args;
  }
}

TEST_F(PelmokDaqTest, ALeadingZeroIsReadAsDecimalNotOctal) {
  const Outcome o = Daq("--device-root " + Root() + " --signal none --frame-rate 0100000");
  EXPECT_EQ(o.status, 3) << o.err;  // every read timed out: the records hold no samples
  EXPECT_NE(o.out.find("pelmok-daq: converter at 100000 Hz\n"), std::string::npos) << o.out;
}

TEST_F(PelmokDaqTest, DefaultDeviceRunsTheDefaultConfiguration) {
  // A silent converter keeps the run short: every record times out at once.
  const Outcome o = Daq("--device-root " + Root() + " --signal none");
  EXPECT_EQ(o.status, 3);  // every record timed out: data lost, and the report says so
  EXPECT_NE(o.out.find("pelmok-daq: reads timed out in 6 records, the words not read zero-filled: "
                       "file iteration 0 record 0 after 0 of 100,000 words"),
            std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("pelmok-daq: the board's result: WinMain returned 0\n"), std::string::npos);
  const std::string config = scratch.ReadFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt");
  for (const char* key :
       {"Sample rate:", "Number of samples per record:", "Number of hydrophones:",
        "Number of records per Flash Disk file:", "Number of Flash Disk files per USB write:",
        "Seconds to sleep between acquisitions:"})
    EXPECT_NE(config.find(key), std::string::npos) << key;
  EXPECT_TRUE(Exists("Storage Card/Pelmok/Data"));
  // Standard error is the debug console alone; standard output the banner, then the report.
  EXPECT_EQ(o.err.rfind("\r\nPrototype Pelmok Data Acq program\r\nOpened Configuration File \n", 0),
            0u);
  EXPECT_NE(o.err.find("Read SSP timed out with RNE = 0\nRecord Count = 0\n"), std::string::npos);
  EXPECT_EQ(o.err.find("pelmok-daq"), std::string::npos);
  EXPECT_EQ(o.out.rfind("\r\nPrototype Pelmok Data Acq program\r\n", 0), 0u);
  EXPECT_NE(o.out.find("/Hard Disk/Pelmok/Data/"), std::string::npos);
  EXPECT_FALSE(scratch.List("device/Hard Disk/Pelmok/Data").empty());
}

TEST_F(PelmokDaqTest, ExistingConfigurationIsNeverChanged) {
  scratch.MakeDirs("device/FlashFX Disk/Pelmok");
  const std::string mine =
      "Number of Flash Disk files per USB write:1\nNumber of samples per record:8\n"
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

TEST_F(PelmokDaqTest, ConfigurationThatIsNoFileCannotBeOpened) {
  // A FIFO with no writer would block an open; /dev/zero would never end; a
  // folder is no file. Each is a configuration file that cannot be opened.
  const std::string config = scratch.path() + "/device/FlashFX Disk/Pelmok/PelmokConfig.txt";
  for (const char* kind : {"fifo", "device", "folder"}) {
    std::system(("rm -rf '" + scratch.path() + "/device'").c_str());
    scratch.MakeDirs("device/FlashFX Disk/Pelmok");
    const std::string k = kind;
    if (k == "fifo") {
      ASSERT_EQ(mkfifo(config.c_str(), 0600), 0);
    }
    if (k == "device") {
      ASSERT_EQ(symlink("/dev/zero", config.c_str()), 0);
    }
    if (k == "folder") scratch.MakeDirs("device/FlashFX Disk/Pelmok/PelmokConfig.txt");
    const Outcome o = Daq("--bare --signal none --device-root " + Root());
    // A link, which no FAT volume holds, fails the board's open as the others do.
    EXPECT_EQ(o.status, 0) << kind << ": " << o.out;
    EXPECT_NE(o.err.find("Cannot open configuration file"), std::string::npos)
        << kind << ": " << o.err;
    if (k == "device") {
      // Without --bare, the layout refuses it before the run, in one line.
      const Outcome laid = Daq("--signal none --device-root " + Root());
      EXPECT_EQ(laid.status, 2) << laid.out;
      EXPECT_EQ(Lines(laid.err), 1u) << laid.err;
      EXPECT_NE(laid.err.find("PelmokConfig.txt is a symbolic link"), std::string::npos)
          << laid.err;
    }
    EXPECT_EQ(o.err.find("Opened Configuration File"), std::string::npos) << kind;
    // --check reads no such file either: unreadable, exit 2.
    const Outcome c = Daq("--check --device-root " + Root());
    EXPECT_EQ(c.status, 2) << kind;
    EXPECT_EQ(Lines(c.err), 1u) << kind << ": " << c.err;
  }
}

TEST_F(PelmokDaqTest, ConverterThatStallsPartWayLeavesZerosNotStaleSamples) {
  // Two 8-word records read into one buffer, the last written; the converter
  // dies 4 frames into the second. Its words stop at frame 11, the rest are
  // zeros, not record one's frames 4 to 7 left in the buffer.
  scratch.MakeDirs("device/FlashFX Disk/Pelmok");
  scratch.WriteFile(
      "device/FlashFX Disk/Pelmok/PelmokConfig.txt",
      "Number of samples per record:8\nNumber of records per Flash Disk file:2\n"
      "Number of Flash Disk files per USB write:1\nSeconds to sleep between acquisitions:1\n");
  const Outcome o = Daq("--device-root " + Root() + " --signal counter --stall-after 12");
  EXPECT_EQ(o.status, 3) << o.out;
  // The fault's line comes where it struck, before the time-out it causes;
  // the report names the record, not a restart.
  EXPECT_NE(o.err.find("pelmok-daq fault: stall@12: the converter makes no frame after frame 12\n"
                       "Read SSP timed out with RNE = 0\n"),
            std::string::npos)
      << o.err;
  EXPECT_NE(
      o.out.find("reads timed out in 1 record, the words not read zero-filled: file iteration 0 "
                 "record 1 after 4 of 8 words\n"),
      std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("frames made 12, read 12"), std::string::npos) << o.out;
  const auto names = scratch.List("device/Hard Disk/Pelmok/Data");
  ASSERT_EQ(names.size(), 1u);
  const std::string bytes = scratch.ReadFile("device/Hard Disk/Pelmok/Data/" + names[0]);
  ASSERT_EQ(bytes.size(), 32u);
  std::vector<uint32_t> words(8);
  std::memcpy(words.data(), bytes.data(), bytes.size());
  const std::vector<uint32_t> expected = {8, 9, 10, 11, 0, 0, 0, 0};
  EXPECT_EQ(words, expected);
}

TEST_F(PelmokDaqTest, DataFolderThatIsNoFolderStopsBeforeAnythingIsTouched) {
  // Today's run would lose every record behind exit 0: each is refused with
  // the path, and neither the device nor the --trace file is touched.
  const std::string data = scratch.path() + "/device/Hard Disk/Pelmok/Data";
  for (const char* bare : {"", "--bare "}) {
    for (const char* kind : {"file", "dangling link", "link loop", "link to a folder"}) {
      std::system(("rm -rf '" + scratch.path() + "/device'").c_str());
      scratch.MakeDirs("device/Hard Disk/Pelmok");
      const std::string k = kind;
      if (k == "file") scratch.WriteFile("device/Hard Disk/Pelmok/Data", "x");
      if (k == "dangling link") {
        ASSERT_EQ(symlink("Nowhere", data.c_str()), 0);
      }
      if (k == "link loop") {
        ASSERT_EQ(symlink("Data", data.c_str()), 0);
      }
      if (k == "link to a folder") {  // out of the device: no FAT volume holds it
        scratch.MakeDirs("elsewhere");
        ASSERT_EQ(symlink((scratch.path() + "/elsewhere").c_str(), data.c_str()), 0);
      }
      scratch.WriteFile("trace.txt", "an earlier trace\n");
      const Outcome o = Daq(std::string(bare) + "--signal none --device-root " + Root() +
                            " --trace '" + scratch.path() + "/trace.txt'");
      const std::string what = std::string(bare) + kind;
      EXPECT_EQ(o.status, 2) << what;
      EXPECT_EQ(Lines(o.err), 1u) << what << ": " << o.err;
      EXPECT_NE(o.err.find(data), std::string::npos) << what << ": " << o.err;
      EXPECT_EQ(o.out, "") << what;
      EXPECT_EQ(scratch.ReadFile("trace.txt"), "an earlier trace\n") << what;
      EXPECT_EQ(scratch.List("device"), std::vector<std::string>{"Hard Disk"}) << what;
      if (k == "link to a folder") {
        EXPECT_TRUE(scratch.List("elsewhere").empty()) << what;
        EXPECT_NE(o.err.find("is a symbolic link, which no FAT volume holds"), std::string::npos)
            << o.err;
      }
    }
  }
}

TEST_F(PelmokDaqTest, LayoutThatFailsLeavesTheTraceAsItWas) {
  // "Storage Card" a file: the device cannot be laid out, after the data
  // folder passed; the trace file is neither emptied nor created.
  scratch.MakeDirs("device");
  scratch.WriteFile("device/Storage Card", "");
  scratch.WriteFile("trace.txt", "kept\n");
  Outcome o = Daq("--signal none --force --device-root " + Root() + " --trace '" + scratch.path() +
                  "/trace.txt'");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(Lines(o.err), 1u) << o.err;
  EXPECT_EQ(scratch.ReadFile("trace.txt"), "kept\n");
  o = Daq("--signal none --device-root " + Root() + " --trace '" + scratch.path() +
          "/new-trace.txt'");
  EXPECT_EQ(o.status, 2);
  struct stat st;
  EXPECT_NE(stat((scratch.path() + "/new-trace.txt").c_str(), &st), 0);
  EXPECT_EQ(scratch.List(""),
            (std::vector<std::string>{"device", "stderr", "stdout", "trace.txt"}));
}

TEST_F(PelmokDaqTest, AppendingToATornFileStaysInStep) {
  // A power cut left 1 to 3 bytes of a word; two runs with the clock set the
  // same (as after a clock reset) append to that name. Every word read back
  // is a converter word, both records whole.
  scratch.MakeDirs("device/FlashFX Disk/Pelmok");
  scratch.WriteFile(
      "device/FlashFX Disk/Pelmok/PelmokConfig.txt",
      "Number of samples per record:1000\nNumber of records per Flash Disk file:1\n"
      "Number of Flash Disk files per USB write:1\nSeconds to sleep between acquisitions:1\n");
  const std::string run =
      "--signal counter --start-time 2009-03-19T14:05:08Z --device-root " + Root();
  ASSERT_EQ(Daq(run).status, 0);
  const auto names = scratch.List("device/Hard Disk/Pelmok/Data");
  ASSERT_EQ(names.size(), 1u);
  const std::string file = "device/Hard Disk/Pelmok/Data/" + names[0];
  const std::string record = scratch.ReadFile(file);
  ASSERT_EQ(record.size(), 4000u);
  for (const std::string torn : {"\x01", "\x01\x02", "\x01\x02\x03"}) {
    scratch.WriteFile(file, torn);
    Outcome o = Daq(run);
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.err.find("Data file \\Hard Disk\\Pelmok\\Data\\" + names[0] + " ended in " +
                         std::to_string(torn.size()) + " bytes of a torn word: cut to 0 bytes\n"),
              std::string::npos)
        << o.err;
    EXPECT_NE(o.err.find("Wrote 1000 samples to flash"), std::string::npos) << o.err;
    o = Daq(run);
    EXPECT_EQ(o.err.find("torn"), std::string::npos) << o.err;
    const std::string bytes = scratch.ReadFile(file);
    ASSERT_EQ(bytes.size(), 8000u) << torn.size();
    std::vector<uint32_t> words(2000);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    size_t high = 0;
    for (uint32_t w : words) high += (w >> 24) != 0;
    EXPECT_EQ(high, 0u) << torn.size() << " torn bytes";
    EXPECT_EQ(bytes, record + record);
  }
}

TEST_F(PelmokDaqTest, AClosedTracePipeEndsTheTraceNotTheRun) {
  // The reader takes 100 bytes and goes; the run goes on to its data files
  // and says the trace is incomplete. The status is pelmok-daq's own.
  const std::string command = "{ TZ=UTC0 " + std::string(PELMOK_DAQ_LAUNCHER) +
                              " '" PELMOK_DAQ_PATH "' --device-root " + Root() +
                              " --trace /dev/fd/3 3>&1 >'" + scratch.path() +
                              "/stdout' 2>/dev/null </dev/null; echo $? >'" + scratch.path() +
                              "/status'; } | head -c 100 >/dev/null";
  std::system(command.c_str());
  EXPECT_EQ(scratch.ReadFile("status"), "3\n");  // the trace is lost
  const std::string out = scratch.ReadFile("stdout");
  EXPECT_NE(out.find("pelmok-daq: the register trace is incomplete: /dev/fd/3: Broken pipe\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("register trace in"), std::string::npos) << out;
  EXPECT_EQ(scratch.List("device/Hard Disk/Pelmok/Data").size(), 3u) << out;

  // A device that refuses the bytes is reported the same way.
  const Outcome o = Daq("--bare --signal none --device-root " + Root() + " --trace /dev/full");
  EXPECT_EQ(o.status, 3);
  EXPECT_NE(o.out.find("the register trace is incomplete: /dev/full: No space left on device"),
            std::string::npos)
      << o.out;
}

TEST_F(PelmokDaqTest, AnExistingTraceIsReplacedOnlyWithForceAndNeverAnInput) {
  scratch.MakeDirs("device/Hard Disk/Pelmok/Data");
  scratch.WriteFile("device/Hard Disk/Pelmok/Data/109-77-14-5-9", "data");
  scratch.WriteFile("trace.txt", "an earlier trace\n");
  const std::string trace = " --trace '" + scratch.path() + "/trace.txt'";
  Outcome o = Daq("--signal none --device-root " + Root() + trace);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(Lines(o.err), 1u) << o.err;
  EXPECT_NE(o.err.find("trace.txt: exists (give --force to replace it)"), std::string::npos)
      << o.err;
  EXPECT_EQ(scratch.ReadFile("trace.txt"), "an earlier trace\n");
  o = Daq("--signal none --force --device-root " + Root() + trace);
  EXPECT_EQ(o.status, 3) << o.err;  // the reads time out
  EXPECT_NE(scratch.ReadFile("trace.txt").find("SSP3.SSCR0"), std::string::npos);
  EXPECT_NE(o.out.find("register trace in"), std::string::npos);

  ASSERT_EQ(link((scratch.path() + "/device/Hard Disk/Pelmok/Data/109-77-14-5-9").c_str(),
                 (scratch.path() + "/data-link").c_str()),
            0);
  for (const std::string input : {"device/FlashFX Disk/Pelmok/PelmokConfig.txt", "data-link"}) {
    const std::string before = scratch.ReadFile(input);
    o = Daq("--signal none --force --device-root " + Root() + " --trace '" + scratch.path() + "/" +
            input + "'");
    EXPECT_EQ(o.status, 2) << input;
    EXPECT_NE(o.err.find("is an input of this command"), std::string::npos) << o.err;
    EXPECT_EQ(scratch.ReadFile(input), before);
  }
}

TEST_F(PelmokDaqTest, AFullVolumeAtTheLayoutLeavesNoConfigurationAndTheNextRunWritesIt) {
  // No byte fits in a file (the shell ignores SIGXFSZ, so the writes fail
  // with EFBIG); standard error goes through a pipe, which the limit spares.
  const std::string command = "{ (trap '' XFSZ; ulimit -f 0; exec env TZ=UTC0 " +
                              std::string(PELMOK_DAQ_LAUNCHER) +
                              " '" PELMOK_DAQ_PATH "' --signal none --device-root " + Root() +
                              " </dev/null 2>&1 >/dev/null); echo \"status $?\"; } | cat >'" +
                              scratch.path() + "/full-volume'";
  std::system(command.c_str());
  const std::string said = scratch.ReadFile("full-volume");
  EXPECT_EQ(Lines(said), 2u) << said;
  EXPECT_NE(said.find("PelmokConfig.txt: File too large (nothing written)\nstatus 2\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(scratch.List("device/FlashFX Disk/Pelmok"), std::vector<std::string>{});
  const Outcome o = Daq("--signal counter --device-root " + Root());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(scratch.ReadFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt")
                .find("Number of samples per record:100000"),
            std::string::npos);
  EXPECT_EQ(scratch.List("device/Hard Disk/Pelmok/Data").size(), 3u) << o.out;
}

}  // namespace

namespace {

TEST_F(PelmokDaqTest, LowPowerRunsInsteadOfTheAcquisition) {
  // The build's stand-in library loads; the AC97 link goes down; no data.
  Outcome o = Daq("--device-root " + Root() + " --low-power 1");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err.rfind("\r\nLoading SMARTIO.DLL...\r\n\r\nSMARTIO.DLL Loaded successfully...", 0),
            0u);
  EXPECT_NE(o.err.find("AC97 GSR Register ACOFFD= 8\n"), std::string::npos);
  EXPECT_EQ(o.err.find("Prototype Pelmok"), std::string::npos);
  EXPECT_TRUE(scratch.List("device/Hard Disk/Pelmok/Data").empty());
  // An empty library folder: nothing loads, the backlight is left alone.
  scratch.MakeDirs("nolib");
  o = Daq("--device-root " + Root() + " --low-power 0 --library-dir '" + scratch.path() +
          "/nolib'");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err,
            "\r\nLoading SMARTIO.DLL...\r\n\r\nCan't find SMARTIO.DLL\r\n"
            "\r\nLoading KEYBDDR.DLL...\r\n\r\nFailed to load ADSmartIO library!\r\n");
}

// The bench's faults, each as a user gives it, on four iterations of two
// one-second records (1,000 words at 1 kHz), and what pelmok-daq and the
// data folder then show.
TEST_F(PelmokDaqTest, EachFaultStrikesWhereGivenAndTheReportTellsItsCost) {
  struct Row {
    const char* fault;
    int status;
    std::vector<const char*> out;  // on standard output
    const char* console;           // the fault's line on the console
  };
  const std::vector<Row> rows = {
      {"disk-full@6000",
       3,
       {"126-342-0-0-2 (4000 bytes): created",
        "126-342-0-0-4 (short: 2,000 of 4,000 bytes): created",
        "126-342-0-0-6 (short: 0 of 4,000 bytes)", "fault disk-full@6000: the data volume is full"},
       "disk-full@6000: the data volume is full; this write stored 2000 of 4000 bytes"},
      {"power-loss@2:1234",
       3,
       {"126-342-0-0-4 (short: 1,234 of 4,000 bytes): created",
        "the board's result: none, the power failed"},
       "power-loss@2:1234: power lost during data write 2 after 1234 of its bytes"},
      {"rtc-reset",
       0,
       {"wrote DEV/Hard Disk/Pelmok/Data/100-0-0-0-2 (4000 bytes)"},
       "rtc-reset: the board's clock starts"},
      {"converter-ppm@-200000",
       0,
       {"converter at 800 Hz"},
       "converter-ppm@-200000: the converter's clock makes 800 frames a second"},
      {"overrun@1500:100",
       3,
       {"lost to overrun 84",
        "frames lost to overrun in 1 record, the samples after each gap shifted: "
        "file iteration 0 record 1 lost 84"},
       "overrun@1500:100: 100 frames at once at frame 1500; the full receive FIFO lost 84"},
      {"stuck-bit@23:1", 0, {"fault stuck-bit@23:1: bit 23 of every code is 1"}, "stuck-bit@23:1"},
      {"stall@2500",
       3,
       {"reads timed out in 6 records", "file iteration 1 record 0 after 500 of 1,000 words"},
       "stall@2500: the converter makes no frame after frame 2500"},
  };
  for (const Row& row : rows) {
    std::system(("rm -rf '" + scratch.path() + "/device'").c_str());
    scratch.MakeDirs("device/FlashFX Disk/Pelmok");
    scratch.WriteFile(
        "device/FlashFX Disk/Pelmok/PelmokConfig.txt",
        "Number of samples per record:1000\nNumber of records per Flash Disk file:2\n"
        "Number of Flash Disk files per USB write:4\nSeconds to sleep between acquisitions:1\n");
    const std::string run =
        "--device-root " + Root() + " --frame-rate 1000 --start-time 2026-12-09T00:00:00Z";
    const Outcome o = Daq(run + " --fault " + row.fault);
    EXPECT_EQ(o.status, row.status) << row.fault << ": " << o.out;
    std::string out = o.out;
    for (size_t at; (at = out.find(scratch.path() + "/device")) != std::string::npos;)
      out.replace(at, scratch.path().size() + 7, "DEV");
    for (const char* text : row.out)
      EXPECT_NE(out.find(text), std::string::npos) << row.fault << ": " << text << "\n" << out;
    EXPECT_NE(o.err.find(std::string("pelmok-daq fault: ") + row.console), std::string::npos)
        << row.fault << o.err;
#ifdef PELMOK_DATA_PATH
    const std::string data = "'" + scratch.path() + "/device/Hard Disk/Pelmok/Data" +
                             (std::string(row.fault) == "stuck-bit@23:1" ? "/126-342-0-0-2'" : "'");
    const std::string info = scratch.path() + "/info";
    std::system(
        ("TZ=UTC0 '" PELMOK_DATA_PATH "' info --rate 1000 " + data + " >'" + info + "' 2>&1")
            .c_str());
    const std::string said = scratch.ReadFile("info");
    if (std::string(row.fault) == "stuck-bit@23:1") {
      EXPECT_NE(said.find("stuck bits   23=1 "), std::string::npos) << said;
    }
    if (std::string(row.fault) == "power-loss@2:1234") {
      EXPECT_NE(said.find("torn"), std::string::npos) << said;
    }
#endif
    if (std::string(row.fault) == "power-loss@2:1234") {
      // The next boot, at the same clock: the first write goes into the torn
      // file's neighbour; the second into the torn file, mended first.
      const Outcome next = Daq(run);
      EXPECT_NE(next.err.find("ended in 2 bytes of a torn word: cut to 1232 bytes"),
                std::string::npos)
          << next.err;
      EXPECT_EQ(scratch.ReadFile("device/Hard Disk/Pelmok/Data/126-342-0-0-4").size(),
                1232u + 4000u);
    }
  }
  // Same seed, same run, access for access (the register traces the same);
  // a fault without a place is placed by the seed, another seed elsewhere.
  const std::string seeded = "--bare --device-root " + Root() +
                             " --frame-rate 1000 --start-time 2026-12-09T00:00:00Z --fault overrun";
  const auto trace = [&](const char* name) { return " --trace '" + scratch.path() + name + "'"; };
  const Outcome a = Daq(seeded + " --seed 7" + trace("/a.trace"));
  const Outcome b = Daq(seeded + " --seed 7" + trace("/b.trace"));
  const Outcome c = Daq(seeded + " --seed 8" + trace("/c.trace"));
  EXPECT_EQ(a.err, b.err);
  EXPECT_NE(a.out.find("(placed by seed 7)"), std::string::npos) << a.out;
  EXPECT_GT(scratch.ReadFile("a.trace").size(), 100000u);
  EXPECT_TRUE(scratch.ReadFile("a.trace") == scratch.ReadFile("b.trace"));
  EXPECT_NE(a.err, c.err);
  EXPECT_FALSE(scratch.ReadFile("a.trace") == scratch.ReadFile("c.trace"));
}

// FAT's limits as the board meets them, and the device as FAT has it.
TEST_F(PelmokDaqTest, FatLimitsAndNamesAreTheBoardsVolumes) {
  const std::string data = scratch.path() + "/device/Hard Disk/Pelmok/Data";
  const std::string config =
      "Number of samples per record:100000\nNumber of records per Flash Disk file:1\n"
      "Number of Flash Disk files per USB write:3\nSeconds to sleep between acquisitions:1\n";
  scratch.MakeDirs("device/FlashFX Disk/Pelmok");
  scratch.MakeDirs("device/Hard Disk/Pelmok/Data");
  scratch.WriteFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt", config);
  const std::string run = "--bare --device-root " + Root() + " --start-time 2026-12-09T00:00:00Z";

  // A 1 MiB volume: 1,984 clusters of 512 bytes, 3 taken by the folders;
  // two records of 782 clusters, then 417 clusters of the third.
  Outcome o = Daq(run + " --volume-size 1048576");
  EXPECT_EQ(o.status, 3);
  EXPECT_NE(o.out.find("126-342-0-0-3 (short: 213,504 of 400,000 bytes): created"),
            std::string::npos)
      << o.out;
#ifdef PELMOK_DATA_PATH
  // pelmok-data reads each limit's loss off the folder the run left.
  const std::string info =
      "--config '" + scratch.path() + "/device/FlashFX Disk/Pelmok/PelmokConfig.txt' ";
  std::string said = Info(info + "'" + data + "'");
  EXPECT_NE(said.find("126-342-0-0-3       #0/1    53376       from the name; short: a write cut "
                      "short"),
            std::string::npos)
      << said;
#endif

  // A file at FAT's largest: 4 GiB - 1 bytes. The write takes what fits; the
  // board cuts the torn word.
  std::system(("rm -rf '" + data + "'/*").c_str());
  ASSERT_EQ(truncate((scratch.WriteFile("device/Hard Disk/Pelmok/Data/126-342-0-0-1", ""),
                      data + "/126-342-0-0-1")
                         .c_str(),
                     0xFFFFFFFCll - 1000),
            0);
  o = Daq(run);
  EXPECT_EQ(o.status, 3);
  // A 32-bit host's C streams hand the last partial word to the file layer
  // too (1,003 bytes there), so the exact count is held on 64-bit hosts.
  if (sizeof(void*) >= 8) {
    EXPECT_NE(
        o.out.find("126-342-0-0-1, which existed before: short: 1,000 of 400,000 bytes added"),
        std::string::npos)
        << o.out;
  }
  EXPECT_NE(o.out.find("126-342-0-0-1, which existed before: short: 1,00"), std::string::npos)
      << o.out;
#ifdef PELMOK_DATA_PATH
  if (sizeof(void*) >= 8) {  // the file's last record: 41,823 words of 100,000
    said = Info(info + "--record '126-342-0-0-1#10737' '" + data + "'");
    EXPECT_NE(said.find("#10737/1 41823       from the name; appended; short: a write cut short"),
              std::string::npos)
        << said;
  }
#endif
  std::system(("rm -rf '" + data + "'/*").c_str());

  // A folder full as FAT counts it: 65,536 entries with "." and "..";
  // 21,843 names of 26 characters take 3 each, the run's of 13 take 2, so
  // the third write finds no room.
  for (int i = 0; i < 21843; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "/x%025d", i);
    close(open((data + name).c_str(), O_CREAT | O_WRONLY, 0644));
  }
  // --check foretells it: the third write finds the folder full.
  const Outcome check = Daq("--check " + run);
  EXPECT_EQ(check.status, 2) << check.out;
  EXPECT_NE(check.out.find("first limit       folder entries, at write 3,"), std::string::npos)
      << check.out;
  EXPECT_NE(check.out.find("3: 2 whole, 0 short, 1 not written"), std::string::npos) << check.out;
  o = Daq(run);
  EXPECT_EQ(o.status, 3);
  EXPECT_NE(o.out.find("126-342-0-0-2 (400000 bytes): created"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("not written: " + data + "/126-342-0-0-3 (its folder has no room"),
            std::string::npos)
      << o.out;
  EXPECT_NE(
      o.err.find(
          "Cannot open data file \\Hard Disk\\Pelmok\\Data\\126-342-0-0-3: record not written"),
      std::string::npos);
#ifdef PELMOK_DATA_PATH
  said = Info(info + "'" + data + "'");
  EXPECT_NE(said.find("total        2 records, 2 files, 800000 bytes"), std::string::npos) << said;
  EXPECT_NE(said.find("runs         1, 1 with fewer writes than the configuration's 3"),
            std::string::npos)
      << said;
#endif
  std::system(("rm -rf '" + scratch.path() + "/device'").c_str());

  // A device copied off the board in upper case is that device.
  scratch.MakeDirs("device/FLASHFX DISK/PELMOK");
  scratch.MakeDirs("device/HARD DISK/PELMOK/DATA");
  scratch.WriteFile("device/FLASHFX DISK/PELMOK/PELMOKCONFIG.TXT", config);
  for (const char* bare : {"", "--bare "}) {
    o = Daq(std::string(bare) + "--device-root " + Root() + " --signal counter");
    EXPECT_EQ(o.status, 0) << bare << o.out;
    EXPECT_FALSE(Exists("Hard Disk")) << bare;
    EXPECT_FALSE(Exists("FlashFX Disk")) << bare;
    EXPECT_NE(o.out.find("/HARD DISK/PELMOK/DATA/"), std::string::npos) << o.out;
  }
  EXPECT_EQ(Daq("--check --device-root " + Root()).status, 0);
  // Names no FAT folder holds together, and a link, stop before the run.
  scratch.MakeDirs("device/HARD DISK/PELMOK/Data");
  for (const char* args : {"", "--bare ", "--check "}) {
    o = Daq(std::string(args) + "--device-root " + Root());
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_EQ(Lines(o.err), 1u) << o.err;
    EXPECT_NE(o.err.find("holds both "), std::string::npos) << o.err;
  }
  std::system(("rm -rf '" + scratch.path() + "/device/HARD DISK/PELMOK/Data'").c_str());
  scratch.WriteFile("foreign", "keep");
  ASSERT_EQ(symlink((scratch.path() + "/foreign").c_str(),
                    (scratch.path() + "/device/HARD DISK/PELMOK/DATA/126-342-0-0-1").c_str()),
            0);
  o = Daq(run);
  EXPECT_EQ(o.status, 3);
  EXPECT_NE(o.out.find("not written: "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("is a symbolic link, which no FAT volume holds"), std::string::npos)
      << o.out;
  EXPECT_EQ(scratch.ReadFile("foreign"), "keep");
}

}  // namespace

namespace {

// Two file iterations of one 8-word record each, written: a run of a few
// milliseconds, so both writes fall within one second.
class PelmokDaqClockTest : public PelmokDaqTest {
 protected:
  void SetUp() override {
    scratch.MakeDirs("device/FlashFX Disk/Pelmok");
    scratch.WriteFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt",
                      "Number of samples per record:8\nNumber of records per Flash Disk file:1\n"
                      "Number of Flash Disk files per USB write:2\n"
                      "Seconds to sleep between acquisitions:1\n");
  }
  // The data files of a run at `when` (UTC), with `more` options or environment.
  std::vector<std::string> FilesOfRunAt(const std::string& when, const std::string& more,
                                        const std::string& environment = "TZ=UTC0") {
    scratch.MakeDirs("device/Hard Disk/Pelmok/Data");
    for (const std::string& name : scratch.List("device/Hard Disk/Pelmok/Data"))
      std::remove((scratch.path() + "/device/Hard Disk/Pelmok/Data/" + name).c_str());
    const Outcome o =
        Daq("--device-root " + Root() + " --signal counter --start-time " + when + " " + more,
            environment);
    EXPECT_EQ(o.status, 0) << more << " " << environment << ": " << o.out << o.err;
    return scratch.List("device/Hard Disk/Pelmok/Data");
  }
  using Names = std::vector<std::string>;
};

TEST_F(PelmokDaqClockTest, StartTimeAndTimeZoneNameTheFiles) {
  // 02:59:58 CEST, the last second before Berlin's clocks go back; both writes
  // in one file, 2 x 8 words.
  EXPECT_EQ(FilesOfRunAt("2026-10-25T00:59:58Z", "--time-zone CET-1CEST,M3.5.0,M10.5.0/3"),
            Names{"126-297-2-59-58"});
  EXPECT_EQ(scratch.ReadFile("device/Hard Disk/Pelmok/Data/126-297-2-59-58").size(), 64u);
  EXPECT_EQ(FilesOfRunAt("2038-01-19T03:14:08Z", ""), Names{"138-18-3-14-8"});
  EXPECT_EQ(FilesOfRunAt("2026-07-01T12:00:00Z", "--time-zone '<+0545>-5:45'"),
            Names{"126-181-17-45-0"});
  // --time-zone wins over TZ.
  EXPECT_EQ(FilesOfRunAt("2026-07-01T12:00:00Z", "--time-zone UTC0", "TZ=Europe/Berlin"),
            Names{"126-181-12-0-0"});
}

TEST_F(PelmokDaqClockTest, TimeZoneDefaultsToTz) {
  // A rule as it stands, a zone name, a zone name with ':'.
  EXPECT_EQ(FilesOfRunAt("2026-07-01T12:00:00Z", "", "TZ='NST3:30NDT,M3.2.0,M11.1.0'"),
            Names{"126-181-9-30-0"});
  if (!std::ifstream("/usr/share/zoneinfo/Europe/Berlin")) GTEST_SKIP() << "no tzdata";
  EXPECT_EQ(FilesOfRunAt("2026-07-01T12:00:00Z", "", "TZ=Europe/Berlin"), Names{"126-181-14-0-0"});
  // --time-zone takes a zone name as TZ does.
  EXPECT_EQ(FilesOfRunAt("2026-07-01T12:00:00Z", "--time-zone Europe/Berlin", "TZ=UTC0"),
            Names{"126-181-14-0-0"});
  EXPECT_EQ(FilesOfRunAt("2026-01-01T12:00:00Z", "", "TZ=:Australia/Sydney"),
            Names{"126-0-23-0-0"});

  // TZ unset: the host's own zone, as the C library reads it too (2026 is
  // within the rule at the end of any current zone file).
  const char* tz = std::getenv("TZ");
  const std::string saved = tz ? tz : "";
  unsetenv("TZ");
  tzset();
  const time_t when = 1782907200;  // 2026-07-01 12:00:00 UTC
  struct tm local;
  localtime_r(&when, &local);
  if (tz) setenv("TZ", saved.c_str(), 1);
  tzset();
  const std::string expected = std::to_string(local.tm_year) + "-" + std::to_string(local.tm_yday) +
                               "-" + std::to_string(local.tm_hour) + "-" +
                               std::to_string(local.tm_min) + "-" + std::to_string(local.tm_sec);
  EXPECT_EQ(FilesOfRunAt("2026-07-01T12:00:00Z", "", "env -u TZ"), Names{expected});
}

// Seconds since 1970 of "2026-10-20T12:00:10.050Z".
double UtcOfText(const std::string& text) {
  struct tm t = {};
  const char* rest = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &t);
  EXPECT_NE(rest, nullptr) << text;
  return static_cast<double>(timegm(&t)) +
         (rest != nullptr && *rest == '.' ? std::atof(rest) : 0.0);
}

// The board's clock 5,000 ppm fast over a run of ten minutes: each write's
// board time runs ahead of the true one by 5,000 ppm of the time since the
// start, its file is named by the board's clock (glibc's localtime_r the
// oracle, in a zone half an hour off the hour), and the clock checks the
// report gives are the two clocks at the run's start and end.
TEST_F(PelmokDaqClockTest, ADriftingClockNamesByItsOwnTimeAndTheReportGivesBothClocks) {
  scratch.WriteFile(
      "device/FlashFX Disk/Pelmok/PelmokConfig.txt",
      "Number of samples per record:10000\nNumber of records per Flash Disk file:1\n"
      "Number of Flash Disk files per USB write:60\nSeconds to sleep between acquisitions:1\n");
  const std::string zone = "NST3:30NDT,M3.2.0,M11.1.0";
  const std::string run = "--device-root " + Root() +
                          " --frame-rate 1000 --start-time 2026-10-20T12:00:00Z" +
                          " --time-zone '" + zone + "'";
  const Outcome o = Daq(run + " --clock-drift 5000");
  ASSERT_EQ(o.status, 0) << o.out << o.err;
  setenv("TZ", zone.c_str(), 1);
  tzset();
  const double start = 1792497600;  // 2026-10-20T12:00:00Z
  const std::regex line(
      "pelmok-daq: \\S+  \\S+ \\S+  board clock (\\S+), true UTC (\\S+)  wrote \\S+ "
      "Disk/Pelmok/Data/"
      "([0-9-]+) \\(40000 bytes\\): created\n");
  int k = 0;
  for (auto m = std::sregex_iterator(o.out.begin(), o.out.end(), line); m != std::sregex_iterator();
       ++m, ++k) {
    const double board = UtcOfText((*m)[1]), truth = UtcOfText((*m)[2]);
    EXPECT_NEAR(truth, start + 10.0 * (k + 1), 0.01) << k;  // a write every 10 s of true time
    EXPECT_NEAR(board - truth, 0.005 * (truth - start), 0.002) << k;
    const time_t second = static_cast<time_t>(std::floor(board));
    struct tm local;
    localtime_r(&second, &local);
    EXPECT_EQ((*m)[3], std::to_string(local.tm_year) + "-" + std::to_string(local.tm_yday) + "-" +
                           std::to_string(local.tm_hour) + "-" + std::to_string(local.tm_min) +
                           "-" + std::to_string(local.tm_sec))
        << k;
  }
  unsetenv("TZ");
  tzset();
  EXPECT_EQ(k, 60) << o.out;
  const std::regex check(
      "\\[\\[clock_check\\]\\]  # the run's (start|end)\nboard = \"(\\S+)\"\nreference = "
      "\"(\\S+)\"\n");
  std::vector<std::pair<double, double>> checks;
  for (auto m = std::sregex_iterator(o.out.begin(), o.out.end(), check);
       m != std::sregex_iterator(); ++m)
    checks.emplace_back(UtcOfText((*m)[2]), UtcOfText((*m)[3]));
  ASSERT_EQ(checks.size(), 2u) << o.out;
  EXPECT_NEAR(checks[0].first, start, 0.001);
  EXPECT_NEAR(checks[0].second, start, 0.001);
  EXPECT_NEAR(checks[1].second, start + 600, 0.01);
  EXPECT_NEAR(checks[1].first - checks[1].second, 3.0, 0.002);
  EXPECT_NE(o.out.find("+3.000 s over the run (+5000.0 ppm)"), std::string::npos) << o.out;

  // Without a drift the report keeps its one clock.
  const Outcome plain = Daq(run);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out.find("board clock"), std::string::npos);
  EXPECT_EQ(plain.out.find("clock_check"), std::string::npos);
}

TEST_F(PelmokDaqClockTest, ClocksAndZonesTheBoardCannotHoldStopTheRun) {
  const struct {
    const char* args;
    const char* environment;
  } cases[] = {
      {"--start-time 2026-10-25T00:59:58", "TZ=UTC0"},
      {"--start-time tomorrow", "TZ=UTC0"},
      {"--start-time 2026-02-30T00:00:00Z", "TZ=UTC0"},
      {"--time-zone CET-1CEST,J60,M10.5.0/3", "TZ=UTC0"},
      {"--time-zone CET-1CEST,60,M10.5.0/3", "TZ=UTC0"},
      {"--time-zone CET-1CEST,M3.5.0,M10.5.0/25", "TZ=UTC0"},
      {"--time-zone CET-1CEST,M3.5.0/-1,M10.5.0", "TZ=UTC0"},
      {"--time-zone America/Santiago", "TZ=UTC0"},  // its rule changes at 24:00
      {"", "TZ=America/Santiago"},                  // its rule changes at 24:00
      {"", "TZ=No/Such_Zone"},
      {"", "TZ='CET-1CEST,M3.5.0,M10.5.0/26'"},
  };
  for (const auto& c : cases) {
    const std::string root = "'" + scratch.path() + "/fresh'";
    const Outcome o = Daq(std::string(c.args) + " --device-root " + root, c.environment);
    EXPECT_EQ(o.status, 2) << c.args << " " << c.environment;
    EXPECT_EQ(Lines(o.err), 1u) << c.args << " " << c.environment << ": " << o.err;
    EXPECT_EQ(o.out, "") << c.args;
    EXPECT_EQ(scratch.List("fresh").size(), 0u) << c.args << ": nothing laid out";
  }
}

}  // namespace
