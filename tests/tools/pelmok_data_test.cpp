// pelmok-data on files of known content, its exports read back by libsndfile
// and by sox, and its pictures.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hardware/sample_values.h"
#include "tests/test_support.h"
#include "tests/tools/tool_process.h"
#include "tools/formats/data_file.h"

namespace {

using toolprocess::Outcome;
using toolprocess::Quote;

std::string LittleEndian(const std::vector<uint32_t>& words) {
  std::string bytes;
  for (uint32_t w : words)
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<char>(w >> (8 * b)));
  return bytes;
}

uint32_t Word(int32_t code) { return static_cast<uint32_t>(code) & 0xFFFFFFu; }

class PelmokDataTest : public ::testing::Test {
 protected:
  Outcome Data(const std::string& args) {
    return toolprocess::Run(Quote(PELMOK_DATA_PATH) + " " + args, scratch.path());
  }
  std::string Path(const std::string& relative) const { return scratch.path() + "/" + relative; }
  void WriteWords(const std::string& relative, const std::vector<uint32_t>& words) {
    scratch.WriteFile(relative, LittleEndian(words));
  }
  // The text after "  <label>" on the first line carrying it.
  static std::string Field(const std::string& out, const std::string& label) {
    const size_t at = out.find("  " + label + " ");
    if (at == std::string::npos) return "";
    const size_t start = out.find_first_not_of(' ', at + 2 + label.size());
    return out.substr(start, out.find('\n', start) - start);
  }
  testsupport::ScratchDir scratch;
};

TEST(DataFileName, DayOfYearAgreesWithTheCLibrary) {
  // timegm normalises day-of-month overflow into months: an independent calendar.
  for (int year : {2008, 2009, 2000, 2100}) {
    const int days = (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 366 : 365;
    for (int yday = 0; yday < days; ++yday) {
      datatools::DataFileName t;
      const std::string name = std::to_string(year - 1900) + "-" + std::to_string(yday) + "-7-8-9";
      ASSERT_TRUE(datatools::DataFileName::Parse(name, &t)) << name;
      std::tm tm{};
      tm.tm_year = year - 1900;
      tm.tm_mday = yday + 1;
      tm.tm_hour = 7;
      tm.tm_min = 8;
      tm.tm_sec = 9;
      const time_t seconds = timegm(&tm);
      EXPECT_EQ(t.month, tm.tm_mon + 1) << name;
      EXPECT_EQ(t.day, tm.tm_mday) << name;
      EXPECT_EQ(t.LocalSeconds(), static_cast<int64_t>(seconds)) << name;
    }
    datatools::DataFileName past;
    EXPECT_FALSE(datatools::DataFileName::Parse(
        std::to_string(year - 1900) + "-" + std::to_string(days) + "-0-0-0", &past));
  }
  datatools::DataFileName t;
  ASSERT_TRUE(datatools::DataFileName::Parse("109-77-14-5-9", &t));
  EXPECT_EQ(t.Text(), "2009-03-19 14:05:09");
  for (const char* bad : {"109-77-14-5", "109-77-14-5-9.wav", "109-77-24-5-9", "109-77-14-60-9",
                          "-109-77-14-5-9", "109--77-14-5-9", "x", ""})
    EXPECT_FALSE(datatools::DataFileName::Parse(bad, &t)) << bad;
}

TEST_F(PelmokDataTest, InfoOnACounterAndATornTail) {
  std::vector<uint32_t> counter(1000);
  for (uint32_t k = 0; k < counter.size(); ++k) counter[k] = k;
  std::string bytes = LittleEndian(counter) + std::string("\x01\x02", 2);  // a write cut short
  scratch.WriteFile("109-77-14-5-9", bytes);
  const Outcome o =
      Data("info --rate 1000 --samples-per-record 500 " + Quote(Path("109-77-14-5-9")));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Field(o.out, "time").rfind("2009-03-19 14:05:09", 0), 0u) << o.out;
  EXPECT_EQ(Field(o.out, "size"), "4002 bytes, 1000 words, 1000 samples");
  EXPECT_EQ(Field(o.out, "duration"), "1.000000 s at 1000 Hz");
  EXPECT_EQ(Field(o.out, "records").rfind("2 of 500 samples", 0), 0u) << o.out;
  EXPECT_EQ(Field(o.out, "torn tail").rfind("2 bytes", 0), 0u) << o.out;
  EXPECT_EQ(Field(o.out, "minimum").rfind("0 codes", 0), 0u);
  EXPECT_EQ(Field(o.out, "maximum").rfind("999 codes", 0), 0u);
  EXPECT_EQ(Field(o.out, "mean").rfind("499.5 codes", 0), 0u) << o.out;
  // RMS of 0..999: sqrt(sum k^2 / 1000).
  char rms[32];
  std::snprintf(rms, sizeof rms, "%.1f codes", std::sqrt(999.0 * 1000 * 1999 / 6 / 1000));
  EXPECT_EQ(Field(o.out, "RMS").rfind(rms, 0), 0u) << o.out;
  EXPECT_EQ(Field(o.out, "zero runs").rfind("0 runs", 0), 0u);
  // 0..999 reach bit 9 and no higher: bits 10 to 23 stuck at 0.
  std::string stuck;
  for (int b = 23; b >= 10; --b) stuck += std::to_string(b) + "=0 ";
  stuck.pop_back();
  EXPECT_EQ(Field(o.out, "stuck bits"), stuck);
  EXPECT_NE(o.out.find(" 0:0.50"), std::string::npos) << o.out;
}

