#include "tests/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "hardware/register_windows.h"
#include "sim/fault.h"

namespace testsupport {
namespace {

void RemoveTree(const std::string& path) {
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string child = path + "/" + name;
      struct stat st;
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        RemoveTree(child);
      } else {
        unlink(child.c_str());
      }
    }
    closedir(d);
  }
  rmdir(path.c_str());
}

void RecordFault(const std::string& message) { FaultCatcher::faults().push_back(message); }

}  // namespace

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmok-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = buf.data();
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

void ScratchDir::MakeDirs(const std::string& relative) const {
  std::string p = path_;
  std::stringstream parts(relative);
  std::string part;
  while (std::getline(parts, part, '/')) {
    p += "/" + part;
    mkdir(p.c_str(), 0755);
  }
}

void ScratchDir::WriteFile(const std::string& relative, const std::string& content) const {
  std::ofstream out(path_ + "/" + relative, std::ios::binary);
  out << content;
}

std::string ScratchDir::ReadFile(const std::string& relative) const {
  std::ifstream in(path_ + "/" + relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ScratchDir::List(const std::string& relative) const {
  std::vector<std::string> names;
  if (DIR* d = opendir((path_ + "/" + relative).c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WriteSparseWav(const std::string& path, uint32_t dataBytes) {
  auto le = [](std::string* s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s->push_back(static_cast<char>(v >> (8 * i)));
  };
  std::string header = "RIFF";
  le(&header, 36 + dataBytes, 4);
  header += "WAVEfmt ";
  le(&header, 16, 4);
  le(&header, 1, 2);          // integer PCM
  le(&header, 2, 2);          // channels
  le(&header, 48000, 4);      // frames a second
  le(&header, 48000 * 4, 4);  // bytes a second
  le(&header, 4, 2);          // bytes a frame
  le(&header, 16, 2);         // bits a sample
  header += "data";
  le(&header, dataBytes, 4);
  ASSERT_EQ(header.size(), kSparseWavHeader);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(write(fd, header.data(), header.size()), static_cast<ssize_t>(header.size()));
  EXPECT_EQ(ftruncate(fd, static_cast<off_t>(kSparseWavHeader + dataBytes)), 0);
  close(fd);
}

FaultCatcher::FaultCatcher() {
  faults().clear();
  sim::SetFaultHandler(RecordFault);
}

FaultCatcher::~FaultCatcher() { sim::SetFaultHandler(nullptr); }

std::vector<std::string>& FaultCatcher::faults() {
  static std::vector<std::string> recorded;
  return recorded;
}

std::vector<std::string> FaultCatcher::Take() {
  std::vector<std::string> taken;
  taken.swap(faults());
  return taken;
}

sim::BoardOptions BoardTest::Options() const {
  sim::BoardOptions o;
  o.clockEpoch = 1237471509;  // 2009-03-19 14:05:09 UTC
  return o;
}

void BoardTest::SetUp() {
  host::ResetKernel();
  catcher_ = std::make_unique<FaultCatcher>();
  board_ = std::make_unique<sim::Board>(Options());
  host::SessionOptions options;
  options.deviceRoot = device.path();
  options.console = &console;
  session_ = std::make_unique<host::Session>(*board_, options);
  GpioRegPtr = SspRegPtr = v_pClkRegs = nullptr;
}

void BoardTest::TearDown() {
  session_.reset();
  for (const std::string& f : FaultCatcher::faults()) ADD_FAILURE() << "bus fault: " << f;
  catcher_.reset();
  board_.reset();
  host::ResetKernel();
}

}  // namespace testsupport
