// The deployment file as an engineer uses it: a simulated run, `pelmok-data
// init` beside its device folder, then pelmok-data reading the data with the
// zone and configuration the file holds, for the folder and for a file given
// alone, and refusing a flag that contradicts it or a file it cannot take,
// naming the line.
#include <gtest/gtest.h>

#include <string>

#include "tests/test_support.h"
#include "tests/tools/tool_process.h"

namespace {

using toolprocess::Outcome;
using toolprocess::Quote;

class DeploymentFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch.MakeDirs("device/FlashFX Disk/Pelmok");
    scratch.MakeDirs("device/Hard Disk/Pelmok/Data");
    scratch.WriteFile(
        "device/FlashFX Disk/Pelmok/PelmokConfig.txt",
        "Sample rate:1000\r\nNumber of samples per record:1000\r\nNumber of hydrophones:1\r\n"
        "Number of records per Flash Disk file:1\r\nNumber of Flash Disk files per USB write:3\r\n"
        "Seconds to sleep between acquisitions:1\r\n");
    // Summer time in Berlin: the names carry 14:00:0N for writes at 12:00:0NZ.
    const Outcome o = toolprocess::Run(
        std::string("TZ=UTC0 ") + PELMOK_DAQ_LAUNCHER + " " + Quote(PELMOK_DAQ_PATH) +
            " --bare --device-root " + Quote(Path("device")) +
            " --frame-rate 1000 --start-time 2026-07-01T12:00:00Z --time-zone Europe/Berlin",
        scratch.path());
    ASSERT_EQ(o.status, 0) << o.err;
  }
  std::string Path(const std::string& relative) const { return scratch.path() + "/" + relative; }
  std::string Data() const { return Path("device/Hard Disk/Pelmok/Data"); }
  // pelmok-data with TZ=UTC0: a zone the deployment does not have.
  Outcome Tool(const std::string& args) const {
    return toolprocess::Run("TZ=UTC0 timeout 60 " + Quote(PELMOK_DATA_PATH) + " " + args,
                            scratch.path());
  }
  testsupport::ScratchDir scratch;
};

TEST_F(DeploymentFileTest, InitWritesItAndEveryCommandBelowReadsTheDataWithIt) {
  const std::string config = Path("device/FlashFX Disk/Pelmok/PelmokConfig.txt");
  Outcome o =
      Tool("init --time-zone Europe/Berlin --config " + Quote(config) +
           " --site 'North buoy' --latitude 54.18 --sensitivity -170 " + Quote(Path("device")));
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string written = scratch.ReadFile("device/deployment.toml");
  EXPECT_NE(written.find("time_zone = \"Europe/Berlin\""), std::string::npos) << written;
  EXPECT_NE(written.find("name = \"North buoy\""), std::string::npos) << written;
  EXPECT_NE(written.find("latitude = 54.18"), std::string::npos) << written;
  EXPECT_NE(written.find("# longitude = "), std::string::npos) << written;
  EXPECT_NE(written.find("# [[clock_check]]"), std::string::npos) << written;
  EXPECT_EQ(Tool("init " + Quote(Path("device"))).status, 2) << "an existing file is not replaced";

  // Found two folders above the data, for the folder and for one file alone:
  // the writes at their true UTC seconds, the rate from its configuration.
  const std::string first = Data() + "/126-181-14-0-1";
  for (const std::string& input : {Data(), first}) {
    o = Tool("info --csv " + Quote(input));
    ASSERT_EQ(o.status, 0) << input << ": " << o.err;
    EXPECT_NE(o.out.find("2026-07-01T12:00:01Z"), std::string::npos) << input << ": " << o.out;
    EXPECT_EQ(o.out.find("2026-07-01T14:00:01Z"), std::string::npos) << input << ": " << o.out;
  }
  o = Tool("info " + Quote(Data()));
  EXPECT_NE(o.out.find("1000 Hz"), std::string::npos) << o.out;

  // A flag that says otherwise is an error naming the file; one that agrees is not.
  o = Tool("info --time-zone UTC0 " + Quote(Data()));
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(toolprocess::Lines(o.err), 1u) << o.err;
  EXPECT_NE(o.err.find(Path("device/deployment.toml")), std::string::npos) << o.err;
  EXPECT_EQ(Tool("info --time-zone CET-1CEST,M3.5.0,M10.5.0/3 " + Quote(Data())).status, 0);

  // --deployment names a file anywhere; what it cannot take is named by its line.
  const struct {
    const char* text;
    const char* where;
  } bad[] = {
      {"[board]\ntime_zone = \"Europe/Berlin\"\n\n[site]\nelevation_m = 3\n", "other.toml:5"},
      {"[site]\nlatitude = \"north\"\n", "other.toml:2"},
      {"[board]\ntime_zone = \"Mars/Olympus\"\n", "other.toml:2"},
      {"[[clock_check]]\nboard = \"2026-10-20T12:00:00Z\"\n", "other.toml:1"},
      {"[site\n", "other.toml:1"},
  };
  for (const auto& b : bad) {
    scratch.WriteFile("other.toml", b.text);
    o = Tool("info --deployment " + Quote(Path("other.toml")) + " " + Quote(Data()));
    EXPECT_EQ(o.status, 2) << b.text;
    EXPECT_EQ(toolprocess::Lines(o.err), 1u) << o.err;
    EXPECT_NE(o.err.find(b.where), std::string::npos) << b.text << o.err;
  }
  scratch.WriteFile("other.toml", "[board]\ntime_zone = \"UTC0\"\n");
  o = Tool("info --csv --deployment " + Quote(Path("other.toml")) + " " + Quote(Data()));
  EXPECT_NE(o.out.find("2026-07-01T14:00:01Z"), std::string::npos) << o.err;
}

}  // namespace