TEST_F(PelmokDataTest, ALeadingZeroIsReadAsDecimalNotOctal) {
  WriteWords("109-77-14-5-9", std::vector<uint32_t>(1000, 0));
  const Outcome o = Data("info --rate 01000 " + Quote(Path("109-77-14-5-9")));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Field(o.out, "duration"), "1.000000 s at 1000 Hz");
}

TEST_F(PelmokDataTest, InfoOnAFullScaleToneSilenceAndZeroRuns) {
  // A square-ish full-scale tone: the sine clipped at both rails.
  std::vector<uint32_t> tone(800);
  uint64_t positive = 0, negative = 0;
  for (size_t i = 0; i < tone.size(); ++i) {
    const double v = 1.5 * 8388608.0 * std::sin(2 * M_PI * i / 80);
    const int32_t code =
        static_cast<int32_t>(std::fmax(-8388608.0, std::fmin(8388607.0, std::round(v))));
    positive += code == 8388607;
    negative += code == -8388608;
    tone[i] = Word(code);
  }
  ASSERT_GT(positive, 0u);
  WriteWords("tone", tone);
  Outcome o = Data("info --rate 8000 " + Quote(Path("tone")));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Field(o.out, "time").rfind("none", 0), 0u);
  EXPECT_EQ(Field(o.out, "minimum"), "-8388608 codes  -2.500000 V");
  EXPECT_EQ(Field(o.out, "maximum"), "8388607 codes  +2.500000 V");
  EXPECT_EQ(Field(o.out, "full scale"), std::to_string(positive) + " samples at +8388607, " +
                                            std::to_string(negative) + " at -8388608");
  EXPECT_EQ(Field(o.out, "peak"), "0.00 dBFS");
  EXPECT_EQ(Field(o.out, "stuck bits"), "none");

  WriteWords("silence", std::vector<uint32_t>(300, 0));
  o = Data("info " + Quote(Path("silence")));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Field(o.out, "duration"), "0.003000 s at 100000 Hz (assumed; give --rate or --config)");
  EXPECT_EQ(Field(o.out, "RMS"), "0.0 codes  0.000000 V  -inf dBFS (re full-scale code)");
  EXPECT_EQ(Field(o.out, "zero runs"), "1 runs of 16 or more zero words, 300 samples, longest 300");

  // Zero runs of 20 and 100 between samples, one of 15 too short to count, and
  // words the converter cannot have made.
  std::vector<uint32_t> gaps;
  for (int run : {20, 15, 100}) {
    gaps.insert(gaps.end(), 5, Word(-3));
    gaps.insert(gaps.end(), run, 0);
  }
  gaps.push_back(0xFF000001u);
  gaps.push_back(0x01000000u);
  WriteWords("gaps", gaps);
  o = Data("info --rate 1000 " + Quote(Path("gaps")));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Field(o.out, "zero runs"), "2 runs of 16 or more zero words, 120 samples, longest 100");
  EXPECT_EQ(Field(o.out, "high bits").rfind("2 words", 0), 0u);
}

