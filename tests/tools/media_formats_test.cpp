// The audio writer's metadata read back by readers made from the formats'
// descriptions, by libsndfile and by metaflac; the level arithmetic on tones
// of known amplitude; the page writer's encoding.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "hardware/sample_values.h"
#include "tests/test_support.h"
#include "tests/tools/media_formats_test.h"
#include "tests/tools/tool_process.h"
#include "tools/common/levels.h"
#include "tools/common/version.h"
#include "tools/formats/audio_file.h"
#include "tools/formats/data_file.h"
#include "tools/formats/html_page.h"

namespace {

using datatools::AudioFormat;
using datatools::AudioProvenance;
using datatools::AudioWriter;
using datatools::CueMark;

// 2026-10-25T00:59:39Z plus a quarter second, at 1 kHz, in CEST.
AudioProvenance Provenance(uint64_t samples) {
  AudioProvenance p;
  p.rateHz = 1000;
  p.startSample = 1792889979LL * 1000 + 250;
  p.offsetMinutes = 120;
  p.sourceFile = "126-297-2-59-40";
  p.sourceRecord = 1;
  p.samples = samples;
  p.timed = true;
  p.writeUtc = 1792889980;
  p.timing = "by the cadence";
  return p;
}

// A file to write to, as OutputFile hands its descriptor over.
class Target {
 public:
  explicit Target(const std::string& path)
      : path_(path), fd_(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644)) {}
  ~Target() { close(fd_); }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_;
};

std::vector<int32_t> Codes(size_t n) {
  std::vector<int32_t> codes = {0, 8388607, -8388608, -1, 1};
  std::mt19937 random(3);
  while (codes.size() < n) codes.push_back(static_cast<int32_t>(random() % 16777216) - 8388608);
  return codes;
}

TEST(AudioMetadata, StartTimesAsUtcAndLocalWithOffset) {
  AudioProvenance p = Provenance(1);
  EXPECT_EQ(p.StartUtcText(), "2026-10-25T00:59:39.250000Z");
  EXPECT_EQ(p.StartLocalText(), "2026-10-25T02:59:39.250000+02:00");
  p.startSample -= 250;
  p.offsetMinutes = -210;
  EXPECT_EQ(p.StartUtcText(), "2026-10-25T00:59:39Z");
  EXPECT_EQ(p.StartLocalText(), "2026-10-24T21:29:39-03:30");
  // Before 1970 the second still floors.
  p.rateHz = 4;
  p.startSample = -1;
  EXPECT_EQ(p.StartSecond(), -1);
  EXPECT_EQ(p.StartUtcText(), "1969-12-31T23:59:59.750000Z");
}

