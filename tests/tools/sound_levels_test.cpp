// The spectral engine against scipy.signal.welch on the same samples and
// against a tone and white noise of known level; pelmok-data levels against
// levels computed from their definitions with numpy and scipy, its NetCDF
// file read back with Python's netCDF4.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/tools/tool_process.h"
#include "tools/common/welch.h"

namespace {

using toolprocess::Outcome;
using toolprocess::Quote;

std::string Words(const std::vector<int32_t>& codes) {
  std::string bytes;
  for (int32_t c : codes) {
    const uint32_t w = static_cast<uint32_t>(c) & 0xFFFFFFu;
    for (int s = 0; s < 4; ++s) bytes.push_back(static_cast<char>(w >> (8 * s)));
  }
  return bytes;
}

// A tone of `amplitude` codes at `hz` in Gaussian noise of `sigma` codes.
std::vector<int32_t> ToneInNoise(size_t n, double rate, double amplitude, double hz, double sigma,
                                 unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0, sigma);
  std::vector<int32_t> codes(n);
  for (size_t i = 0; i < n; ++i)
    codes[i] = static_cast<int32_t>(
        std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate) + noise(random)));
  return codes;
}

std::vector<double> Engine(const std::vector<int32_t>& codes, size_t length, double rate,
                           uint64_t* windows) {
  datatools::WelchSpectra welch(datatools::WindowSamples(length / rate, rate, codes.size()), rate);
  // Blocks of uneven sizes: the windows must not depend on how samples arrive.
  for (size_t at = 0, block = 1; at < codes.size(); at += block, block = block * 3 % 1009 + 1)
    welch.Add(codes.data() + at, std::min(block, codes.size() - at));
  *windows = welch.Windows();
  return welch.Mean();
}

TEST(SpectralEngine, MatchesScipyWelchAndKnownLevels) {
  testsupport::ScratchDir scratch;
  const double rate = 8000;
  const std::vector<int32_t> codes = ToneInNoise(20011, rate, 250000, 1000, 3000, 7);
  scratch.WriteFile("x.raw", Words(codes));
  for (size_t length : {size_t{1000}, size_t{999}, size_t{256}, size_t{40000}}) {
    uint64_t windows = 0;
    const std::vector<double> mine = Engine(codes, length, rate, &windows);
    const Outcome o =
        toolprocess::Run(std::string(PELMOK_PYTHON3) +
                             " -c 'import sys, numpy, scipy.signal\n"
                             "x = numpy.fromfile(sys.argv[1], dtype=\"<i4\") << 8 >> 8\n"
                             "n = min(int(sys.argv[2]), len(x))\n"
                             "f, p = scipy.signal.welch(x.astype(float), fs=8000, window=\"hann\", "
                             "nperseg=n, detrend=False)\n"
                             "print((len(x) - n) // (n - n // 2) + 1)\n"
                             "print(\"\\n\".join(repr(v) for v in p))' " +
                             Quote(scratch.path() + "/x.raw") + " " + std::to_string(length),
                         scratch.path());
    ASSERT_EQ(o.status, 0) << o.err;
    std::istringstream in(o.out);
    double segments = 0;
    in >> segments;
    std::vector<double> theirs;
    for (double v; in >> v;) theirs.push_back(v);
    ASSERT_EQ(mine.size(), theirs.size()) << length;
    EXPECT_EQ(static_cast<double>(windows), segments) << length;
    for (size_t k = 0; k < mine.size(); ++k)
      ASSERT_NEAR(mine[k], theirs[k], 1e-9 * theirs[k] + 1e-12)
          << "window " << length << " bin " << k;
  }
  // Known levels: the tone's power (A²/2) summed over its bins, and white
  // noise's density 2σ²/fs averaged over the bins away from the tone.
  uint64_t windows = 0;
  const std::vector<double> p = Engine(codes, 1000, rate, &windows);
  double tone = 0, noise = 0;
  for (size_t k = 0; k < p.size(); ++k) {
    if (k >= 120 && k <= 130)
      tone += p[k] * 8;
    else if (k > 1 && k < p.size() - 1)
      noise += p[k];
  }
  noise /= p.size() - 14;
  EXPECT_NEAR(10 * std::log10(tone), 10 * std::log10(250000.0 * 250000 / 2), 0.05);
  EXPECT_NEAR(10 * std::log10(noise), 10 * std::log10(2 * 3000.0 * 3000 / rate), 0.1);
}

