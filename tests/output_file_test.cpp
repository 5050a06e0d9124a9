// The one way the host tools write their outputs: whole or not at all, never
// over an input or a data file, never into a FIFO, device or folder unless the
// output streams.
#include "tools/common/output_file.h"
#include "tools/formats/data_file_name.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using datatools::OutputFile;
using datatools::OutputPolicy;

class OutputFileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch.path() + "/" + name; }
  // Opens, writes `text` and commits; the error (empty on success).
  std::string WriteWhole(const std::string& name, const std::string& text,
                         const OutputPolicy& policy) {
    OutputFile out;
    std::string error;
    // A failed write shows at Commit, as it does for a tool that writes on.
    if (out.Open(Path(name), policy, &error)) {
      out.Write(text.data(), text.size());
      out.Commit(&error);
    }
    return error;
  }
  testsupport::ScratchDir scratch;
};

OutputPolicy Force(bool force, std::vector<std::string> inputs = {}) {
  OutputPolicy p;
  p.force = force;
  p.inputs = std::move(inputs);
  return p;
}

TEST_F(OutputFileTest, TheOutputTakesItsNameOnlyWhenCommitted) {
  // Unnamed (O_TMPFILE) until then, or, as on a file system without it,
  // under a hidden name of its own.
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary" : "unnamed temporary");
    datatools::NameEveryTemporary(named);
    OutputFile out;
    std::string error;
    ASSERT_TRUE(out.Open(Path("a.csv"), Force(named), &error)) << error;
    ASSERT_TRUE(out.Write("1,2\n", 4));
    const std::vector<std::string> during = scratch.List("");
    ASSERT_EQ(during.size(), named ? 2u : 0u);
    if (named) {
      EXPECT_EQ(during[0].find(".a.csv."), 0u) << during[0];
    }
    ASSERT_TRUE(out.Commit(&error)) << error;
    EXPECT_EQ(scratch.ReadFile("a.csv"), "1,2\n");
    EXPECT_EQ(scratch.List(""), std::vector<std::string>{"a.csv"});
  }
  datatools::NameEveryTemporary(false);
  std::string error;
  struct stat st;
  ASSERT_EQ(stat(Path("a.csv").c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

  // One that is abandoned leaves nothing, and an existing file as it was.
  {
    OutputFile dropped;
    ASSERT_TRUE(dropped.Open(Path("b.csv"), OutputPolicy{}, &error));
    dropped.Write("x", 1);
    EXPECT_EQ(dropped.NotWritten(), "nothing written to " + Path("b.csv"));
    OutputFile replacing;
    ASSERT_TRUE(replacing.Open(Path("a.csv"), Force(true), &error));
    replacing.Write("y", 1);
    EXPECT_EQ(replacing.NotWritten(), Path("a.csv") + " left as it was");
  }
  EXPECT_EQ(scratch.List(""), std::vector<std::string>{"a.csv"});
  EXPECT_EQ(scratch.ReadFile("a.csv"), "1,2\n");
}

TEST_F(OutputFileTest, ExistingFilesInputsAndDataFilesAreKept) {
  scratch.WriteFile("old.wav", "old");
  scratch.WriteFile("in", "input");
  scratch.MakeDirs("Data");
  scratch.WriteFile("Data/109-77-14-5-9", "data");
  ASSERT_EQ(link(Path("in").c_str(), Path("hard.csv").c_str()), 0);
  ASSERT_EQ(symlink("in", Path("soft.csv").c_str()), 0);
  ASSERT_EQ(symlink("Data/109-77-14-5-9", Path("link-to-data.png").c_str()), 0);

  EXPECT_EQ(WriteWhole("old.wav", "new", Force(false)),
            Path("old.wav") + ": exists (give --force to replace it)");
  EXPECT_EQ(scratch.ReadFile("old.wav"), "old");
  EXPECT_EQ(WriteWhole("old.wav", "new", Force(true)), "");
  EXPECT_EQ(scratch.ReadFile("old.wav"), "new");

  // An input, by any name, and a data file are never replaced, even with force.
  for (const char* name : {"in", "hard.csv", "soft.csv"}) {
    const std::string error = WriteWhole(name, "lost", Force(true, {Path("in")}));
    EXPECT_NE(error.find("is an input of this command"), std::string::npos)
        << name << ": " << error;
  }
  // A folder input stands for the files in it.
  scratch.WriteFile("Data/notes.txt", "notes");
  EXPECT_NE(WriteWhole("Data/notes.txt", "lost", Force(true, {Path("Data")})).find("is an input"),
            std::string::npos);
  for (const char* name : {"Data/109-77-14-5-9", "link-to-data.png", "Data/109-77-14-5-10"}) {
    const std::string error = WriteWhole(name, "lost", Force(true));
    EXPECT_NE(error.find("is named as a data file"), std::string::npos) << name << ": " << error;
  }
  EXPECT_EQ(scratch.ReadFile("in"), "input");
  EXPECT_EQ(scratch.ReadFile("Data/109-77-14-5-9"), "data");
  EXPECT_EQ(scratch.ReadFile("Data/notes.txt"), "notes");
  EXPECT_EQ(scratch.List("Data"), (std::vector<std::string>{"109-77-14-5-9", "notes.txt"}));

  // A link to an ordinary file is written through: the link stays a link.
  ASSERT_EQ(symlink("old.wav", Path("via.wav").c_str()), 0);
  EXPECT_EQ(WriteWhole("via.wav", "through", Force(true)), "");
  EXPECT_EQ(scratch.ReadFile("old.wav"), "through");
  struct stat st;
  ASSERT_EQ(lstat(Path("via.wav").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(OutputFileTest, FifosDevicesAndFoldersAreRefusedUnlessTheOutputStreams) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  scratch.MakeDirs("folder");
  ASSERT_EQ(symlink("nowhere", Path("dangling").c_str()), 0);
  const struct {
    std::string path, reason;
  } cases[] = {{Path("fifo"), "is a FIFO"},
               {"/dev/null", "is a device"},
               {Path("folder"), "is a folder"},
               {Path("folder/"), "is a folder"},
               {Path("dangling"), "is a link to nothing"},
               {Path("none/a.wav"), "No such file"}};
  for (const auto& c : cases) {
    OutputFile out;
    std::string error;
    EXPECT_FALSE(out.Open(c.path, Force(true), &error)) << c.path;
    EXPECT_EQ(error.find(c.path + ": "), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  EXPECT_EQ(scratch.List("folder"), std::vector<std::string>{});

  // A streaming output: a FIFO with no reader is waited on for a bounded while, then refused.
  OutputPolicy stream;
  stream.stream = true;
  OutputFile out;
  std::string error;
  EXPECT_FALSE(out.Open(Path("fifo"), stream, &error));
  EXPECT_EQ(error, Path("fifo") + ": a FIFO with no reader (none came in 2 s)");
  // /dev/full takes the open and refuses the bytes: Commit says so.
  ASSERT_TRUE(out.Open("/dev/full", stream, &error)) << error;
  EXPECT_TRUE(out.Streaming());
  out.Write("lost", 4);
  EXPECT_FALSE(out.Commit(&error));
  EXPECT_EQ(error, "/dev/full: No space left on device");
}

TEST_F(OutputFileTest, AReaderThatGoesAwayIsAFailedWriteNotSigpipe) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  close(pipeFds[0]);
  const std::string path = "/dev/fd/" + std::to_string(pipeFds[1]);
  OutputPolicy stream;
  stream.stream = true;
  OutputFile out;
  std::string error;
  ASSERT_TRUE(out.Open(path, stream, &error)) << error;
  const std::string block(1 << 16, 'x');
  out.Write(block.data(), block.size());
  EXPECT_FALSE(out.Commit(&error));
  EXPECT_EQ(error, path + ": Broken pipe");
  close(pipeFds[1]);
}

TEST_F(OutputFileTest, AFullVolumeLeavesNothingHalfWritten) {
  // A file size limit stands for a volume that fills part-way: the first
  // 4 KB fit, the rest fail (EFBIG).
  scratch.WriteFile("kept.csv", "the earlier export");
  const std::string big(1 << 20, 'x');
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit full = saved;
  full.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
  const std::string fresh = WriteWhole("new.csv", big, Force(false));
  const std::string replaced = WriteWhole("kept.csv", big, Force(true));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(fresh, Path("new.csv") + ": File too large (nothing written)");
  EXPECT_EQ(replaced, Path("kept.csv") + ": File too large (left as it was)");
  EXPECT_EQ(scratch.List(""), std::vector<std::string>{"kept.csv"});
  EXPECT_EQ(scratch.ReadFile("kept.csv"), "the earlier export");
}

// A tool killed while it writes leaves no temporary file, unnamed or named,
// and no scratch folder; the signal still ends it. With --force the earlier
// file stays as it was.
TEST_F(OutputFileTest, ASignalLeavesNoTemporaryBehind) {
  scratch.WriteFile("kept.csv", "the earlier export");
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    for (bool named : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(signal)) + (named ? ", named" : ", unnamed"));
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        datatools::NameEveryTemporary(named);
        std::string error;
        mkdir(Path("scratch").c_str(), 0700);
        datatools::ScratchName folder(Path("scratch"));
        OutputFile fresh, replacing, inside;
        const std::string block(1 << 16, 'x');
        if (!fresh.Open(Path("new.csv"), Force(false), &error) ||
            !replacing.Open(Path("kept.csv"), Force(true), &error) ||
            !inside.Open(Path("scratch/a.wav"), Force(false), &error) ||
            !fresh.Write(block.data(), block.size()) ||
            !replacing.Write(block.data(), block.size()) ||
            !inside.Write(block.data(), block.size()))
          _exit(10);
        std::fflush(fresh.Stream());
        raise(signal);
        _exit(11);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
      EXPECT_EQ(WTERMSIG(status), signal);
      EXPECT_EQ(scratch.List(""), std::vector<std::string>{"kept.csv"});
      EXPECT_EQ(scratch.ReadFile("kept.csv"), "the earlier export");
    }
  }
}

TEST(OutputExtension, AKnownExtensionMustSayTheFormat) {
  std::string error;
  EXPECT_TRUE(datatools::CheckOutputExtension("a.wav", "wav", &error));
  EXPECT_TRUE(datatools::CheckOutputExtension("dir.v2/a", "flac", &error));
  EXPECT_TRUE(datatools::CheckOutputExtension("a.audio", "flac", &error));
  EXPECT_TRUE(datatools::CheckOutputExtension("a.HTM", "html", &error));
  EXPECT_FALSE(datatools::CheckOutputExtension("out/a.WAV", "flac", &error));
  EXPECT_EQ(error, "out/a.WAV: a .wav name for flac output");
  EXPECT_FALSE(datatools::CheckOutputExtension("a.csv", "png", &error));
}

TEST(OutputExtension, DataFileNamesAreFiveDecimalFields) {
  for (const char* name : {"109-77-14-5-9", "0-0-0-0-0", "126-364-23-59-60"})
    EXPECT_TRUE(datatools::DataFileName::Is(name)) << name;
  for (const char* name : {"109-77-14-5", "109-77-14-5-9-1", "109-77-14-5-9.wav", "-77-14-5-9-1",
                           "109-77-14-5-", "a-b-c-d-e", ""})
    EXPECT_FALSE(datatools::DataFileName::Is(name)) << name;
}

}  // namespace