TEST_F(PelmokDataTest, InfoOnAFolderListsFilesInTimeOrderWithGaps) {
  scratch.MakeDirs("data");
  WriteWords("data/109-77-14-5-9", std::vector<uint32_t>(1000, 1));
  WriteWords("data/109-77-14-5-19", std::vector<uint32_t>(1000, 2));
  WriteWords("data/109-77-14-5-11", std::vector<uint32_t>(2000, 3));
  scratch.WriteFile("data/notes.txt", "not data");
  const Outcome o = Data("info --rate 1000 " + Quote(Path("data")));
  ASSERT_EQ(o.status, 0) << o.err;
  const size_t first = o.out.find("109-77-14-5-9 "), second = o.out.find("109-77-14-5-11 "),
               third = o.out.find("109-77-14-5-19 ");
  ASSERT_NE(third, std::string::npos) << o.out;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_EQ(o.out.find("notes.txt"), std::string::npos);
  // 14:05:11 holds 2 s, so it started at 14:05:09, right at the first write:
  // closer than the 8 s between the other writes, with no time left unrecorded.
  EXPECT_NE(o.out.find("2.000 s between writes, 0.000 s without samples"), std::string::npos)
      << o.out;
  EXPECT_EQ(Field(o.out, "total"),
            "3 records, 3 files, 16000 bytes, 4000 samples, 4.000 s at 1000 Hz");

  // A write every 10 s with every fifth missing, 100 times over, then two
  // missing once and a restart: the like gaps are said once, with their
  // count and the first few, where the first falls; the others each.
  scratch.MakeDirs("like");
  const auto write = [&](time_t t) {
    struct tm tm;
    gmtime_r(&t, &tm);
    WriteWords("like/" + std::to_string(tm.tm_year) + "-" + std::to_string(tm.tm_yday) + "-" +
                   std::to_string(tm.tm_hour) + "-" + std::to_string(tm.tm_min) + "-" +
                   std::to_string(tm.tm_sec),
               std::vector<uint32_t>(1000, 7));
  };
  const time_t start = 1237471509;  // 2009-03-19T14:05:09Z
  for (int k = 0; k < 500; ++k)
    if (k % 5 != 4) write(start + 10 * k);
  write(start + 5010);
  write(start + 5043);
  const Outcome like =
      Data("info --time-zone UTC0 --rate 1000 --samples-per-record 1000 " + Quote(Path("like")));
  ASSERT_EQ(like.status, 0) << like.err;
  std::vector<std::string> gaps;
  std::istringstream lines(like.out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("  -- gap", 0) == 0) gaps.push_back(line.substr(line.find_first_not_of(' ', 8)));
  ASSERT_EQ(gaps.size(), 3u) << like.out;
  EXPECT_EQ(gaps[0],
            "1 write missing: 20.000 s between writes, 19.000 s without samples; 99 gaps alike, "
            "not listed one by one: before 109-77-14-5-59#0, before 109-77-14-6-49#0, "
            "before 109-77-14-7-39#0, ...");
  EXPECT_EQ(gaps[1], "2 writes missing: 30.000 s between writes, 29.000 s without samples");
  EXPECT_EQ(gaps[2],
            "the run stopped; a new run starts: 33.000 s between writes, 32.000 s "
            "without samples");
  EXPECT_EQ(Field(like.out, "gaps"), "100 with writes missing, 1 where a run ended");
}

TEST_F(PelmokDataTest, BadArgumentsAndUnreadableFilesGetOneLineAndStatus2) {
  WriteWords("109-77-14-5-9", {1, 2, 3});
  const std::string file = Quote(Path("109-77-14-5-9"));
  const std::vector<std::string> cases = {
      std::string(""), "frobnicate", "info", "info --rate 0 " + file, "info --rate x " + file,
      // Numbers are decimal: hexadecimal is refused, in every numeric option.
      "info --rate 0x10 " + file, "info --rate 100 --samples-per-record 0x10 " + file,
      "plot --rate 100 --fft 0x400 -o " + Quote(Path("a.png")) + " " + file,
      "plot --rate 100 --width 0x100 -o " + Quote(Path("a.png")) + " " + file,
      "plot --rate 100 --db-max 0x10 -o " + Quote(Path("a.png")) + " " + file,
      "info " + Quote(Path("missing")), "export -o " + Quote(Path("a.wav")) + " " + file,
      "export --rate 100 " + file, "export --rate 100 -o " + Quote(Path("a.ogg")) + " " + file,
      "export --rate 100 --format mp3 -o " + Quote(Path("a.wav")) + " " + file,
      "export --rate 100 -o " + Quote(Path("nodir/a.wav")) + " " + file,
      "plot --rate 100 -o " + Quote(Path("a.png")) + " " + Quote(Path("missing")),
      "export --config " + Quote(Path("missing.txt")) + " -o " + Quote(Path("a.wav")) + " " + file};
  for (const std::string& args : cases) {
    const Outcome o = Data(args);
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_EQ(toolprocess::Lines(o.err), 1u) << args << ": " << o.err;
    EXPECT_EQ(o.err.rfind("pelmok-data: ", 0), 0u) << args << ": " << o.err;
  }
  EXPECT_EQ(Data("--help").status, 0);
}

