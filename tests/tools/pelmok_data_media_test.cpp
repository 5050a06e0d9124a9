// pelmok-data export, plot and report on a simulated deployment whose true
// write instants the run knows (pelmok-daq --start-time and the cadence the
// configuration gives), at the end of the hour the change back from summer
// time repeats: names,
// bext and GUANO read back by readers made from the formats' descriptions,
// cue points by libsndfile, pictures by cairo, the report by headless
// Chromium.
#include <cairo.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tools/media_formats_test.h"
#include "tests/tools/tool_process.h"

namespace {

using toolprocess::Outcome;
using toolprocess::Quote;

constexpr int kRate = 8000;
// 2026-10-25T01:59:30Z: summer time in Europe ended at 01:00:00Z, and the
// names of 02:00 to 03:00 local time repeat until 02:00:00Z.
constexpr int64_t kStart = 1792893570;
constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr int kWrites = 12;

std::string Utc(int64_t t, bool basic) {
  const time_t s = static_cast<time_t>(t);
  std::tm tm{};
  gmtime_r(&s, &tm);
  char text[32];
  std::strftime(text, sizeof text, basic ? "%Y%m%dT%H%M%SZ" : "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// glibc's own reading of the zone rule: the local time with its offset.
std::string LocalWithOffset(int64_t t) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", kZone, 1);
  tzset();
  const time_t s = static_cast<time_t>(t);
  std::tm tm{};
  localtime_r(&s, &tm);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  char offset[40];
  const long minutes = tm.tm_gmtoff / 60;
  std::snprintf(offset, sizeof offset, "%c%02ld:%02ld", minutes < 0 ? '-' : '+',
                std::labs(minutes) / 60, std::labs(minutes) % 60);
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  return std::string(text) + offset;
}

std::vector<int32_t> DataFileCodes(const std::string& bytes, size_t firstWord, size_t words) {
  std::vector<int32_t> codes;
  for (size_t i = firstWord; i < firstWord + words; ++i) {
    uint32_t w = 0;
    std::memcpy(&w, bytes.data() + i * 4, 4);
    codes.push_back(static_cast<int32_t>((w & 0xFFFFFFu) ^ 0x800000u) - 0x800000);
  }
  return codes;
}

// One simulated deployment for the whole suite: 12 writes, 10 s apart, of
// 1 s records at 8 kHz (the default tone), from 01:59:30Z: the writes at
// 01:59:40Z and 01:59:50Z have repeated-hour names (told by the cadence and
// the writes after them), the rest names of one second each. A write lost
// among them is told too; one lost between the two passes of the repeated
// hour could not be (the writes after it could be a restart's in either pass).
class MediaTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new testsupport::ScratchDir;
    scratch_->MakeDirs("device/FlashFX Disk/Pelmok");
    scratch_->MakeDirs("device/Hard Disk/Pelmok/Data");
    scratch_->MakeDirs("device/Storage Card/Pelmok/Data");
    scratch_->WriteFile(
        "device/FlashFX Disk/Pelmok/PelmokConfig.txt",
        "Sample rate:8000\r\nNumber of samples per record:8000\r\nNumber of hydrophones:1\r\n"
        "Number of records per Flash Disk file:10\r\nNumber of Flash Disk files per USB "
        "write:12\r\n"
        "Seconds to sleep between acquisitions:1\r\n");
    const std::string command =
        std::string("TZ=UTC0 ") + PELMOK_DAQ_LAUNCHER + " " + Quote(PELMOK_DAQ_PATH) +
        " --bare --device-root " + Quote(scratch_->path() + "/device") +
        " --frame-rate 8000 --start-time " + Utc(kStart, false) + " --time-zone '" + kZone + "'";
    const Outcome o = toolprocess::Run(command, scratch_->path());
    ASSERT_EQ(o.status, 0) << o.err;
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }
  static std::string Data() { return scratch_->path() + "/device/Hard Disk/Pelmok/Data"; }
  static std::string Config() {
    return scratch_->path() + "/device/FlashFX Disk/Pelmok/PelmokConfig.txt";
  }
  std::string Deployment() const {
    return "--config " + Quote(Config()) + " --time-zone '" + std::string(kZone) + "' ";
  }
  Outcome Tool(const std::string& args) {
    return toolprocess::Run("timeout 120 " + Quote(PELMOK_DATA_PATH) + " " + args, local.path());
  }
  std::string Path(const std::string& relative) const { return local.path() + "/" + relative; }
  // The k-th write's true UTC second (k from 0) and its record's start.
  static int64_t Write(int k) { return kStart + 10 * (k + 1); }
  static int64_t Start(int k) { return Write(k) - 1; }