TEST(AudioMetadata, WavCarriesBextAndGuanoAsPublishedAndTheCodesExactly) {
  testsupport::ScratchDir scratch;
  const std::vector<int32_t> codes = Codes(2500);
  AudioProvenance p = Provenance(codes.size());
  p.extra = {{"Pelmok|Sensitivity", "-165.0"}};
  AudioWriter w;
  std::string error;
  const std::string path = scratch.path() + "/a.wav";
  Target target(path);
  ASSERT_TRUE(w.Open(target.fd(), path, AudioFormat::kWav, p, {}, &error)) << error;
  ASSERT_TRUE(w.Append(codes.data(), 1000, &error)) << error;
  ASSERT_TRUE(w.Append(codes.data() + 1000, codes.size() - 1000, &error)) << error;
  ASSERT_TRUE(w.Close(&error)) << error;

  SF_INFO info;
  EXPECT_EQ(mediaformats::ReadCodes(path, &info), codes);
  EXPECT_EQ(info.samplerate, 1000);
  EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24);

  const std::vector<mediaformats::Chunk> chunks =
      mediaformats::RiffChunks(scratch.ReadFile("a.wav"));
  const mediaformats::Bext bext = mediaformats::ReadBext(mediaformats::FirstChunk(chunks, "bext"));
  ASSERT_TRUE(bext.valid);
  EXPECT_EQ(bext.date, "2026-10-25");
  EXPECT_EQ(bext.time, "00:59:39");
  // Samples since UTC midnight: 00:59:39.25 at 1 kHz.
  EXPECT_EQ(bext.timeReference, 3579250u);
  EXPECT_GE(bext.version, 1);  // libsndfile writes version 2
  EXPECT_EQ(bext.originator, "pelmok-data");
  EXPECT_EQ(bext.originatorReference, "126-297-2-59-40#1");
  EXPECT_NE(bext.description.find("2026-10-25T00:59:39.250000Z"), std::string::npos)
      << bext.description;
  EXPECT_NE(bext.description.find("+02:00"), std::string::npos) << bext.description;
  EXPECT_EQ(bext.codingHistory.rfind("A=PCM,F=1000,W=24,M=mono", 0), 0u) << bext.codingHistory;
  // The program and version that wrote it, in the coding history and in GUANO.
  const std::string writer = "pelmok-data " + std::string(tools::Version());
  EXPECT_NE(bext.codingHistory.find("; " + writer + "\r\n"), std::string::npos)
      << bext.codingHistory;

  const std::string guanoChunk = mediaformats::FirstChunk(chunks, "guan");
  EXPECT_EQ(guanoChunk.find('\0'), std::string::npos) << "padding is whitespace";
  const mediaformats::Guano g = mediaformats::ReadGuano(guanoChunk);
  EXPECT_TRUE(g.versionFirst);
  EXPECT_TRUE(g.duplicates.empty());
  EXPECT_EQ(g.fields.at("GUANO|Version"), "1.0");
  EXPECT_EQ(g.fields.at("Timestamp"), "2026-10-25T02:59:39.250000+02:00");
  EXPECT_EQ(g.fields.at("Samplerate"), "1000");
  EXPECT_EQ(std::stod(g.fields.at("Length")), 2.5);
  EXPECT_EQ(g.fields.at("Original Filename"), "126-297-2-59-40");
  EXPECT_EQ(g.fields.at("Make"), "Pelmok");
  EXPECT_FALSE(g.fields.at("Model").empty());
  EXPECT_EQ(g.fields.at("Pelmok|Record"), "1");
  EXPECT_EQ(g.fields.at("Pelmok|Software"), writer);
  EXPECT_EQ(g.fields.at("Pelmok|Write UTC"), "2026-10-25T00:59:40Z");
  EXPECT_EQ(g.fields.at("Pelmok|Sensitivity"), "-165.0");
  // libsndfile reads the same bext.
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  SF_BROADCAST_INFO b{};
  EXPECT_EQ(sf_command(f, SFC_GET_BROADCAST_INFO, &b, sizeof b), SF_TRUE);
  sf_close(f);
  EXPECT_EQ(std::string(b.origination_date, 10), "2026-10-25");
}

TEST(AudioMetadata, CuePointsReadBackByLibsndfileWithTheirLabels) {
  testsupport::ScratchDir scratch;
  // More than SF_CUES' hundred: a deployment has hundreds of records.
  std::vector<CueMark> cues;
  for (int i = 0; i < 150; ++i)
    cues.push_back({static_cast<uint64_t>(i) * 97 + (i % 3),
                    "record " + std::to_string(i) + std::string(i % 4, 'x')});
  AudioWriter w;
  std::string error;
  const std::string path = scratch.path() + "/joined.wav";
  Target target(path);
  ASSERT_TRUE(w.Open(target.fd(), path, AudioFormat::kWav, Provenance(150 * 97), cues, &error))
      << error;
  ASSERT_TRUE(w.AppendSilence(150 * 97, &error)) << error;
  ASSERT_TRUE(w.Close(&error)) << error;

  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  uint32_t count = 0;
  ASSERT_EQ(sf_command(f, SFC_GET_CUE_COUNT, &count, sizeof count), SF_TRUE);
  ASSERT_EQ(count, cues.size());
  std::vector<uint8_t> block(sizeof(uint32_t) + count * sizeof(SF_CUE_POINT));
  ASSERT_EQ(sf_command(f, SFC_GET_CUE, block.data(), static_cast<int>(block.size())), SF_TRUE);
  sf_close(f);
  EXPECT_EQ(info.frames, 150 * 97);
  for (uint32_t i = 0; i < count; ++i) {
    SF_CUE_POINT point;
    std::memcpy(&point, block.data() + sizeof(uint32_t) + i * sizeof point, sizeof point);
    EXPECT_EQ(point.sample_offset, cues[i].sample) << i;
    EXPECT_EQ(point.indx, static_cast<int32_t>(i + 1));
  }
  const std::vector<mediaformats::Chunk> chunks =
      mediaformats::RiffChunks(scratch.ReadFile("joined.wav"));
  const std::map<uint32_t, std::string> labels = mediaformats::ReadLabels(chunks);
  ASSERT_EQ(labels.size(), cues.size());
  for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(labels.at(i + 1), cues[i].label);
  // The chunks cover the file exactly: nothing libsndfile or we added is out of step.
  size_t total = 12;
  for (const auto& c : chunks) total += 8 + c.data.size() + (c.data.size() & 1);
  EXPECT_EQ(total, scratch.ReadFile("joined.wav").size());
}

