// pelmok-daq --check on configuration files with each kind of flaw: the line
// it names, what it says the board reads, and the exit status.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tools/tool_process.h"
#include "tools/pelmok-daq/configuration_check.h"

namespace {

using toolprocess::Outcome;
using toolprocess::Quote;

const char kClean[] =
    "Sample rate:100000\r\n"
    "Number of samples per record:100000\r\n"
    "Number of hydrophones:4\r\n"
    "Number of records per Flash Disk file:2\r\n"
    "Number of Flash Disk files per USB write:3\r\n"
    "Seconds to sleep between acquisitions:1\r\n";

class CheckTest : public ::testing::Test {
 protected:
  Outcome Check(const std::string& config, const std::string& args = "") {
    scratch.MakeDirs("device/FlashFX Disk/Pelmok");
    scratch.MakeDirs("device/Hard Disk/Pelmok/Data");
    scratch.WriteFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt", config);
    return Daq("--check " + args);
  }
  // pelmok-daq on the device as it stands.
  Outcome Daq(const std::string& args) {
    return toolprocess::Run("TZ=UTC0 " + std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) +
                                " --device-root " + Quote(scratch.path() + "/device") + " " + args,
                            scratch.path());
  }
  testsupport::ScratchDir scratch;
};

TEST_F(CheckTest, ACleanFileSetsAllSixAndExitsZero) {
  const Outcome o = Check(kClean);
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_EQ(o.err, "");
  EXPECT_NE(o.out.find("none: every line is read as written"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Number of Flash Disk files per USB write   3 (line 5)"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("records read      6 of 100000 samples, 600000 samples"), std::string::npos);
  EXPECT_NE(o.out.find("samples kept      300000 (the last record of each iteration), dropped 300000"),
            std::string::npos);
  EXPECT_NE(o.out.find("data files        3, 1200000 bytes in all"), std::string::npos);
  EXPECT_NE(o.out.find("record buffer     400000 bytes, 0.6% of the board's 64 MB"), std::string::npos);
  EXPECT_NE(o.out.find("run time          6.000 s simulated"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("0 warnings"), std::string::npos);
  // The frame rate sets the run's length.
  EXPECT_NE(Check(kClean, "--frame-rate 50000").out.find("run time          12.000 s simulated"), std::string::npos);
  // Nothing ran and nothing was laid out.
  EXPECT_EQ(scratch.List("device").size(), 2u);
  EXPECT_TRUE(scratch.List("device/Hard Disk/Pelmok/Data").empty());
}

TEST_F(CheckTest, EachFlawIsNamedOnItsLineWithWhatTheBoardReads) {
  struct Case {
    const char* line;      // put on line 3, after two clean lines
    const char* expected;  // the warning for line 3
  };
  const Case cases[] = {
      {"number of hydrophones:4\n", "line 3: key 'number of hydrophones' differs from \"Number of hydrophones\" by case"},
      {"Number of  hydrophones:4\n", "differs from \"Number of hydrophones\" by spacing"},
      {"Number of hydrophone:4\n", "differs from \"Number of hydrophones\" by a small typo"},
      {"Nmuber of hydrophones:4\n", "by a small typo"},
      {"Number of hydrophones :4\n", "line 3: key 'Number of hydrophones ' differs from \"Number of hydrophones\" by a space before the colon: ignored"},
      {"Number of hydrophones:100000 Hz\n", "line 3: \"Number of hydrophones\" value '100000 Hz' is read as 100000"},
      {"Number of hydrophones:1,500\n", "value '1,500' is read as 1:"},
      {"Number of hydrophones:5e2\n", "value '5e2' is read as 5:"},
      {"Number of hydrophones:0x1F4\n", "value '0x1F4' is read as 0:"},
      {"Number of hydrophones:four\n", "value 'four' is read as 0: it does not start with a decimal number"},
      {"Number of hydrophones:\n", "line 3: \"Number of hydrophones\" has no value: read as 0"},
      {"Number of hydrophones:99999999999\n", "beyond the 32-bit range: clamped to 2147483647"},
      {"Number of hydrophones:-99999999999\n", "beyond the 32-bit range: clamped to -2147483648"},
      {"Number of hydrophones:4:30\n", "value '4:30' is read as 4"},
      {"Number of hydrophones 4\n", "line 3: 'Number of hydrophones 4' has no ':' after \"Number of hydrophones\""},
      {"# four hydrophones\n", "line 3: '# four hydrophones' has no ':' and no known key: ignored"},
      {"Gain:12\n", "line 3: key 'Gain' is none the board knows: ignored"},
      {"Number of hydrophones:4                                                    and a long note\n",
       "line 3: longer than 79 characters (90): the board reads it in 2 pieces; piece 1 "
       "'Number of hydrophones:4                         '... sets \"Number of hydrophones\" to 4; "
       "piece 2 'a long note' is ignored"},
  };
  for (const Case& c : cases) {
    const std::string config = std::string("Sample rate:1000\nNumber of samples per record:10\n") + c.line +
                               "Number of records per Flash Disk file:1\n"
                               "Number of Flash Disk files per USB write:1\n"
                               "Seconds to sleep between acquisitions:1\n";
    const Outcome o = Check(config);
    EXPECT_EQ(o.status, 1) << c.line << o.out;
    EXPECT_NE(o.out.find(c.expected), std::string::npos) << c.line << o.out;
    EXPECT_EQ(o.out.find("line 1:"), std::string::npos) << c.line << o.out;
    EXPECT_EQ(o.out.find("line 6:"), std::string::npos) << c.line << o.out;
  }
}

TEST_F(CheckTest, RepeatsEncodingsAndLineEnds) {
  Outcome o = Check(std::string(kClean) + "Number of hydrophones:8\r\n");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("line 7: \"Number of hydrophones\" is set on lines 3, 7: the last wins, 8"),
            std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Number of hydrophones                      8 (line 7)"), std::string::npos);

  o = Check("\xEF\xBB\xBF" + std::string(kClean));
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("line 1: the UTF-8 byte-order mark before \"Sample rate\" is part of the key"),
            std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Sample rate                                not set (0)"), std::string::npos);

  std::string utf16 = "\xFF\xFE";
  for (char c : std::string(kClean)) utf16 += std::string(1, c) + '\0';
  o = Check(utf16);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("line 1: the file is UTF-16 text"), std::string::npos) << o.out;

  std::string mac = kClean;
  for (size_t at; (at = mac.find("\r\n")) != std::string::npos;) mac.replace(at, 2, "\r");
  o = Check(mac);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("warning: the file has 6 lone carriage-return line ends"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("the board reads it in 3 pieces"), std::string::npos) << o.out;
}

TEST_F(CheckTest, ANulByteIsNamedOnItsLineAndLaterLinesKeepTheirNumbers) {
  const Outcome o = Check(std::string("Sample rate:1000\nNumber of samples per record:10\0junk\n", 54) +
                          "Number of records per Flash Disk file:1\nGain:12\n"
                          "Number of Flash Disk files per USB write:1\nSeconds to sleep between acquisitions:1\n");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("line 2: a NUL byte at character 32: the board's reader ends its piece there and skips "
                       "'\\x00junk'"),
            std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("UTF-16"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("line 4: key 'Gain' is none the board knows"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Number of samples per record               10 (line 2)"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Seconds to sleep between acquisitions      1 (line 6)"), std::string::npos) << o.out;
}

TEST_F(CheckTest, AHugeFileIsCheckedInBoundedMemory) {
  // 4 MB of newlines once took about 1 GB (250 bytes a byte); a line of 4 MB
  // and a key set a million times are held in bounded memory too.
  std::string config(4 << 20, '\n');
  config += std::string(4 << 20, 'x') + "\n";
  for (int i = 0; i < 1000000; ++i) config += "Sample rate:1\n";
  scratch.MakeDirs("device/FlashFX Disk/Pelmok");
  scratch.MakeDirs("device/Hard Disk/Pelmok/Data");
  scratch.WriteFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt", config);
  const std::string command = "exec " + std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) +
                              " --check --device-root " + Quote(scratch.path() + "/device") + " >" +
                              Quote(scratch.path() + "/out") + " 2>&1";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
  const std::string out = scratch.ReadFile("out");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << out.substr(0, 2000);
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer's shadow and quarantine hold freed memory; the bound is
  // looser there but still far below the whole file held as strings.
  const long boundKb = 700 * 1024;
#else
  const long boundKb = 200 * 1024;
#endif
  EXPECT_LT(usage.ru_maxrss, boundKb) << "KB at most";
  EXPECT_NE(out.find("line 4194305: longer than 79 characters (4194304): the board reads it in 53093 pieces"),
            std::string::npos) << out.substr(0, 2000);
  EXPECT_NE(out.find("\"Sample rate\" is set on lines 4194306, 4194307, 4194308"), std::string::npos);
  EXPECT_NE(out.find(", ... 5194305 (1000000 times): the last wins, 1"), std::string::npos);
  EXPECT_NE(out.find("Sample rate                                1 (line 5194305)"), std::string::npos);
  EXPECT_LT(out.size(), 1u << 20);
}

TEST_F(CheckTest, MissingKeysAndARunTheBoardCannotMake) {
  Outcome o = Check("Number of samples per record:20000000\nNumber of Flash Disk files per USB write:2\n"
                    "Seconds to sleep between acquisitions:1\n");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("Number of records per Flash Disk file      not set (0): no reads (warning)"),
            std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Sample rate                                not set (0): echoed only"), std::string::npos);
  EXPECT_NE(o.out.find("larger than the board's 64 MB"), std::string::npos);
  EXPECT_NE(o.out.find("each file gets a record of zeros"), std::string::npos);
  o = Check("Number of samples per record:-1\nNumber of records per Flash Disk file:1\n"
            "Number of Flash Disk files per USB write:1\nSeconds to sleep between acquisitions:0\n");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("asks for more memory than there is: nothing is read or written"), std::string::npos);
  EXPECT_EQ(Check("").status, 1);  // nothing set: nothing will run
}