  static testsupport::ScratchDir* scratch_;
  testsupport::ScratchDir local;
};

testsupport::ScratchDir* MediaTest::scratch_ = nullptr;

TEST_F(MediaTest, ExportNamesEachRecordByItsUtcStartWithBextAndGuano) {
  local.MakeDirs("out");
  const Outcome o =
      Tool("export " + Deployment() + "-o " + Quote(Path("out")) + " " + Quote(Data()));
  ASSERT_EQ(o.status, 0) << o.err;
  std::set<std::string> expected;
  for (int k = 0; k < kWrites; ++k) expected.insert(Utc(Start(k), true) + ".wav");
  const std::vector<std::string> names = local.List("out");
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);

  const std::vector<std::string> dataFiles = scratch_->List("device/Hard Disk/Pelmok/Data");
  for (int k = 0; k < kWrites; ++k) {
    const std::string name = Utc(Start(k), true) + ".wav";
    SCOPED_TRACE(name);
    const std::vector<mediaformats::Chunk> chunks =
        mediaformats::RiffChunks(local.ReadFile("out/" + name));
    const mediaformats::Bext bext =
        mediaformats::ReadBext(mediaformats::FirstChunk(chunks, "bext"));
    ASSERT_TRUE(bext.valid);
    const std::string start = Utc(Start(k), false);
    EXPECT_EQ(bext.date, start.substr(0, 10));
    EXPECT_EQ(bext.time, start.substr(11, 8));
    EXPECT_EQ(bext.timeReference, static_cast<uint64_t>(Start(k) % 86400) * kRate);
    const mediaformats::Guano g = mediaformats::ReadGuano(mediaformats::FirstChunk(chunks, "guan"));
    EXPECT_TRUE(g.versionFirst);
    ASSERT_TRUE(g.fields.count("Timestamp"));
    EXPECT_EQ(g.fields.at("Timestamp"), LocalWithOffset(Start(k)));
    EXPECT_EQ(g.fields.at("Samplerate"), "8000");
    EXPECT_DOUBLE_EQ(std::stod(g.fields.at("Length")), 1.0);
    EXPECT_EQ(g.fields.at("Make"), "Pelmok");
    EXPECT_FALSE(g.fields.at("Model").empty());
    // The source: a data file of the folder, whose samples the export holds exactly.
    const std::string source = g.fields.at("Original Filename");
    ASSERT_NE(std::find(dataFiles.begin(), dataFiles.end(), source), dataFiles.end()) << source;
    const size_t record = std::stoul(g.fields.at("Pelmok|Record"));
    SF_INFO info;
    const std::vector<int32_t> codes = mediaformats::ReadCodes(Path("out/" + name), &info);
    EXPECT_EQ(info.samplerate, kRate);
    EXPECT_EQ(codes, DataFileCodes(scratch_->ReadFile("device/Hard Disk/Pelmok/Data/" + source),
                                   record * 8000, 8000));
  }

  // FLAC: the same in Vorbis comments (metaflac reads them).
  local.MakeDirs("flac");
  ASSERT_EQ(Tool("export " + Deployment() + "--format flac -o " + Quote(Path("flac")) + " " +
                 Quote(Data()))
                .status,
            0);
  const std::string first = Path("flac/" + Utc(Start(0), true) + ".flac");
  const Outcome tags =
      toolprocess::Run("metaflac --export-tags-to=- " + Quote(first), local.path());
  ASSERT_EQ(tags.status, 0) << tags.err;
  EXPECT_NE(tags.out.find("Timestamp=" + LocalWithOffset(Start(0)) + "\n"), std::string::npos)
      << tags.out;
  EXPECT_NE(tags.out.find("Samplerate=8000\n"), std::string::npos) << tags.out;
  // The version the program gives is the one each file records.
  const Outcome version = Tool("--version");
  ASSERT_EQ(version.status, 0) << version.err;
  ASSERT_EQ(version.out.rfind("pelmok-data " PELMOK_PROJECT_VERSION, 0), 0u) << version.out;
  EXPECT_NE(tags.out.find("ENCODER=" + version.out), std::string::npos) << tags.out;
  EXPECT_NE(tags.out.find("Pelmok|Software=" + version.out), std::string::npos) << tags.out;
  const std::string firstWav = local.ReadFile("out/" + Utc(Start(0), true) + ".wav");
  const mediaformats::Guano g =
      mediaformats::ReadGuano(mediaformats::FirstChunk(mediaformats::RiffChunks(firstWav), "guan"));
  EXPECT_EQ(g.fields.at("Pelmok|Software") + "\n", version.out);
}