TEST(AudioMetadata, FlacCarriesTheSameFieldsAsVorbisComments) {
  testsupport::ScratchDir scratch;
  const std::vector<int32_t> codes = Codes(3000);
  AudioWriter w;
  std::string error;
  const std::string path = scratch.path() + "/a.flac";
  Target target(path);
  ASSERT_TRUE(w.Open(target.fd(), path, AudioFormat::kFlac, Provenance(codes.size()), {}, &error))
      << error;
  ASSERT_TRUE(w.Append(codes.data(), codes.size(), &error)) << error;
  ASSERT_TRUE(w.Close(&error)) << error;
  SF_INFO info;
  EXPECT_EQ(mediaformats::ReadCodes(path, &info), codes);
  EXPECT_EQ(info.samplerate, 1000);
  const toolprocess::Outcome tags =
      toolprocess::Run("metaflac --export-tags-to=- " + toolprocess::Quote(path), scratch.path());
  ASSERT_EQ(tags.status, 0) << tags.err;
  for (const char* line :
       {"TITLE=20261025T005939Z\n", "DATE=2026-10-25T02:59:39.250000+02:00\n",
        "Timestamp=2026-10-25T02:59:39.250000+02:00\n", "Samplerate=1000\n",
        "Original Filename=126-297-2-59-40\n", "Make=Pelmok\n", "GUANO|Version=1.0\n"})
    EXPECT_NE(tags.out.find(line), std::string::npos) << line << " in " << tags.out;
  EXPECT_NE(tags.out.find("\nModel="), std::string::npos) << tags.out;

  // Cue points are WAV's.
  AudioWriter refused;
  Target other(scratch.path() + "/b.flac");
  EXPECT_FALSE(refused.Open(other.fd(), other.path(), AudioFormat::kFlac, Provenance(1), {{0, "x"}},
                            &error));
  EXPECT_NE(error.find("b.flac"), std::string::npos) << error;
}

TEST(Levels, ToneOfKnownAmplitudeInDbReMicropascal) {
  // A 1 kHz tone of 1.25 V peak at 100 kHz: RMS 0.8839 V at the converter.
  const double amplitudeCodes = 4194304;
  const double amplitudeVolts = amplitudeCodes * 2.5 / 8388607;
  datatools::CodeStats stats;
  for (int i = 0; i < 100000; ++i)
    stats.Add(static_cast<uint32_t>(static_cast<int32_t>(
                  std::lround(amplitudeCodes * std::sin(2 * M_PI * i / 100.0)))) &
              0xFFFFFFu);
  stats.Finish();
  datatools::Calibration c;
  c.calibrated = true;
  c.sensitivityDb = -165;
  c.gainDb = 20;
  const datatools::Levels l = datatools::LevelsOf(stats, c);
  // Pressure = volts / 10^((S+G)/20) µPa.
  const double rmsUpa = amplitudeVolts / std::sqrt(2.0) / std::pow(10.0, (-165 + 20) / 20.0);
  EXPECT_NEAR(l.rmsDbUpa, 20 * std::log10(rmsUpa), 1e-3);
  EXPECT_NEAR(l.peakDbUpa, 20 * std::log10(amplitudeVolts / std::pow(10.0, -145 / 20.0)), 1e-3);
  EXPECT_NEAR(l.rmsDbUpa, 143.93, 0.01);  // 20 log10(0.8839) + 145
  EXPECT_NE(datatools::LevelsLine(l, c).find("143.9 dB re 1 \xC2\xB5Pa"), std::string::npos)
      << datatools::LevelsLine(l, c);

  const datatools::Calibration none;
  const datatools::Levels u = datatools::LevelsOf(stats, none);
  EXPECT_NEAR(u.rmsVolts, amplitudeVolts / std::sqrt(2.0), 1e-6);
  EXPECT_NEAR(u.rmsDbfs, -6.02 - 3.01, 0.01);
  EXPECT_NE(datatools::LevelsLine(u, none).find("--sensitivity"), std::string::npos);
  EXPECT_EQ(datatools::VoltsText(0.0012345), "1.2345 mV");
  EXPECT_EQ(datatools::VoltsText(-0.0000031), "-3.100 \xC2\xB5V");
  EXPECT_EQ(datatools::VoltsText(1.5), "1.500000 V");
}