TEST_F(PelmokDataTest, FifosDevicesAndFoldersAreRefusedWithoutHanging) {
  // A FIFO nobody writes would block an open or a read for ever, /dev/zero
  // never ends one; each is refused in one line. `timeout` bounds every run,
  // so a hang fails the test as status 124 instead of stopping it.
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  scratch.MakeDirs("folder");
  WriteWords("109-77-14-5-9", {1, 2, 3});
  const std::string file = Quote(Path("109-77-14-5-9"));
  for (const std::string& input : {Path("fifo"), std::string("/dev/zero"), Path("folder")}) {
    const std::vector<std::string> cases = {
        "export --rate 100 -o " + Quote(Path("a.wav")) + " " + Quote(input),
        "export --config " + Quote(input) + " -o " + Quote(Path("a.wav")) + " " + file,
        "info --config " + Quote(input) + " " + file};
    for (const std::string& args : cases) {
      const Outcome o =
          toolprocess::Run("timeout 20 " + Quote(PELMOK_DATA_PATH) + " " + args, scratch.path());
      EXPECT_EQ(o.status, 2) << args << ": " << o.err;
      EXPECT_EQ(toolprocess::Lines(o.err), 1u) << args << ": " << o.err;
      EXPECT_NE(o.err.find(input), std::string::npos) << args << ": " << o.err;
    }
  }
  // A folder given to info is a folder of data files, not an error.
  EXPECT_EQ(Data("info " + Quote(Path("folder"))).status, 0);
}

TEST_F(PelmokDataTest, AConfigurationThatCannotBeStagedIsSaidToBeSoAndLeavesNothing) {
  // A scratch volume that fills up part-way: writes of regular files beyond
  // the size limit fail (SIGXFSZ ignored, so they fail with EFBIG). The
  // configuration does set a rate; the failure must not read as if it did not.
  WriteWords("109-77-14-5-9", {1, 2, 3});
  scratch.WriteFile("config.txt", "Sample rate:1000\r\n" + std::string(64 * 1024, '\n'));
  scratch.MakeDirs("tmp");
  const std::string command = "TMPDIR=" + Quote(Path("tmp")) +
                              " sh -c \"trap '' XFSZ; ulimit -f 16; exec " +
                              Quote(PELMOK_DATA_PATH) + " info --config " +
                              Quote(Path("config.txt")) + " " + Quote(Path("109-77-14-5-9")) + "\"";
  const Outcome o = toolprocess::Run(command, scratch.path());
  EXPECT_EQ(o.status, 2) << o.err;
  EXPECT_EQ(toolprocess::Lines(o.err), 1u) << o.err;
  EXPECT_NE(o.err.find("cannot stage " + Path("config.txt")), std::string::npos) << o.err;
  EXPECT_EQ(o.err.find("Sample rate"), std::string::npos) << o.err;
  EXPECT_EQ(scratch.ReadFile("tool.stdout"), "");
  // The same with room to stage it: the rate is the file's.
  const Outcome ok =
      Data("info --config " + Quote(Path("config.txt")) + " " + Quote(Path("109-77-14-5-9")));
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find("at 1000 Hz"), std::string::npos) << ok.out;
  // Nothing of the failed staging is left in the scratch folder.
  EXPECT_EQ(toolprocess::Run("ls -A " + Quote(Path("tmp")), scratch.path()).out, "");
}

// Codes from both rails, around zero, and random; two words carry bits above
// bit 23, which the export leaves out.
std::vector<uint32_t> KnownWords() {
  std::vector<uint32_t> words = {
      0, 1, Word(-1), 0x7FFFFF, 0x800000, 0x400000, Word(-12345), 0xFF800000u, 0x01000005u};
  std::mt19937 random(7);
  for (int i = 0; i < 3000; ++i) words.push_back(random() & 0xFFFFFFu);
  return words;
}