// The cue points of a joined file by libsndfile; their labels by the adtl reader.
std::vector<std::pair<uint32_t, std::string>> Cues(const std::string& path,
                                                   const std::string& bytes, SF_INFO* info) {
  std::vector<std::pair<uint32_t, std::string>> cues;
  std::memset(info, 0, sizeof *info);
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, info);
  EXPECT_NE(f, nullptr) << path;
  if (f == nullptr) return cues;
  uint32_t count = 0;
  EXPECT_EQ(sf_command(f, SFC_GET_CUE_COUNT, &count, sizeof count), SF_TRUE);
  std::vector<uint8_t> block(sizeof(uint32_t) + count * sizeof(SF_CUE_POINT));
  if (count) {
    EXPECT_EQ(sf_command(f, SFC_GET_CUE, block.data(), static_cast<int>(block.size())), SF_TRUE);
  }
  sf_close(f);
  const std::map<uint32_t, std::string> labels =
      mediaformats::ReadLabels(mediaformats::RiffChunks(bytes));
  for (uint32_t i = 0; i < count; ++i) {
    SF_CUE_POINT p;
    std::memcpy(&p, block.data() + sizeof(uint32_t) + i * sizeof p, sizeof p);
    const auto label = labels.find(static_cast<uint32_t>(p.indx));
    cues.push_back({p.sample_offset, label == labels.end() ? "" : label->second});
  }
  return cues;
}