TEST(Levels, SpectralDensitySumsToTheToneMeanSquare) {
  // Parseval: the one-sided density summed over the tone's bins times the bin
  // width is its mean square pressure, whatever the window.
  const int n = 1024;
  const uint32_t rate = 102400;
  const double amplitude = 100000;  // codes
  std::vector<double> w(n);
  double sum = 0, squares = 0;
  for (int i = 0; i < n; ++i) {
    w[i] = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
    sum += w[i];
    squares += w[i] * w[i];
  }
  datatools::Calibration c;
  c.calibrated = true;
  c.sensitivityDb = -170;
  c.gainDb = 6;
  const datatools::SpectrumLevel level(c, sum, squares, rate);
  EXPECT_EQ(level.Unit(), "dB re 1 \xC2\xB5Pa\xC2\xB2/Hz");
  double total = 0;
  for (int k = 1; k < n / 2; ++k) {
    double re = 0, im = 0;
    for (int i = 0; i < n; ++i) {
      const double x = amplitude * std::sin(2 * M_PI * 100 * i / n) * w[i];  // bin 100 exactly
      re += x * std::cos(2 * M_PI * k * i / n);
      im -= x * std::sin(2 * M_PI * k * i / n);
    }
    total += level.Scaled(re * re + im * im) * rate / n;
  }
  const double volts = amplitude * 2.5 / 8388607 / std::sqrt(2.0);
  const double upa = volts / std::pow(10.0, (-170 + 6) / 20.0);
  EXPECT_NEAR(10 * std::log10(total), 20 * std::log10(upa), 0.01);
  // Uncalibrated: a full-scale sine in its bin reads 0 dBFS.
  const datatools::SpectrumLevel fs(datatools::Calibration{}, sum, squares, rate);
  const double bin = 8388607 * sum / 2;
  EXPECT_NEAR(fs.Db(bin * bin), 0, 1e-9);
  EXPECT_EQ(fs.Unit(), "dBFS");
}

TEST(HtmlPage, Rfc4648VectorsAndEscapedText) {
  // RFC 4648, section 10.
  EXPECT_EQ(datatools::Base64(""), "");
  EXPECT_EQ(datatools::Base64("f"), "Zg==");
  EXPECT_EQ(datatools::Base64("fo"), "Zm8=");
  EXPECT_EQ(datatools::Base64("foo"), "Zm9v");
  EXPECT_EQ(datatools::Base64("foob"), "Zm9vYg==");
  EXPECT_EQ(datatools::Base64("fooba"), "Zm9vYmE=");
  EXPECT_EQ(datatools::Base64("foobar"), "Zm9vYmFy");
  EXPECT_EQ(datatools::Base64(std::string("\xff\x00\xfe", 3)), "/wD+");
  datatools::HtmlPage page("a <title> & \"more\"");
  page.Paragraph("x<script>alert(1)</script>\x1b[31m");
  const std::string doc = page.Document();
  EXPECT_EQ(doc.find("<script>"), std::string::npos);
  EXPECT_EQ(doc.find('\x1b'), std::string::npos);
  EXPECT_NE(doc.find("<title>a &lt;title&gt; &amp; &quot;more&quot;</title>"), std::string::npos);
}

}  // namespace