std::vector<int32_t> ReadWithLibsndfile(const std::string& path, SF_INFO* info) {
  std::memset(info, 0, sizeof *info);
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, info);
  EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
  if (f == nullptr) return {};
  std::vector<int32_t> frames(static_cast<size_t>(info->frames));
  EXPECT_EQ(sf_read_int(f, frames.data(), info->frames), info->frames);
  sf_close(f);
  for (int32_t& v : frames) v >>= 8;  // libsndfile gives 24-bit PCM at 32-bit scale
  return frames;
}

// sox's own reading of the samples, as 32-bit little-endian: the code in the top 24 bits.
std::vector<int32_t> ReadWithSox(const std::string& path, const std::string& scratch) {
  const Outcome o = toolprocess::Run(
      "sox " + Quote(path) + " -t raw -e signed -b 32 -L " + Quote(scratch + "/sox.raw"), scratch);
  EXPECT_EQ(o.status, 0) << o.err;
  const std::string bytes = toolprocess::Slurp(scratch + "/sox.raw");
  std::vector<int32_t> codes(bytes.size() / 4);
  std::memcpy(codes.data(), bytes.data(), codes.size() * 4);
  for (int32_t& v : codes) v >>= 8;
  return codes;
}

// The bext chunk found by walking the RIFF chunks, without libsndfile.
std::string BextChunk(const std::string& wav) {
  for (size_t at = 12; at + 8 <= wav.size();) {
    uint32_t size;
    std::memcpy(&size, wav.data() + at + 4, 4);
    if (wav.compare(at, 4, "bext") == 0) return wav.substr(at + 8, size);
    at += 8 + size + (size & 1);
  }
  return "";
}

