// The host tools where things go wrong around them: killed at any moment, a
// volume that fills, standard output that cannot be written, two runs on one
// fresh device. Each leaves nothing half-made behind and says what happened.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tools/tool_process.h"
#include "tools/common/deployment.h"
#include "tools/pelmok-data/record_samples.h"

namespace {

using toolprocess::Outcome;
using toolprocess::Quote;

class HostileHostTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& relative) const { return scratch.path() + "/" + relative; }
  std::string Data() const { return Quote(PELMOK_DATA_PATH) + " "; }
  std::string Daq() const {
    return std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) + " ";
  }
  // A data file of `words` words of a ramp, written in one go.
  void WriteData(const std::string& relative, size_t words) const {
    std::string bytes(words * 4, '\0');
    for (size_t i = 0; i < words; ++i)
      bytes[i * 4] = static_cast<char>(i), bytes[i * 4 + 1] = static_cast<char>(i >> 8);
    scratch.WriteFile(relative, bytes);
  }
  testsupport::ScratchDir scratch;
};

// Every writer is killed by SIGINT, SIGTERM or SIGHUP at random moments of
// its run (seeded from the clock, the seed said on failure): what it leaves
// is its whole output or nothing, never a temporary file.
TEST_F(HostileHostTest, WritersKilledAtRandomMomentsLeaveNoStrayFile) {
  scratch.MakeDirs("data");
  WriteData("data/109-77-14-5-9", 1 << 20);
  WriteData("data/109-77-14-5-19", 1 << 20);
  const std::string in = " --rate 100000 " + Quote(Path("data"));
  const std::string one = " --rate 100000 " + Quote(Path("data/109-77-14-5-9"));
  const struct {
    std::string command, output;  // output: the one name allowed to stand afterwards
  } writers[] = {
      {Data() + "export -o " + Quote(Path("out/a.wav")) + one, "a.wav"},
      {Data() + "export -o " + Quote(Path("out/a.flac")) + one, "a.flac"},
      {Data() + "export -o " + Quote(Path("out/a.csv")) + one, "a.csv"},
      {Data() + "export --join -o " + Quote(Path("out/j.wav")) + in, "j.wav"},
      {Data() + "plot -o " + Quote(Path("out/p.png")) + in, "p.png"},
      {Data() + "report -o " + Quote(Path("out/r.html")) + in, "r.html"},
      {Data() + "info --csv -o " + Quote(Path("out/t.csv")) + in, "t.csv"},
      // The trace, and the default configuration of a device laid out anew.
      {Daq() + "--device-root " + Quote(Path("out/dev")) + " --trace " +
           Quote(Path("out/trace.txt")),
       "trace.txt"},
  };
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const char* const signals[] = {"INT", "TERM", "HUP"};
  for (const auto& w : writers) {
    for (int round = 0; round < 3; ++round) {
      const int delayMs = std::uniform_int_distribution<int>(0, 150)(random);
      const char* signal = signals[random() % 3];
      SCOPED_TRACE(w.command + ": SIG" + signal + " after " + std::to_string(delayMs) + " ms");
      scratch.MakeDirs("out");
      toolprocess::Run("(" + w.command + ") & p=$!; sleep " + std::to_string(delayMs / 1000.0) +
                           "; kill -" + signal + " $p; wait $p",
                       scratch.path());
      for (const std::string& name : scratch.List("out")) {
        if (name == "dev") continue;
        EXPECT_EQ(name, w.output);
      }
      std::vector<std::string> device;
      for (const char* folder : {"out/dev/FlashFX Disk/Pelmok", "out/dev/Hard Disk/Pelmok/Data"})
        for (const std::string& name : scratch.List(folder))
          EXPECT_NE(name[0], '.') << folder << "/" << name;
      toolprocess::Run("rm -rf " + Quote(Path("out")), scratch.path());
    }
  }
}

