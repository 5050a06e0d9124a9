// Shared fixtures: a simulated board attached to the host platform, the
// debug console captured, bus faults turned into test failures, and a scratch
// device folder.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "platform/host/session.h"
#include "sim/board.h"
#include "sim/bus.h"

namespace testsupport {

// A fresh folder under the system's temporary directory, removed with its
// contents when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  // Creates folders below the root ("Hard Disk/Pelmok/Data").
  void MakeDirs(const std::string& relative) const;
  void WriteFile(const std::string& relative, const std::string& content) const;
  std::string ReadFile(const std::string& relative) const;
  std::vector<std::string> List(const std::string& relative) const;  // sorted names

 private:
  std::string path_;
};

// A 16-bit stereo 48 kHz PCM WAV of `dataBytes` of samples, all zero and
// sparse on disk (fast to make however large); the samples start at byte
// kSparseWavHeader, for tests that write a few frames into it.
constexpr size_t kSparseWavHeader = 44;
void WriteSparseWav(const std::string& path, uint32_t dataBytes);

// Every access in order.
class RecordingTrace : public sim::TraceSink {
 public:
  void Record(const sim::TraceRecord& access) override { records.push_back(access); }
  std::vector<sim::TraceRecord> records;
};

// Faults recorded while a FaultCatcher lives (instead of aborting).
class FaultCatcher {
 public:
  FaultCatcher();
  ~FaultCatcher();
  static std::vector<std::string>& faults();
  // The faults so far, cleared.
  static std::vector<std::string> Take();
};

// A board attached to the platform, console captured, faults fail the test,
// the kernel's reservations and the long-lived windows reset around each test.
class BoardTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Tests that need other timing or signals override this.
  virtual sim::BoardOptions Options() const;

  sim::Board& board() { return *board_; }
  sim::Bus& bus() { return board_->bus(); }

  std::string console;
  ScratchDir device;

 private:
  std::unique_ptr<FaultCatcher> catcher_;
  std::unique_ptr<sim::Board> board_;
  std::unique_ptr<host::Session> session_;
};

}  // namespace testsupport