TEST_F(MediaTest, JoinedFileHasACuePointAtEachRecordStartAndItsGaps) {
  // Gaps kept as silence: the file is the time line, a record every 10 s.
  Outcome o = Tool("export " + Deployment() + "--join --gaps silence -o " + Quote(Path("all.wav")) +
                   " " + Quote(Data()));
  ASSERT_EQ(o.status, 0) << o.err;
  SF_INFO info;
  std::vector<std::pair<uint32_t, std::string>> cues =
      Cues(Path("all.wav"), local.ReadFile("all.wav"), &info);
  ASSERT_EQ(cues.size(), static_cast<size_t>(kWrites));
  for (int k = 0; k < kWrites; ++k) {
    EXPECT_EQ(cues[k].first, static_cast<uint32_t>((Start(k) - Start(0)) * kRate)) << k;
    EXPECT_EQ(cues[k].second.rfind(Utc(Start(k), true), 0), 0u) << cues[k].second;
  }
  EXPECT_EQ(info.frames, (Start(kWrites - 1) - Start(0)) * kRate + kRate);
  const mediaformats::Bext bext = mediaformats::ReadBext(
      mediaformats::FirstChunk(mediaformats::RiffChunks(local.ReadFile("all.wav")), "bext"));
  EXPECT_EQ(bext.timeReference, static_cast<uint64_t>(Start(0) % 86400) * kRate);

  // A write lost (the fifth's file removed): closed with a label saying how long it was.
  local.MakeDirs("lost");
  for (const std::string& name : scratch_->List("device/Hard Disk/Pelmok/Data"))
    local.WriteFile("lost/" + name, scratch_->ReadFile("device/Hard Disk/Pelmok/Data/" + name));
  // Which file holds the fifth write: the export's own GUANO for it says.
  local.MakeDirs("one");
  ASSERT_EQ(
      Tool("export " + Deployment() + "-o " + Quote(Path("one")) + " " + Quote(Data())).status, 0);
  const mediaformats::Guano fifth = mediaformats::ReadGuano(mediaformats::FirstChunk(
      mediaformats::RiffChunks(local.ReadFile("one/" + Utc(Start(4), true) + ".wav")), "guan"));
  const std::string lost = fifth.fields.at("Original Filename");
  ASSERT_EQ(std::remove(Path("lost/" + lost).c_str()), 0) << lost;
  o = Tool("export " + Deployment() + "--join -o " + Quote(Path("closed.wav")) + " " +
           Quote(Path("lost")));
  ASSERT_EQ(o.status, 0) << o.err;
  cues = Cues(Path("closed.wav"), local.ReadFile("closed.wav"), &info);
  ASSERT_EQ(cues.size(), static_cast<size_t>(kWrites)) << "11 records and one gap";
  EXPECT_EQ(info.frames, (kWrites - 1) * kRate);
  size_t record = 0;
  for (const auto& [offset, label] : cues) {
    if (label.rfind("gap", 0) == 0) {
      // From the fourth record's end (its write) to the sixth's start.
      EXPECT_EQ(offset, 4u * kRate) << label;
      EXPECT_NE(label.find("gap of " + std::to_string(Start(5) - Write(3)) + " s"),
                std::string::npos)
          << label;
      continue;
    }
    EXPECT_EQ(offset, record * kRate) << label;
    ++record;
  }
  EXPECT_EQ(record, static_cast<size_t>(kWrites - 1));
}

// The pixel at (x, y) of a PNG, by cairo's own reader.
bool Pixel(const std::string& path, int x, int y, int* r, int* g, int* b, int* width) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return false;
  }
  cairo_surface_flush(s);
  *width = cairo_image_surface_get_width(s);
  const uint8_t* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
  uint32_t v;
  std::memcpy(&v, row + 4 * x, 4);
  *r = (v >> 16) & 0xFF;
  *g = (v >> 8) & 0xFF;
  *b = v & 0xFF;
  cairo_surface_destroy(s);
  return true;
}

TEST_F(MediaTest, PlotDrawsRecordsOnAUtcAxisAndGapsAsGaps) {
  local.MakeDirs("lost");
  for (const std::string& name : scratch_->List("device/Hard Disk/Pelmok/Data"))
    local.WriteFile("lost/" + name, scratch_->ReadFile("device/Hard Disk/Pelmok/Data/" + name));
  // Lose the fifth and sixth writes.
  local.MakeDirs("names");
  ASSERT_EQ(
      Tool("export " + Deployment() + "-o " + Quote(Path("names")) + " " + Quote(Data())).status,
      0);
  for (int k : {4, 5}) {
    const mediaformats::Guano g = mediaformats::ReadGuano(mediaformats::FirstChunk(
        mediaformats::RiffChunks(local.ReadFile("names/" + Utc(Start(k), true) + ".wav")), "guan"));
    ASSERT_EQ(std::remove(Path("lost/" + g.fields.at("Original Filename")).c_str()), 0);
  }
  // With --from and --to the axis runs exactly between them.
  const int64_t from = Start(0), to = Write(kWrites - 1);
  Outcome o =
      Tool("plot " + Deployment() + "--from " + Utc(from, false) + " --to " + Utc(to, false) +
           " --log-frequency --fft 256 -o " + Quote(Path("d.png")) + " " + Quote(Path("lost")));
  ASSERT_EQ(o.status, 0) << o.err;
  int r, g, b, width;
  const double left = 95, plotWidth = 1200 - 95 - 120;
  auto x = [&](double t) { return static_cast<int>(left + (t - from) / (to - from) * plotWidth); };
  // Inside the gap (between the fourth write and the seventh start): grey.
  ASSERT_TRUE(Pixel(Path("d.png"), x((Write(3) + Start(6)) / 2.0), 400, &r, &g, &b, &width));
  EXPECT_EQ(width, 1200);
  EXPECT_TRUE(r == g && g == b && r > 150) << r << "," << g << "," << b;
  // Inside a record's column: a level colour, not grey.
  ASSERT_TRUE(Pixel(Path("d.png"), x(Start(1) + 0.5), 400, &r, &g, &b, &width));
  EXPECT_FALSE(r == g && g == b) << r << "," << g << "," << b;

  // One record: its waveform and spectrogram.
  o = Tool("plot " + Deployment() + "--width 640 --height 480 -o " + Quote(Path("one.png")) + " " +
           Quote(Data() + "/" + scratch_->List("device/Hard Disk/Pelmok/Data").front()));
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_TRUE(Pixel(Path("one.png"), 0, 0, &r, &g, &b, &width));
  EXPECT_EQ(width, 640);

  // Options a picture cannot be drawn with: one line, status 2.
  for (const std::string& bad :
       {std::string("--fft 1000"),
        std::string("--from 2026-10-25T01:00:00Z --to 2026-10-25T00:59:00Z"),
        std::string("--gain 20"), std::string("--max-frequency 5000"),
        std::string("--sensitivity 165"), std::string("--from yesterday"),
        std::string("--db-min 0 --db-max -10")}) {
    o = Tool("plot " + Deployment() + bad + " -o " + Quote(Path("bad.png")) + " " + Quote(Data()));
    EXPECT_EQ(o.status, 2) << bad;
    EXPECT_EQ(toolprocess::Lines(o.err), 1u) << bad << ": " << o.err;
    struct stat st;
    EXPECT_NE(stat(Path("bad.png").c_str(), &st), 0) << bad;
  }
}