// A small volume that fills: every export stops at its first failed write,
// says so in one line naming the path and the system's reason, and leaves
// the volume empty. The input is 400 MB, sparse: an export that wrote on
// into the full volume would take minutes, not seconds.
TEST_F(HostileHostTest, AFullVolumeStopsEachExportAtItsFirstFailedWrite) {
  scratch.MakeDirs("full");
  if (mount("tmpfs", Path("full").c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "a 1 MB tmpfs cannot be mounted here (" << std::strerror(errno)
                 << "): needs root";
  scratch.WriteFile("109-77-14-5-9", "");
  ASSERT_EQ(truncate(Path("109-77-14-5-9").c_str(), 400 << 20), 0);
  // FLAC packs silence small: it gets 2 MB of noise.
  std::string noise(2 << 20, '\0');
  std::mt19937 random(7);
  for (char& c : noise) c = static_cast<char>(random());
  scratch.WriteFile("109-77-14-5-19", noise);
  for (const char* name : {"a.wav", "a.flac", "a.csv"}) {
    const std::string out = Path("full/") + name;
    const std::string in = Path(std::string(name) == "a.flac" ? "109-77-14-5-19" : "109-77-14-5-9");
    const Outcome o = toolprocess::Run(
        "timeout 20 " + Data() + "export --rate 100000 -o " + Quote(out) + " " + Quote(in),
        scratch.path());
    EXPECT_EQ(o.status, 2) << name << ": " << o.err;
    EXPECT_EQ(toolprocess::Lines(o.err), 1u) << o.err;
    EXPECT_EQ(o.err.find("pelmok-data: " + out + ": No space left on device"), 0u) << o.err;
    EXPECT_EQ(scratch.List("full"), std::vector<std::string>{}) << name;
  }
  umount2(Path("full").c_str(), MNT_DETACH);
}

// Standard output that cannot be written is an error in both tools; closed
// at start, it is /dev/null, and nothing meant for it lands in a file.
TEST_F(HostileHostTest, StandardOutputThatFailsIsAnErrorAndAClosedOneTakesNoFile) {
  WriteData("109-77-14-5-9", 1000);
  for (const std::string& command : {Data() + "info --rate 1000 " + Quote(Path("109-77-14-5-9")),
                                     Daq() + "--device-root " + Quote(Path("dev"))}) {
    const Outcome o = toolprocess::Run("(" + command + " >/dev/full)", scratch.path());
    SCOPED_TRACE(command);
    EXPECT_EQ(o.status, 2);
    // The reason, where the failure came at the last flush; the earlier
    // flushes of a long report lose it.
    EXPECT_NE(o.err.find(": standard output: "), std::string::npos) << o.err;
  }
  const Outcome closed = toolprocess::Run("(" + Daq() + "--device-root " + Quote(Path("dev2")) +
                                              " --trace " + Quote(Path("trace.txt")) + " >&-)",
                                          scratch.path());
  EXPECT_EQ(closed.status, 0) << closed.err;
  EXPECT_EQ(scratch.ReadFile("trace.txt").find("Prototype Pelmok"), std::string::npos);
  EXPECT_NE(scratch.ReadFile("tool.stderr").find("Prototype Pelmok"), std::string::npos);
}

// Two runs started together on a fresh device: whichever lays out the
// configuration first, the other uses it as it is; both record.
TEST_F(HostileHostTest, TwoRunsOnAFreshDeviceBothRecord) {
  for (int trial = 0; trial < 5; ++trial) {
    const std::string root = Path("dev" + std::to_string(trial));
    const std::string run = Daq() + "--device-root " + Quote(root) + " --start-time ";
    const Outcome o = toolprocess::Run("(" + run + "2026-01-01T00:00:00Z >" + Quote(root + ".1") +
                                           " 2>&1; echo $? >" + Quote(root + ".1s") + ") & (" +
                                           run + "2026-06-01T00:00:00Z >" + Quote(root + ".2") +
                                           " 2>&1; echo $? >" + Quote(root + ".2s") + "); wait",
                                       scratch.path());
    for (const char* n : {".1", ".2"}) {
      const std::string base = "dev" + std::to_string(trial) + n;
      EXPECT_EQ(scratch.ReadFile(base + "s"), "0\n") << scratch.ReadFile(base);
      EXPECT_NE(scratch.ReadFile(base).find("Hard Disk/Pelmok/Data/"), std::string::npos)
          << scratch.ReadFile(base);
    }
    EXPECT_EQ(scratch.List("dev" + std::to_string(trial) + "/Hard Disk/Pelmok/Data").size(), 6u);
  }
}

// Per-record export: with one output standing, nothing is written; a failure
// part-way names the files written before it and leaves no partial one; a
// missing folder given as "DIR/" is made.
TEST_F(HostileHostTest, PerRecordExportIsAllOrNamed) {
  scratch.MakeDirs("data");
  const char* const names[] = {"109-77-14-5-1",  "109-77-14-5-11", "109-77-14-5-21",
                               "109-77-14-5-31", "109-77-14-5-41", "109-77-14-5-51"};
  for (const char* name : names)
    WriteData(std::string("data/") + name, std::string(name) == names[2] ? 50000 : 100);
  const std::string export_ = Data() + "export --rate 100000 --time-zone UTC0 -o ";
  Outcome o =
      toolprocess::Run(export_ + Quote(Path("new/")) + " " + Quote(Path("data")), scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<std::string> all = scratch.List("new");
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0], "20090319T140500Z.wav");
  // On four threads the same files, byte for byte.
  o = toolprocess::Run(Data() + "export --jobs 4 --rate 100000 --time-zone UTC0 -o " +
                           Quote(Path("four/")) + " " + Quote(Path("data")),
                       scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(scratch.List("four"), all);
  for (const std::string& name : all)
    EXPECT_EQ(scratch.ReadFile("four/" + name), scratch.ReadFile("new/" + name)) << name;

  scratch.MakeDirs("standing");
  scratch.WriteFile("standing/" + all[3], "earlier");
  o = toolprocess::Run(export_ + Quote(Path("standing")) + " " + Quote(Path("data")),
                       scratch.path());
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "pelmok-data: " + Path("standing/" + all[3]) +
                       ": exists (give --force to replace it) (nothing written)\n");
  EXPECT_EQ(scratch.List("standing"), std::vector<std::string>{all[3]});

  // The third record is larger than a file may grow: the first two stand.
  o = toolprocess::Run(
      "trap '' XFSZ; ulimit -f 64; " + export_ + Quote(Path("part/")) + " " + Quote(Path("data")),
      scratch.path());
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(toolprocess::Lines(o.err), 1u) << o.err;
  EXPECT_NE(o.err.find(Path("part/" + all[2]) + ": File too large"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("; 2 of 6 files written before it: " + Path("part/" + all[0]) + ", " +
                       Path("part/" + all[1])),
            std::string::npos)
      << o.err;
  EXPECT_EQ(scratch.List("part"), (std::vector<std::string>{all[0], all[1]}));
}

// A trace on the data volume gives way: the three records of the default
// run are written whole, the trace stops and says so.
TEST_F(HostileHostTest, ATraceOnTheDataVolumeGivesWayToTheRecords) {
  scratch.MakeDirs("volume");
  if (mount("tmpfs", Path("volume").c_str(), "tmpfs", 0, "size=8m") != 0)
    GTEST_SKIP() << "an 8 MB tmpfs cannot be mounted here (" << std::strerror(errno)
                 << "): needs root";
  const Outcome o = toolprocess::Run(Daq() + "--device-root " + Quote(Path("volume/dev")) +
                                         " --trace " + Quote(Path("volume/trace.txt")),
                                     scratch.path());
  EXPECT_NE(o.out.find("pelmok-daq: the register trace gave way to the records"), std::string::npos)
      << o.out;
  EXPECT_EQ(o.out.find("samples stored"), std::string::npos) << o.out;
  const std::vector<std::string> files = scratch.List("volume/dev/Hard Disk/Pelmok/Data");
  EXPECT_EQ(files.size(), 3u);
  for (const std::string& f : files)
    EXPECT_EQ(scratch.ReadFile("volume/dev/Hard Disk/Pelmok/Data/" + f).size(), 400000u) << f;
  EXPECT_EQ(scratch.List("volume"), std::vector<std::string>{"dev"});
  umount2(Path("volume").c_str(), MNT_DETACH);
}

// A data file that shrinks between the listing of the deployment and the
// reading of its samples is named as such, not as a read error.
TEST_F(HostileHostTest, AFileThatChangesSizeWhileReadIsNamedAsSuch) {
  WriteData("109-77-14-5-9", 1000);
  datatools::DeploymentFlags flags;
  flags.rate = 1000;
  flags.timeZone = "UTC0";
  datatools::DeploymentSettings settings;
  datatools::Deployment d;
  std::string error;
  ASSERT_TRUE(datatools::ResolveSettings(flags, &settings, &error)) << error;
  ASSERT_TRUE(datatools::LoadDeployment({Path("109-77-14-5-9")}, settings, &d, &error)) << error;
  ASSERT_EQ(d.records.size(), 1u);
  ASSERT_EQ(truncate(Path("109-77-14-5-9").c_str(), 2000), 0);
  EXPECT_FALSE(datatools::ForEachRecordBlock(
      d, d.records[0], [](const std::vector<int32_t>&, const std::vector<uint32_t>&) {}, &error));
  EXPECT_EQ(error,
            Path("109-77-14-5-9") + ": changed size while it was read (4000 bytes, now 2000)");
}

// A data folder given twice, and entries that carry a data file name but are
// no data files: every file is read once, every odd entry named by info,
// export --join and report and counted in their totals.
TEST_F(HostileHostTest, EachFileReadOnceAndEveryOddEntryNamed) {
  ASSERT_EQ(toolprocess::Run(Daq() + "--device-root " + Quote(Path("dev")) +
                                 " --start-time 2026-06-01T12:00:00Z --time-zone UTC0",
                             scratch.path())
                .status,
            0);
  const std::string data = "dev/Hard Disk/Pelmok/Data";
  const auto at = [&](const std::string& name) { return Path(data + "/" + name); };
  std::vector<std::string> odd = {"126-151-12-0-10", "126-151-12-0-11", "126-151-12-0-12",
                                  "126-151-12-0-13", "126-151-12-0-15", "126-365-0-0-0",
                                  "126-87-25-61-61"};
  ASSERT_EQ(symlink("nowhere", at(odd[0]).c_str()), 0);
  ASSERT_EQ(symlink(odd[1].c_str(), at(odd[1]).c_str()), 0);  // a loop
  ASSERT_EQ(mkfifo(at(odd[2]).c_str(), 0600), 0);
  scratch.MakeDirs(data + "/" + odd[3]);
  ASSERT_EQ(symlink("/dev/zero", at(odd[4]).c_str()), 0);
  scratch.WriteFile(data + "/" + odd[5], std::string(400, '\1'));
  scratch.WriteFile(data + "/" + odd[6], std::string(400, '\1'));
  ASSERT_EQ(symlink(at("126-151-12-0-2").c_str(), at("126-151-12-0-20").c_str()),
            0);  // a second name
  scratch.WriteFile(data + "/notes.txt", "not data");
  if (getuid() != 0) {  // root reads any file
    scratch.WriteFile(data + "/126-151-12-0-16", std::string(400, '\1'));
    ASSERT_EQ(chmod(at("126-151-12-0-16").c_str(), 0), 0);
    odd.push_back("126-151-12-0-16");
  }
  const auto namesEvery = [&](const std::string& text, const std::string& prefix) {
    for (const std::string& name : odd)
      EXPECT_NE(text.find(prefix + at(name)), std::string::npos) << name << "\n" << text;
    EXPECT_EQ(text.find("notes.txt"), std::string::npos) << text;
  };
  const std::string folders = Quote(Path(data)) + " " + Quote(Path(data) + "/") + " ";
  const std::string zone = "--time-zone UTC0 --rate 100000 ";

  Outcome o = toolprocess::Run(Data() + "info " + zone + folders, scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("2 inputs: 3 records in 3 files"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("total        3 records, 3 files, 1200000 bytes"), std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("not read     " + std::to_string(odd.size()) + " entries"),
            std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find(at(odd[3]) + ": is a folder"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find(at(odd[5]) + ": no time the board's clock gives"), std::string::npos)
      << o.out;
  namesEvery(o.out, "    ");
  EXPECT_EQ(toolprocess::Lines(o.err), odd.size())
      << o.err;  // each once, though its folder came twice
  namesEvery(o.err, "pelmok-data: warning: ");

  o = toolprocess::Run(Data() + "export --join -o " + Quote(Path("j.wav")) + " " + zone + folders,
                       scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  namesEvery(o.err, "pelmok-data: warning: ");
  SF_INFO info{};
  SNDFILE* joined = sf_open(Path("j.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(joined, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.frames, 300000);  // three records of 100,000, each once
  sf_close(joined);

  o = toolprocess::Run(Data() + "report -o " + Quote(Path("r.html")) + " " + zone + folders,
                       scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string html = scratch.ReadFile("r.html");
  namesEvery(html, "not read: ");
  EXPECT_NE(html.find(std::to_string(odd.size()) +
                      " entries with a data file name that are no data files"),
            std::string::npos);
}

// Each fault of the bench, struck on a run of the simulated board, and what
// `info` finds of it from the names and the samples alone; a healthy run
// shows none, and a converter that stopped is no restart.
TEST_F(HostileHostTest, InfoNamesWhatEachFaultLeaves) {
  const auto info = [&](const std::string& fault, const std::string& daq = "") {
    const std::string root = Path(fault.empty() ? "healthy" : fault);
    toolprocess::Run(Daq() + "--device-root " + Quote(root) +
                         " --start-time 2026-06-01T12:00:00Z " + "--time-zone UTC0" +
                         (fault.empty() ? "" : " --fault " + fault) + daq,
                     scratch.path());
    const Outcome o = toolprocess::Run(Data() + "info --time-zone UTC0 --config " +
                                           Quote(root + "/FlashFX Disk/Pelmok/PelmokConfig.txt") +
                                           " " + Quote(root + "/Hard Disk/Pelmok/Data"),
                                       scratch.path());
    EXPECT_EQ(o.status, 0) << fault << o.err;
    return o.out;
  };
  const auto has = [](const std::string& out, const std::string& text) {
    EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
  };
  std::string out = info("");
  has(out, "samples      0 records show a fault");
  EXPECT_EQ(out.find("ends in zeros"), std::string::npos) << out;
  EXPECT_EQ(out.find("converter "), std::string::npos) << out;

  // 800 frames a second where the configuration says 1000: a write every
  // 2.5 s, named to the second, where the cadence is 2 s. So many writes
  // that a healthy run's names would put the mean within 1/19 s of it.
  const std::string slow = "converter-ppm@-200000";
  scratch.MakeDirs(slow + "/FlashFX Disk/Pelmok");
  scratch.WriteFile(slow + "/FlashFX Disk/Pelmok/PelmokConfig.txt",
                    "Sample rate:1000\r\nNumber of samples per record:1000\r\nNumber of records "
                    "per Flash Disk file:2\r\nNumber of Flash Disk files per USB write:20\r\n"
                    "Seconds to sleep between acquisitions:1\r\n");
  out = info(slow, " --signal counter --frame-rate 1000");
  has(out, "gaps         0 with writes missing, 0 where a run ended");
  has(out,
      "converter    the run from 126-151-12-0-2: 20 writes 2.526 s apart on average, not the "
      "configuration's 2.000 s (names to the second allow 0.053 s): records take 1.263 s, not "
      "1.000 s: the converter's clock makes about 792 Hz, not 1000 Hz (-208333 ppm)");
  const Outcome report = toolprocess::Run(
      Data() + "report --time-zone UTC0 -o " + Quote(Path("slow.html")) + " --config " +
          Quote(Path(slow + "/FlashFX Disk/Pelmok/PelmokConfig.txt")) + " " +
          Quote(Path(slow + "/Hard Disk/Pelmok/Data")),
      scratch.path());
  EXPECT_EQ(report.status, 0) << report.err;
  has(scratch.ReadFile("slow.html"), "converter clock: the run from 126-151-12-0-2: 20 writes");

  out = info("stall@150000");
  has(out, "runs         1\n");
  has(out, "gaps         0 with writes missing, 0 where a run ended");
  has(out, "126-151-12-0-1#0: the last 50000 of 100000 words zero: a read timed out after 50000");
  has(out, "126-151-12-0-2#0: all 100000 words zero: every read timed out");
  EXPECT_EQ(out.find("earlier run"), std::string::npos) << out;

  out = info("power-loss@2:1234");
  has(out, "126-151-12-0-4      #0/1    308         from the name; short: a write cut short");
  has(out, "torn tail of 2 bytes (power lost during a write)");

  out = info("disk-full@500000");
  has(out, "126-151-12-0-4      #0/1    25000       from the name; short: a write cut short");

  out = info("rtc-reset");
  has(out,
      "100-0-0-0-2         #0/1    100000      from the name; named by a clock at its epoch, "
      "2000-01-01");

  out = info("overrun@150000:100");
  has(out,
      "126-151-12-0-1#0: 1 jump the signal's course does not predict, the first at sample 50017");
  has(out, "samples      1 records show a fault");

  out = info("stuck-bit@5:1");
  for (const char* name : {"126-151-12-0-2#0", "126-151-12-0-4#0", "126-151-12-0-6#0"})
    has(out, std::string(name) + ": bit 5 stuck at 1");
  EXPECT_EQ(out.find("stuck at 0"), std::string::npos) << out;
}

}  // namespace
