// pelmok-daq --check on configuration files with each kind of flaw: the line
// it names, what it says the board reads, and the exit status.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

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
    scratch.WriteFile("device/FlashFX Disk/Pelmok/PelmokConfig.txt", config);
    return toolprocess::Run(std::string(PELMOK_DAQ_LAUNCHER) + " " + Quote(PELMOK_DAQ_PATH) +
                                " --check --device-root " + Quote(scratch.path() + "/device") + " " + args,
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
  EXPECT_NE(o.out.find("run time          6.000 s of reading at 100000 Hz"), std::string::npos);
  EXPECT_NE(o.out.find("0 warnings"), std::string::npos);
  // The frame rate sets the run's length.
  EXPECT_NE(Check(kClean, "--frame-rate 50000").out.find("run time          12.000 s"), std::string::npos);
  // Nothing ran and nothing was laid out.
  EXPECT_TRUE(scratch.List("device").size() == 1u);
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

TEST(EditDistance, CountsSingleEdits) {
  EXPECT_EQ(daq::EditDistance("Sample rate", "Sample rate"), 0u);
  EXPECT_EQ(daq::EditDistance("Sampel rate", "Sample rate"), 2u);
  EXPECT_EQ(daq::EditDistance("Sample rat", "Sample rate"), 1u);
  EXPECT_EQ(daq::EditDistance("", "abc"), 3u);
  EXPECT_EQ(daq::EditDistance("kitten", "sitting"), 3u);
}

}  // namespace