// Little-endian words of a tone of `amplitude` codes at `frequency` Hz.
std::string ToneWords(double amplitude, double frequency, int samples, uint32_t extra = 0) {
  std::string bytes;
  for (int i = 0; i < samples; ++i) {
    uint32_t w = static_cast<uint32_t>(static_cast<int32_t>(
                     std::lround(amplitude * std::sin(2 * M_PI * frequency * i / kRate)))) &
                 0xFFFFFFu;
    if (i == 7) w |= extra;
    for (int s = 0; s < 4; ++s) bytes.push_back(static_cast<char>(w >> (8 * s)));
  }
  return bytes;
}

TEST_F(MediaTest, ReportGivesLevelsInDbReMicropascalOnAToneOfKnownAmplitude) {
  local.MakeDirs("tone");
  // 1,000,000 codes peak: 0.29802 V, RMS 0.21073 V at the converter.
  local.WriteFile("tone/126-297-1-30-0", ToneWords(1000000, 1000, kRate));
  Outcome o = Tool("report --rate 8000 --time-zone UTC0 --sensitivity -170 --gain 12 -o " +
                   Quote(Path("r.html")) + " " + Quote(Path("tone")));
  ASSERT_EQ(o.status, 0) << o.err;
  const double volts = 1000000 * 2.5 / 8388607;
  char rms[64], peak[64];
  std::snprintf(rms, sizeof rms, "%.1f dB re 1 \xC2\xB5Pa",
                20 * std::log10(volts / std::sqrt(2.0)) + 170 - 12);
  std::snprintf(peak, sizeof peak, "%.1f dB re 1 \xC2\xB5Pa", 20 * std::log10(volts) + 170 - 12);
  const std::string html = local.ReadFile("r.html");
  EXPECT_NE(html.find(std::string("<td>") + rms + "</td>"), std::string::npos) << rms;
  EXPECT_NE(html.find(std::string("<td>") + peak + "</td>"), std::string::npos) << peak;
  EXPECT_NE(html.find("sensitivity -170.0 dB re 1 V/\xC2\xB5Pa, gain 12.0 dB"), std::string::npos);
  // Without a calibration: volts and dBFS, and saying so.
  o = Tool("report --rate 8000 --time-zone UTC0 -o " + Quote(Path("u.html")) + " " +
           Quote(Path("tone")));
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string u = local.ReadFile("u.html");
  EXPECT_NE(u.find("210.7"), std::string::npos) << "RMS 210.7 mV";
  EXPECT_NE(u.find("uncalibrated"), std::string::npos);
  const Outcome version = Tool("--version");
  ASSERT_EQ(version.status, 0) << version.err;
  EXPECT_NE(u.find("<footer><p class=\"note\">Made by " +
                   version.out.substr(0, version.out.size() - 1) + ".</p></footer>\n</body>"),
            std::string::npos);
}