TEST_F(PelmokDataTest, ExportedWavAndFlacHoldExactlyTheCodesAndTheTime) {
  const std::vector<uint32_t> words = KnownWords();
  std::vector<int32_t> codes;
  for (uint32_t w : words) codes.push_back(datatools::CodeOf(w));
  WriteWords("109-77-14-5-9", words);
  const std::string input = Quote(Path("109-77-14-5-9"));
  ASSERT_EQ(
      Data("export --rate 48000 --time-zone UTC0 -o " + Quote(Path("a.wav")) + " " + input).status,
      0);
  ASSERT_EQ(Data("export --rate 48000 --time-zone UTC0 --format flac -o " + Quote(Path("a.audio")) +
                 " " + input)
                .status,
            0);

  for (const char* name : {"a.wav", "a.audio"}) {
    SF_INFO info;
    EXPECT_EQ(ReadWithLibsndfile(Path(name), &info), codes) << name;
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24) << name;
    EXPECT_EQ(ReadWithSox(Path(name), scratch.path()), codes) << name;
    const Outcome i = toolprocess::Run("sox --i " + Quote(Path(name)), scratch.path());
    EXPECT_NE(i.out.find("Sample Rate    : 48000"), std::string::npos) << i.out;
    EXPECT_NE(i.out.find("Precision      : 24-bit"), std::string::npos) << i.out;
  }

  // WAV: the broadcast-WAV origination date and time, by libsndfile and by the bytes.
  SNDFILE* f = nullptr;
  SF_INFO info{};
  f = sf_open(Path("a.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  SF_BROADCAST_INFO bext{};
  ASSERT_EQ(sf_command(f, SFC_GET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
  sf_close(f);
  EXPECT_EQ(std::string(bext.origination_date, 10), "2009-03-19");
  // The UTC start, the write less the record's length, to the second.
  EXPECT_EQ(std::string(bext.origination_time, 8), "14:05:08");
  // Samples since UTC midnight to the start.
  const uint64_t reference =
      (static_cast<uint64_t>(bext.time_reference_high) << 32) | bext.time_reference_low;
  EXPECT_EQ(reference, (14 * 3600 + 5 * 60 + 9) * 48000ull - words.size());
  const std::string description(bext.description);
  EXPECT_NE(description.find("times are UTC"), std::string::npos) << description;
  const std::string chunk = BextChunk(scratch.ReadFile("a.wav"));
  ASSERT_GE(chunk.size(), 338u);
  EXPECT_EQ(chunk.substr(320, 18), "2009-03-1914:05:08");

  // FLAC: the Vorbis comments, as sox shows them.
  const Outcome tags = toolprocess::Run("sox --i -a " + Quote(Path("a.audio")), scratch.path());
  EXPECT_NE(tags.out.find("DATE=2009-03-19T14:05:08."), std::string::npos) << tags.out;
  EXPECT_NE(tags.out.find("times are UTC"), std::string::npos) << tags.out;
}

TEST_F(PelmokDataTest, CsvHoldsIndexTimeCodeAndVolts) {
  WriteWords("f", {0x7FFFFF, 0x800000, 5});
  scratch.WriteFile("config.txt", "Sample rate:4\r\n");
  ASSERT_EQ(Data("export --config " + Quote(Path("config.txt")) + " -o " + Quote(Path("f.csv")) +
                 " " + Quote(Path("f")))
                .status,
            0);
  char volts[64];
  std::snprintf(volts, sizeof volts, "%.10g", AdcCodeToVolts(5));
  EXPECT_EQ(scratch.ReadFile("f.csv"),
            "index,time_s,code,volts\r\n0,0.000000000,8388607,2.5\r\n"
            "1,0.250000000,-8388608,-2.500000298\r\n2,0.500000000,5," +
                std::string(volts) + "\r\n");
}

// Width and height from the PNG's IHDR chunk.
bool PngSize(const std::string& png, uint32_t* width, uint32_t* height) {
  if (png.size() < 24 || png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
      png.compare(12, 4, "IHDR") != 0)
    return false;
  auto be32 = [&](size_t at) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24) |
           (static_cast<uint8_t>(png[at + 1]) << 16) | (static_cast<uint8_t>(png[at + 2]) << 8) |
           static_cast<uint8_t>(png[at + 3]);
  };
  *width = be32(16);
  *height = be32(20);
  return true;
}

TEST_F(PelmokDataTest, PlotWritesPngsOfTheRequestedSize) {
  scratch.MakeDirs("data");
  std::vector<uint32_t> tone(20000);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] =
        Word(static_cast<int32_t>(std::lround(1e6 * std::sin(2 * M_PI * 1000 * i / 20000.0))));
  WriteWords("data/109-77-14-5-9", tone);
  WriteWords("data/109-77-14-5-30", tone);
  WriteWords("data/109-77-14-5-31", std::vector<uint32_t>(10));  // shorter than a frame
  uint32_t width = 0, height = 0;
  Outcome o = Data("plot --rate 20000 -o " + Quote(Path("file.png")) + " " +
                   Quote(Path("data/109-77-14-5-9")));
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_TRUE(PngSize(scratch.ReadFile("file.png"), &width, &height));
  EXPECT_EQ(width, 1200u);
  EXPECT_EQ(height, 800u);
  o = Data("plot --rate 20000 --width 640 --height 480 -o " + Quote(Path("folder.png")) + " " +
           Quote(Path("data")));
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_TRUE(PngSize(scratch.ReadFile("folder.png"), &width, &height));
  EXPECT_EQ(width, 640u);
  EXPECT_EQ(height, 480u);
  o = Data("plot --rate 20000 -o " + Quote(Path("short.png")) + " " +
           Quote(Path("data/109-77-14-5-31")));
  EXPECT_EQ(o.status, 0) << o.err;
}

