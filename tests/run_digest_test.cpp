// Whole runs reduced to digests: the console text, every data file (name and
// bytes, in name order) and the full register-access sequence (virtual time,
// read or write, physical address, value). The simulated board may be
// restructured or made faster, but these runs must stay byte for byte what
// they were; a deliberate change of what a run does updates its digest here,
// in the same commit, saying why.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>

#include "acquisition/acquisition_run.h"
#include "board/low_power.h"
#include "platform/host/loader.h"
#include "sim/signal.h"
#include "tests/test_support.h"

namespace {

// FNV-1a, 64 bits: simple, stable across machines and builds.
class Fnv1a64 {
 public:
  void Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
      hash_ ^= p[i];
      hash_ *= 0x100000001B3ull;
    }
  }
  // Little-endian, whatever the host.
  void Word(uint64_t value, unsigned bytes) {
    for (unsigned i = 0; i < bytes; ++i) {
      const unsigned char b = static_cast<unsigned char>(value >> (8 * i));
      Bytes(&b, 1);
    }
  }
  void Text(const std::string& s) {
    Word(s.size(), 8);
    Bytes(s.data(), s.size());
  }
  uint64_t Value() const { return hash_; }

 private:
  uint64_t hash_ = 0xCBF29CE484222325ull;
};

class DigestTrace : public sim::TraceSink {
 public:
  void Record(const sim::TraceRecord& access) override {
    hash.Word(access.time, 8);
    hash.Word(access.write ? 1 : 0, 1);
    hash.Word(access.address, 4);
    hash.Word(access.value, 4);
    ++count;
  }
  Fnv1a64 hash;
  uint64_t count = 0;
};

struct Digests {
  uint64_t console;
  uint64_t data;
  uint64_t accesses;
  uint64_t accessCount;
};

struct RunCase {
  const char* name;
  const char* signal;
  uint32_t frameRateHz;
  bool lowPower;
  Digests expected;
};

// Recorded on the board as it stood before its register blocks became tables.
const RunCase kRuns[] = {
    {"tone_100kHz",
     "tone",
     100000,
     false,
     {0x2e78db0c1e5e1829ull, 0x3bac7328b07c3528ull, 0x18994e5a40623e2cull, 1600072}},
    {"counter_100kHz",
     "counter",
     100000,
     false,
     {0x2e78db0c1e5e1829ull, 0xbb4767deedb0d128ull, 0x20a373f71c104bc8ull, 1600072}},
    {"tone_48kHz",
     "tone",
     48000,
     false,
     {0x2e78db0c1e5e1829ull, 0x1bf8c867d4e222c9ull, 0xb38d4a22bf154850ull, 3333406}},
    {"counter_48kHz",
     "counter",
     48000,
     false,
     {0x2e78db0c1e5e1829ull, 0x145c0692f72dacb0ull, 0x0db426385db85b0bull, 3333406}},
    // No data directory is written; its digest is that of nothing.
    // The codec powerdown register is read as the manual prescribes (a read,
    // SDONE, a second read for valid data) with CDONE and SDONE cleared before
    // each codec access; the write waits for the second read's SDONE, as the
    // link carries one codec access at a time (the console is unchanged).
    {"low_power_mode_1",
     "tone",
     100000,
     true,
     {0x59438d0e515ebf52ull, 0xcbf29ce484222325ull, 0x4e9d2c60ab189a56ull, 266}},
};

// 2 file iterations of 2 records of 20000 samples, both written.
const char kConfiguration[] =
    "Sample rate:100000\r\n"
    "Number of samples per record:20000\r\n"
    "Number of hydrophones:4\r\n"
    "Number of records per Flash Disk file:2\r\n"
    "Number of Flash Disk files per USB write:2\r\n"
    "Seconds to sleep between acquisitions:1\r\n";

void PrintTo(const RunCase& run, std::ostream* os) { *os << run.name; }

class RunDigestTest : public testsupport::BoardTest, public ::testing::WithParamInterface<RunCase> {
 protected:
  sim::BoardOptions Options() const override {
    sim::BoardOptions o = BoardTest::Options();
    o.frameRateHz = GetParam().frameRateHz;
    o.signal = sim::MakeSignal(GetParam().signal, o.frameRateHz, nullptr);
    return o;
  }
  void SetUp() override {
    BoardTest::SetUp();
    const char* tz = std::getenv("TZ");
    savedTz_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
    setenv("TZ", "UTC0", 1);
    tzset();
    device.MakeDirs("FlashFX Disk/Pelmok");
    device.MakeDirs("Hard Disk/Pelmok/Data");
    device.WriteFile("FlashFX Disk/Pelmok/PelmokConfig.txt", kConfiguration);
    host::SetLibraryDirectory(std::string(PELMOK_STANDIN_DIR) + "/full");
  }
  void TearDown() override {
    host::SetLibraryDirectory(std::string());
    if (hadTz_) {
      setenv("TZ", savedTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
    BoardTest::TearDown();
  }

  // Untraced, the bus takes its inline fast path; the trace's digests stay 0.
  Digests Run(bool traced = true) {
    DigestTrace trace;
    if (traced) bus().SetTrace(&trace);
    testing::internal::CaptureStdout();
    if (GetParam().lowPower) {
      EnterLowPower(1);
    } else {
      wchar_t commandLine[] = L"";
      WinMain(nullptr, nullptr, commandLine, 0);
    }
    Fnv1a64 consoleHash;
    consoleHash.Text(testing::internal::GetCapturedStdout());
    consoleHash.Text(console);
    bus().SetTrace(nullptr);
    Fnv1a64 dataHash;
    for (const std::string& name : device.List("Hard Disk/Pelmok/Data")) {
      dataHash.Text(name);
      dataHash.Text(device.ReadFile("Hard Disk/Pelmok/Data/" + name));
    }
    return Digests{consoleHash.Value(), dataHash.Value(), trace.hash.Value(), trace.count};
  }

 private:
  std::string savedTz_;
  bool hadTz_ = false;
};

TEST_P(RunDigestTest, RunIsByteForByteWhatItWas) {
  const Digests got = Run();
  const Digests& want = GetParam().expected;
  char row[128];
  std::snprintf(
      row, sizeof row, "this run now gives {0x%016llxull, 0x%016llxull, 0x%016llxull, %llu}",
      static_cast<unsigned long long>(got.console), static_cast<unsigned long long>(got.data),
      static_cast<unsigned long long>(got.accesses),
      static_cast<unsigned long long>(got.accessCount));
  EXPECT_EQ(got.console, want.console) << "console text (banner and debug console); " << row;
  EXPECT_EQ(got.data, want.data) << "data file names and bytes; " << row;
  EXPECT_EQ(got.accessCount, want.accessCount) << "number of register accesses; " << row;
  EXPECT_EQ(got.accesses, want.accesses)
      << "register accesses (time, R/W, address, value); " << row;
}

// The same runs with no trace sink: console and data files must be those of
// the traced run, so the fast path cannot drift from the traced one.
TEST_P(RunDigestTest, UntracedRunWritesWhatTheTracedRunWrites) {
  const Digests got = Run(false);
  const Digests& want = GetParam().expected;
  EXPECT_EQ(got.console, want.console) << "console text (banner and debug console), untraced";
  EXPECT_EQ(got.data, want.data) << "data file names and bytes, untraced";
}

INSTANTIATE_TEST_SUITE_P(FixedRuns, RunDigestTest, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<RunCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