TEST(SpectralEngine, ShortRecordIsOneWindowOfItsOwnLength) {
  EXPECT_EQ(datatools::WindowSamples(1, 8000, 300), 300u);
  EXPECT_EQ(datatools::WindowSamples(1, 8000, 80000), 8000u);
  EXPECT_EQ(datatools::WindowSamples(0.25, 8000, 80000), 2000u);
}

std::string Tool(const std::string& args) { return std::string(PELMOK_DATA_PATH) + " " + args; }

// Three records around a UTC midnight, each a tone in noise of its own level;
// a calibration curve that ends below the Nyquist frequency.
TEST(LevelsCommand, AgreeWithScipyAndTheNetcdfFileWithTheTable) {
  testsupport::ScratchDir scratch;
  scratch.MakeDirs("data");
  const char* names[] = {"126-297-23-59-50", "126-297-23-59-58", "126-298-0-0-6"};
  for (int i = 0; i < 3; ++i)
    scratch.WriteFile(std::string("data/") + names[i],
                      Words(ToneInNoise(24000 - 1000 * i, 8000, 100000.0 * (i + 1), 1000 + 500 * i,
                                        2000.0 * (3 - i), 11 + i)));
  scratch.WriteFile("cal.csv",
                    "frequency_hz,sensitivity_db\n5,-175\n100,-171.5\n1000,-170\n3000,-168\n");
  const std::string data = Quote(scratch.path() + "/data"), path = scratch.path();
  const std::string common = "levels --rate 8000 --time-zone UTC0 --calibration " +
                             Quote(path + "/cal.csv") + " --gain 6 ";
  Outcome o = toolprocess::Run(
      Tool(common + "--percentiles --jobs 1 -o " + Quote(path + "/l.csv") + " " + data), path);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("calibration " + path + "/cal.csv (4 points, 5 to 3000 Hz"),
            std::string::npos)
      << o.err;
  o = toolprocess::Run(
      Tool(common + "--percentiles --jobs 3 -o " + Quote(path + "/l2.csv") + " " + data), path);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(scratch.ReadFile("l.csv"), scratch.ReadFile("l2.csv"))
      << "the thread count changed the output";
  o = toolprocess::Run(Tool(common + "-o " + Quote(path + "/l.nc") + " " + data), path);
  ASSERT_EQ(o.status, 0) << o.err;
  o = toolprocess::Run(std::string(PELMOK_PYTHON3) + " " +
                           Quote(PELMOK_SOURCE_DIR "/tests/tools/levels_reference.py") + " " +
                           data + " 8000 " + Quote(path + "/cal.csv") + " 6 " +
                           Quote(path + "/l.csv") + " " + Quote(path + "/l.nc"),
                       path);
  ASSERT_EQ(o.status, 0) << o.err;
  int checked = 0, disagree = -1;
  ASSERT_EQ(std::sscanf(o.out.substr(o.out.rfind("checked")).c_str(),
                        "checked %d levels, %d disagree", &checked, &disagree),
            2)
      << o.out;
  EXPECT_EQ(disagree, 0) << o.out;
  // Three records' broadband, peak and SEL, their decidecade bands to 3 kHz,
  // the percentiles of 2 + 25 + 1100-odd series and the NetCDF densities.
  EXPECT_GT(checked, 9 * 1000 + 3 * 1000) << o.out;

  // A folder: one file per UTC day.
  scratch.MakeDirs("days");
  o = toolprocess::Run(Tool(common + "-o " + Quote(path + "/days") + " " + data), path);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(scratch.List("days"),
            (std::vector<std::string>{"pelmok-hmd-20261025.nc", "pelmok-hmd-20261026.nc"}));
  // Uncalibrated: full-scale units, said so.
  o = toolprocess::Run(Tool("levels --rate 8000 --time-zone UTC0 " + data), path);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("levels in dBFS"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("uncalibrated"), std::string::npos) << o.err;
  // A calibration file with a frequency that falls: one line naming it.
  scratch.WriteFile("bad.csv", "10,-170\n5,-171\n");
  o = toolprocess::Run(
      Tool("levels --rate 8000 --calibration " + Quote(path + "/bad.csv") + " " + data), path);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err,
            "pelmok-data: " + path + "/bad.csv: line 2: frequencies must rise from line to line\n");
}