TEST_F(PelmokDataTest, NoOutputReplacesARecordingAnInputOrAnExistingFile) {
  // Each of these once replaced a data file or an export without a word.
  scratch.MakeDirs("data");
  const std::vector<uint32_t> words = KnownWords();
  WriteWords("data/109-77-14-5-9", words);
  WriteWords("data/109-77-14-5-10", words);
  const std::string recording = LittleEndian(words);
  ASSERT_EQ(symlink("data/109-77-14-5-9", Path("input-link.wav").c_str()), 0);
  ASSERT_EQ(link(Path("data/109-77-14-5-9").c_str(), Path("input-hard.csv").c_str()), 0);
  const std::string in = Quote(Path("data/109-77-14-5-9"));
  for (const char* force : {"", "--force "}) {
    const std::vector<std::string> cases = {
        std::string("plot ") + force + "--rate 100 -o " + Quote(Path("data/109-77-14-5-10")) + " " +
            in,
        std::string("plot ") + force + "--rate 100 -o " + Quote(Path("data/109-77-14-5-10")) + " " +
            Quote(Path("data")),
        std::string("export ") + force + "--rate 100 --format csv -o " + in + " " + in,
        std::string("export ") + force + "--rate 100 -o " + Quote(Path("input-link.wav")) + " " +
            in,
        std::string("export ") + force + "--rate 100 -o " + Quote(Path("input-hard.csv")) + " " +
            in,
        std::string("export ") + force + "--rate 100 --format flac -o " +
            Quote(Path("data/1-2-3-4-5")) + " " + in};
    for (const std::string& args : cases) {
      const Outcome o = Data(args);
      EXPECT_EQ(o.status, 2) << args;
      EXPECT_EQ(toolprocess::Lines(o.err), 1u) << args << ": " << o.err;
    }
  }
  EXPECT_EQ(scratch.ReadFile("data/109-77-14-5-9"), recording);
  EXPECT_EQ(scratch.ReadFile("data/109-77-14-5-10"), recording);
  EXPECT_EQ(scratch.List("data"), (std::vector<std::string>{"109-77-14-5-10", "109-77-14-5-9"}));

  // An earlier export or picture is kept unless --force says otherwise.
  for (const char* name : {"a.wav", "a.flac", "a.csv", "a.png"}) {
    scratch.WriteFile(name, "earlier");
    const std::string command = std::string(name).substr(2) == "png" ? "plot" : "export";
    Outcome o = Data(command + " --rate 100 -o " + Quote(Path(name)) + " " + in);
    EXPECT_EQ(o.status, 2) << name;
    EXPECT_NE(o.err.find("exists (give --force to replace it)"), std::string::npos) << o.err;
    EXPECT_EQ(scratch.ReadFile(name), "earlier");
    o = Data(command + " --force --rate 100 -o " + Quote(Path(name)) + " " + in);
    EXPECT_EQ(o.status, 0) << name << ": " << o.err;
    EXPECT_GT(scratch.ReadFile(name).size(), 100u) << name;
  }
  // An extension that says another format than --format is an error.
  const Outcome o = Data("export --rate 100 --format flac -o " + Quote(Path("b.wav")) + " " + in);
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("a .wav name for flac output"), std::string::npos) << o.err;
}

TEST_F(PelmokDataTest, AFailedExportOrPlotLeavesNoOutputAndSaysSo) {
  // A file size limit below the output's size stands for a volume that fills
  // part-way; the shell ignores SIGXFSZ so the writes fail (EFBIG).
  WriteWords("109-77-14-5-9", KnownWords());
  const std::string in = Quote(Path("109-77-14-5-9"));
  for (const char* name : {"a.wav", "a.flac", "a.csv", "a.png"}) {
    const std::string command = std::string(name).substr(2) == "png" ? "plot" : "export";
    const Outcome o =
        toolprocess::Run("trap '' XFSZ; ulimit -f 4; " + Quote(PELMOK_DATA_PATH) + " " + command +
                             " --rate 100 -o " + Quote(Path(name)) + " " + in,
                         scratch.path());
    EXPECT_EQ(o.status, 2) << name;
    EXPECT_EQ(toolprocess::Lines(o.err), 1u) << name << ": " << o.err;
    EXPECT_NE(o.err.find(Path(name)), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("nothing written"), std::string::npos) << o.err;
  }
  EXPECT_EQ(scratch.List(""),
            (std::vector<std::string>{"109-77-14-5-9", "tool.stderr", "tool.stdout"}));
}

TEST_F(PelmokDataTest, AnOutputThatIsAFifoDeviceOrFolderIsRefusedWithoutHanging) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  scratch.MakeDirs("folder");
  WriteWords("109-77-14-5-9", {1, 2, 3});
  const std::string in = Quote(Path("109-77-14-5-9"));
  for (const std::string& out : {Path("fifo"), std::string("/dev/null"), Path("folder")}) {
    for (const std::string command : {"export --format csv", "plot"}) {
      // A folder is where export writes a file per record; only a one-file output refuses it.
      if (out == Path("folder") && command != "plot") continue;
      const Outcome o = toolprocess::Run("timeout 20 " + Quote(PELMOK_DATA_PATH) + " " + command +
                                             " --force --rate 100 -o " + Quote(out) + " " + in,
                                         scratch.path());
      EXPECT_EQ(o.status, 2) << command << " " << out << ": " << o.err;
      EXPECT_EQ(toolprocess::Lines(o.err), 1u) << o.err;
      EXPECT_NE(o.err.find(out + ": is a"), std::string::npos) << o.err;
    }
  }
  EXPECT_TRUE(scratch.List("folder").empty());
}

}  // namespace