TEST_F(CheckTest, AnUnreadableFileIsStatus2) {
  scratch.MakeDirs("device");
  const Outcome o = toolprocess::Run(std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) +
                                         " --check --device-root " + Quote(scratch.path() + "/device"),
                                     scratch.path());
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(toolprocess::Lines(o.err), 1u) << o.err;
  EXPECT_EQ(o.out, "");
}

TEST_F(CheckTest, ADeviceThatCannotTakeTheRunIsStatus2) {
  // No data folder: the board never makes one.
  Outcome o = Check(kClean);
  ASSERT_EQ(o.status, 0) << o.out;
  ASSERT_EQ(rmdir((scratch.path() + "/device/Hard Disk/Pelmok/Data").c_str()), 0);
  // Without --bare the run lays it out: the same verdict as the run's.
  o = Daq("--check");
  EXPECT_EQ(o.status, 0) << o.out;
  EXPECT_NE(o.out.find("/device/Hard Disk/Pelmok/Data is missing: the run lays it out"), std::string::npos)
      << o.out;
  o = Daq("--check --bare");
  EXPECT_EQ(o.status, 2) << o.out;
  EXPECT_NE(o.out.find("error: the data folder " + scratch.path() +
                       "/device/Hard Disk/Pelmok/Data is missing: the board never creates it"),
            std::string::npos) << o.out;

  // More bytes than the volume has free: the oracle is statvfs of the same folder.
  const std::string big = "Sample rate:100000\nNumber of samples per record:100000000\n"
                          "Number of records per Flash Disk file:1\n"
                          "Number of Flash Disk files per USB write:2000000000\n"
                          "Seconds to sleep between acquisitions:1\n";
  o = Check(big);
  struct statvfs vfs;
  ASSERT_EQ(statvfs((scratch.path() + "/device/Hard Disk/Pelmok/Data").c_str(), &vfs), 0);
  const unsigned long long needed = 2000000000ull * 100000000ull * 4ull;
  const unsigned long long free = static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize;
  ASSERT_GT(needed, free);
  EXPECT_EQ(o.status, 2) << o.out;
  // The host disk's free bytes run out long before the run's end (other
  // writers move the exact write, so only the limit is checked).
  EXPECT_NE(o.out.find("error: the volume limit binds at write "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("first limit       volume, at write "), std::string::npos) << o.out;

  // A "Sample rate" other than the converter's: a warning.
  o = Check(kClean, "--frame-rate 50000");
  EXPECT_EQ(o.status, 1) << o.out;
  EXPECT_NE(o.out.find("warning: \"Sample rate\" 100000 differs from the converter's 50000 Hz"),
            std::string::npos) << o.out;
}

// A run of 0.25 s writes across the change back from summer time in Berlin:
// four writes share each local second's name. --check foretells the names; the
// run then writes them, and its report lists the writes at their true times.
TEST_F(CheckTest, TheNamesCheckForetellsAreTheNamesTheRunWrites) {
  const std::string config = "Sample rate:1000\nNumber of samples per record:250\n"
                             "Number of records per Flash Disk file:1\n"
                             "Number of Flash Disk files per USB write:200\n"
                             "Seconds to sleep between acquisitions:1\n";
  const std::string clock = " --frame-rate 1000 --start-time 2026-10-25T00:59:30Z"
                            " --time-zone CET-1CEST,M3.5.0,M10.5.0/3";
  const Outcome check = Check(config, clock);
  EXPECT_EQ(check.status, 1) << check.out;
  EXPECT_NE(check.out.find("clock change      2026-10-25T01:00:00Z: +02:00 to +01:00"), std::string::npos)
      << check.out;
  // One finding for all the shared files: their count, and a few with their writes.
  const std::regex summary("warning: 200 writes go to ([0-9]+) files: writes in one second share a file, about 4 "
                           "a file; ([0-9]+) files hold more than one \\((.*)\\)\n");
  std::smatch foretold;
  ASSERT_TRUE(std::regex_search(check.out, foretold, summary)) << check.out;
  const size_t start = check.out.find("data files        ");
  ASSERT_NE(start, std::string::npos);
  const size_t names = std::stoul(check.out.substr(start + 18));
  EXPECT_EQ(names, std::stoul(foretold[1]));

  const Outcome run = Daq("--signal counter" + clock);
  ASSERT_EQ(run.status, 0) << run.out;
  const std::vector<std::string> written = scratch.List("device/Hard Disk/Pelmok/Data");
  EXPECT_EQ(names, written.size());
  // The files that hold more than one write: as many as foretold, and each
  // example holds the writes it was foretold.
  std::set<std::string> shared;
  for (const std::string& name : written)
    if (scratch.ReadFile("device/Hard Disk/Pelmok/Data/" + name).size() > 1000) shared.insert(name);
  EXPECT_EQ(shared.size(), std::stoul(foretold[2]));
  EXPECT_GE(shared.size(), 40u);
  const std::string examples = foretold[3];
  const std::regex example("([0-9-]+) \\(([0-9]+) writes\\)");
  size_t shown = 0;
  for (auto m = std::sregex_iterator(examples.begin(), examples.end(), example); m != std::sregex_iterator();
       ++m, ++shown)
    EXPECT_EQ(scratch.ReadFile("device/Hard Disk/Pelmok/Data/" + (*m)[1].str()).size(),
              std::stoul((*m)[2]) * 1000);
  EXPECT_EQ(shown, 3u) << examples;

  // The report: write k at the start + (k + 1) x 0.25 s, its local time and
  // offset by glibc's reading of the same rule, created once per name.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  const std::regex line("pelmok-daq: (\\S+)  (\\d\\d:\\d\\d:\\d\\d) (\\S+)  (wrote|appended to) \\S+ Disk/Pelmok/Data/"
                        "([0-9-]+)[ ,][^\n]*?(created|into an existing file \\(this run's[^)]*\\))\n");
  std::map<std::string, int> seen;
  int k = 0;
  for (auto m = std::sregex_iterator(run.out.begin(), run.out.end(), line); m != std::sregex_iterator(); ++m, ++k) {
    const time_t utc = 1792889970 + (k + 1) / 4;  // 2026-10-25T00:59:30Z
    struct tm u, local;
    gmtime_r(&utc, &u);
    localtime_r(&utc, &local);
    char utcText[32], localText[16], offset[8];
    std::strftime(utcText, sizeof utcText, "%Y-%m-%dT%H:%M:%SZ", &u);
    std::strftime(localText, sizeof localText, "%H:%M:%S", &local);
    std::strftime(offset, sizeof offset, "%z", &local);
    EXPECT_EQ((*m)[1], utcText) << k;
    EXPECT_EQ((*m)[2], localText) << k;
    EXPECT_EQ((*m)[3], std::string(offset).insert(3, ":")) << k;
    const std::string name = std::to_string(local.tm_year) + "-" + std::to_string(local.tm_yday) + "-" +
                             std::to_string(local.tm_hour) + "-" + std::to_string(local.tm_min) + "-" +
                             std::to_string(local.tm_sec);
    EXPECT_EQ((*m)[5], name) << k;
    const bool first = seen[name]++ == 0;
    EXPECT_EQ((*m)[4], first ? "wrote" : "appended to") << k;
    EXPECT_EQ((*m)[6] == "created", first) << k;
  }
  unsetenv("TZ");
  tzset();
  EXPECT_EQ(k, 200) << run.out;
  EXPECT_NE(run.out.find("the run crossed a clock change at 2026-10-25T01:00:00Z: +02:00 to +01:00"),
            std::string::npos) << run.out;

  // Checked again, every name exists already; a second run goes into earlier runs' files.
  const Outcome again = Check(config, clock);
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.out.find("warning: " + std::to_string(names) + " names of the run's " + std::to_string(names) +
                           " exist already in the data folder: their writes go behind what the files hold (" +
                           written.front() + ", "),
            std::string::npos)
      << again.out;
  const Outcome second = Daq("--signal counter" + clock);
  EXPECT_NE(second.out.find("into an existing file (an earlier run's)"), std::string::npos) << second.out;
  EXPECT_EQ(second.out.find("created"), std::string::npos);
}