// The sum of a pixel's red, green and blue (viridis grows brighter with level).
int Brightness(const std::string& png, int x, int y, bool* grey) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(png.c_str());
  EXPECT_EQ(cairo_surface_status(s), CAIRO_STATUS_SUCCESS) << png;
  const uint32_t v = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                       y * cairo_image_surface_get_stride(s))[x];
  cairo_surface_destroy(s);
  const int r = v >> 16 & 0xFF, g = v >> 8 & 0xFF, b = v & 0xFF;
  *grey = r == g && g == b;
  return r + g + b;
}

// Eight 2 s records every 4 s at 48 kHz; the sixth holds a 0.12 s burst at
// -6 dBFS and 20 kHz. Every window counts, so the burst shows in the
// long-term picture; the 2 s pauses between records show as pauses.
TEST(LevelsCommand, PlotShowsAShortBurstAndThePausesBetweenRecords) {
  testsupport::ScratchDir scratch;
  scratch.MakeDirs("data");
  const int rate = 48000;
  for (int k = 0; k < 8; ++k) {
    std::vector<int32_t> codes = ToneInNoise(2 * rate, rate, 200000, 3000, 300, 20 + k);
    if (k == 5)
      for (int i = 0; i < rate * 12 / 100; ++i)
        codes[rate * 7 / 10 + i] +=
            static_cast<int32_t>(0.5 * 8388607 * std::sin(2 * M_PI * 20000.0 * i / rate));
    scratch.WriteFile("data/126-297-1-30-" + std::to_string(10 + 4 * k), Words(codes));
  }
  const std::string png = scratch.path() + "/d.png";
  const Outcome o = toolprocess::Run(Tool("plot --rate 48000 --time-zone UTC0 --jobs 2 -o " +
                                          Quote(png) + " " + Quote(scratch.path() + "/data")),
                                     scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;
  // The picture runs from the first start (01:30:08Z) to the last write (01:30:38Z) over
  // 1200 - 95 - 120 pixels; 20 kHz lies at 5/6 of the height above its bottom (60 + 662).
  auto x = [](double second) { return static_cast<int>(95 + (second - 8) / 30 * 985); };
  const int y20k = static_cast<int>(60 + 662 - 662 * 20000.0 / 24000);
  bool grey = false;
  const int burst = Brightness(png, x(29), y20k, &grey);
  EXPECT_FALSE(grey);
  const int quiet = Brightness(png, x(25), y20k, &grey);  // the fifth record
  EXPECT_FALSE(grey);
  EXPECT_GT(burst, quiet + 200) << "the burst's record at 20 kHz against its neighbour's";
  // Between the fifth record's end (01:30:26Z) and the sixth's start (01:30:28Z): a pause.
  const int pause = Brightness(png, x(27), y20k, &grey);
  EXPECT_TRUE(grey) << pause;
  EXPECT_GT(pause, 3 * 230);

  // The report: the percentile picture, band levels and the noise-floor
  // verdict; the loud tones lie far above sea state 0, a receiver that
  // records nothing but zeros below it.
  Outcome r = toolprocess::Run(
      Tool("report --rate 48000 --time-zone UTC0 --sensitivity -165 -o " +
           Quote(scratch.path() + "/r.html") + " " + Quote(scratch.path() + "/data")),
      scratch.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string html = scratch.ReadFile("r.html");
  EXPECT_NE(html.find("Noise floor: closest to sea state 0 in the decidecade band at 3162 Hz"),
            std::string::npos);
  EXPECT_NE(html.find("above sea state 0"), std::string::npos);
  EXPECT_NE(html.find("<td>1000.0 (891.3 to 1122.0)</td>"), std::string::npos);
  scratch.MakeDirs("zeros");
  for (int k = 0; k < 2; ++k)
    scratch.WriteFile("zeros/126-297-1-30-" + std::to_string(10 + 4 * k),
                      std::string(4 * rate, '\0'));
  r = toolprocess::Run(
      Tool("report --rate 48000 --time-zone UTC0 --sensitivity -165 -o " +
           Quote(scratch.path() + "/z.html") + " " + Quote(scratch.path() + "/zeros")),
      scratch.path());
  ASSERT_EQ(r.status, 0) << r.err;
  html = scratch.ReadFile("z.html");
  EXPECT_NE(html.find("the recording lies below sea state 0 in every band from 100 Hz up"),
            std::string::npos);
}

}  // namespace