TEST_F(MediaTest, ReportIsOnePageWithItsPicturesLoadedInHeadlessChromium) {
  // The deployment with faults to warn about: a lost write, a torn tail, a
  // word above bit 23, a run of zeros.
  local.MakeDirs("data");
  std::vector<std::string> names = scratch_->List("device/Hard Disk/Pelmok/Data");
  for (const std::string& name : names)
    local.WriteFile("data/" + name, scratch_->ReadFile("device/Hard Disk/Pelmok/Data/" + name));
  ASSERT_GE(names.size(), 5u);
  std::string bytes = local.ReadFile("data/" + names[0]);
  bytes[4 * 100 + 3] = 0x01;                // bits above 23 in word 100
  std::memset(&bytes[4 * 200], 0, 4 * 40);  // 40 zero words
  local.WriteFile("data/" + names[0], bytes + std::string("\x01\x02", 2));  // and a torn tail
  ASSERT_EQ(std::remove(Path("data/" + names[4]).c_str()), 0);  // a write after the repeated hour
  const Outcome o = Tool("report " + Deployment() + "-o " + Quote(Path("report.html")) + " " +
                         Quote(Path("data")));
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string html = local.ReadFile("report.html");
  for (const char* warning :
       {"gap:", "torn tail:", "words above bit 23:", "runs of zeros:", "repeated-hour name"})
    EXPECT_NE(html.find(warning), std::string::npos) << warning;
  EXPECT_NE(html.find("&quot;Number of records per Flash Disk file&quot;"), std::string::npos);
  EXPECT_NE(html.find(Utc(Write(0), false)), std::string::npos) << "the timeline in UTC";
  EXPECT_NE(html.find(LocalWithOffset(Write(0))), std::string::npos)
      << "local time with its offset";
  // Nothing outside the page: every picture a data: URI, no address.
  EXPECT_EQ(html.find("http:"), std::string::npos);
  EXPECT_EQ(html.find("https:"), std::string::npos);
  EXPECT_EQ(html.find("src=\"data:image/png;base64,"), html.find("src=\""));

  if (std::system("command -v chromium-headless-shell >/dev/null 2>&1") != 0)
    GTEST_SKIP()
        << "chromium-headless-shell is not installed (scripts/install-packages installs it)";
  // A page beside the report reads each picture's decoded size out of it and
  // writes it into its own DOM, which Chromium dumps.
  local.WriteFile("probe.html",
                  "<!DOCTYPE html><html><body><iframe id=\"r\" src=\"report.html\"></iframe><pre "
                  "id=\"out\"></pre>"
                  "<script>window.addEventListener('load', function () {"
                  " var images = document.getElementById('r').contentDocument.images, seen = [];"
                  " for (var i = 0; i < images.length; ++i)"
                  "  seen.push(images[i].complete + ':' + images[i].naturalWidth + 'x' + "
                  "images[i].naturalHeight);"
                  " document.getElementById('out').textContent = 'IMAGES ' + images.length + ' ' + "
                  "seen.join(' ');"
                  "});</script></body></html>");
  const Outcome c = toolprocess::Run(
      "timeout 60 chromium-headless-shell --no-sandbox --disable-gpu "
      "--allow-file-access-from-files --user-data-dir=" +
          Quote(Path("chromium")) + " --dump-dom " + Quote("file://" + Path("probe.html")),
      local.path());
  ASSERT_EQ(c.status, 0) << c.err;
  // The deployment's picture, the spectral percentiles and the band levels.
  EXPECT_NE(c.out.find("IMAGES 3 true:1200x560 true:1200x560 true:1200x560"), std::string::npos)
      << c.out.substr(0, 2000);
}

}  // namespace