TEST(EditDistance, CountsSingleEdits) {
  EXPECT_EQ(daq::EditDistance("Sample rate", "Sample rate"), 0u);
  EXPECT_EQ(daq::EditDistance("Sampel rate", "Sample rate"), 2u);
  EXPECT_EQ(daq::EditDistance("Sample rat", "Sample rate"), 1u);
  EXPECT_EQ(daq::EditDistance("", "abc"), 3u);
  EXPECT_EQ(daq::EditDistance("kitten", "sitting"), 3u);
}

}  // namespace

namespace {

// What --check foretells and what the run then does, on a table of
// configurations: writes whole, short and not written, bytes stored, records
// timed out, and the limit that binds first.
class PlanTest : public CheckTest {
 protected:
  struct Outcomes {
    std::string writes;  // "W: A whole, B short, C not written"
    uint64_t bytes = 0;
    std::string timedOut;
    std::string limit;
  };
  static std::string After(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return "(none)";
    const size_t from = at + key.size();
    return text.substr(from, text.find_first_of(";\n", from) - from);
  }
  static uint64_t Digits(const std::string& text) {
    uint64_t n = 0;
    for (char c : text)
      if (c >= '0' && c <= '9') n = n * 10 + static_cast<uint64_t>(c - '0');
    return n;
  }
  size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  uint64_t BytesInData() {
    uint64_t bytes = 0;
    for (const std::string& name : scratch.List("device/Hard Disk/Pelmok/Data"))
      bytes += scratch.ReadFile("device/Hard Disk/Pelmok/Data/" + name).size();
    return bytes;
  }
};

TEST_F(PlanTest, TheCheckForetellsWhatTheRunDoes) {
  const auto config = [](int samples, int records, int files, int sleep) {
    return "Sample rate:1000\nNumber of samples per record:" + std::to_string(samples) +
           "\nNumber of records per Flash Disk file:" + std::to_string(records) +
           "\nNumber of Flash Disk files per USB write:" + std::to_string(files) +
           "\nSeconds to sleep between acquisitions:" + std::to_string(sleep) + "\n";
  };
  struct Row {
    std::string name, config, args, limit;
    bool lost;
  };
  const std::vector<Row> rows = {
      {"plain", config(1000, 2, 3, 1), "--frame-rate 1000", "the run's own end, after 3 writes", false},
      {"records nothing", config(1000, 1, 2, 0), "--frame-rate 1000", "the run's own end, after 0 writes", false},
      {"reads time out", config(10, 2, 2, 1), "--frame-rate 5", "the run's own end, after 2 writes", true},
      {"full volume", config(100000, 1, 3, 1), "--frame-rate 100000 --volume-size 1048576", "volume, at write 3",
       true},
      {"no iteration", config(1000, 1, 0, 1), "--frame-rate 1000", "the run's own end, after 0 writes", false},
  };
  for (const Row& row : rows) {
    std::system(("rm -rf '" + scratch.path() + "/device'").c_str());
    const std::string args = row.args + " --bare --start-time 2026-12-09T00:00:00Z";
    const Outcome check = Check(row.config, args);
    EXPECT_NE(check.out.find("first limit       " + row.limit), std::string::npos) << row.name << check.out;
    const Outcome run = Daq(args);
    EXPECT_EQ(run.status, row.lost ? 3 : 0) << row.name << run.out;
    // Writes: the run's report lines against the check's counts.
    const std::string planned = After(check.out, "  writes            ");
    // A write that created its file, or went into one this run made.
    const size_t shortWrites = Count(run.out, "short: "), refused = Count(run.out, "  not written: ");
    const size_t whole = Count(run.out, " bytes): created") + Count(run.out, " bytes added (") - shortWrites;
    EXPECT_EQ(planned, std::to_string(whole + shortWrites + refused) + ": " + std::to_string(whole) + " whole, " +
                           std::to_string(shortWrites) + " short, " + std::to_string(refused) + " not written")
        << row.name << "\n" << check.out << run.out;
    EXPECT_EQ(Digits(After(check.out, "not written; ")), BytesInData()) << row.name;
    const std::string timedOut = After(run.out, "reads timed out in ");
    EXPECT_EQ(Digits(After(check.out, "  records timed out ")),
              timedOut == "(none)" ? 0 : Digits(timedOut.substr(0, timedOut.find(' '))))
        << row.name << check.out << run.out;
  }
}

}  // namespace
