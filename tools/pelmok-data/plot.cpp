// pelmok-data plot, and the pictures the report embeds: cairo for drawing,
// FFTW for spectra, levels from tools/common/levels.
#include "tools/pelmok-data/plot.h"

#include <cairo.h>
#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hardware/sample_values.h"
#include "hostlib/time_zone.h"
#include "tools/common/board_time.h"
#include "tools/common/decimal_option.h"
#include "tools/common/output_file.h"
#include "tools/common/parallel.h"
#include "tools/common/progress_line.h"
#include "tools/common/welch.h"
#include "tools/pelmok-data/calibration_options.h"
#include "tools/pelmok-data/huge_pages.h"
#include "tools/pelmok-data/png_writer.h"
#include "tools/pelmok-data/psd_columns.h"
#include "tools/pelmok-data/psd_percentiles.h"
#include "tools/pelmok-data/record_samples.h"
#include "tools/pelmok-data/subcommand.h"

namespace datatools {
namespace {

constexpr double kNegativeInfinity = -std::numeric_limits<double>::infinity();

struct Rect {
  double x, y, w, h;
};

// Ticks at 1, 2 or 5 times a power of ten, about `target` of them.
std::vector<double> Ticks(double low, double high, int target, double* step) {
  std::vector<double> ticks;
  if (!(high > low)) return ticks;
  const double raw = (high - low) / target;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double s = magnitude;
  for (double f : {1.0, 2.0, 5.0, 10.0}) {
    s = f * magnitude;
    if (s >= raw) break;
  }
  *step = s;
  for (double t = std::ceil(low / s - 1e-9) * s; t <= high + s * 1e-9; t += s)
    ticks.push_back(std::fabs(t) < s * 1e-9 ? 0.0 : t);
  return ticks;
}

// Ticks for a clock axis in seconds: steps a clock reads well.
std::vector<double> TimeTicks(double low, double high, int target, double* step) {
  static const double kSteps[] = {1,     2,     5,     10,    15,     30,    60,
                                  120,   300,   600,   900,   1800,   3600,  7200,
                                  10800, 21600, 43200, 86400, 172800, 604800};
  const double raw = (high - low) / target;
  if (raw < 1) return Ticks(low, high, target, step);
  double s = kSteps[sizeof kSteps / sizeof kSteps[0] - 1];
  for (double k : kSteps) {
    if (k >= raw) {
      s = k;
      break;
    }
  }
  *step = s;
  std::vector<double> ticks;
  for (double t = std::ceil(low / s) * s; t <= high; t += s) ticks.push_back(t);
  return ticks;
}

std::string Number(double v, double step) {
  char text[32];
  const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// "00:59:40" of a UTC second; the date when the axis spans days.
std::string ClockLabel(double utc, bool withDate) {
  const std::string text =
      UtcText(static_cast<int64_t>(std::llround(utc)));  // 2026-10-25T00:59:40Z
  return withDate ? text.substr(5, 5) + " " + text.substr(11, 5) : text.substr(11, 8);
}

// Viridis, sampled: dark blue for the floor, yellow for the top, readable in grey.
void LevelColour(double t, double* r, double* g, double* b) {
  static const double kStops[][3] = {{68, 1, 84},    {71, 44, 122},  {59, 81, 139},
                                     {44, 113, 142}, {33, 144, 141}, {39, 173, 129},
                                     {92, 200, 99},  {170, 220, 50}, {253, 231, 37}};
  t = std::clamp(t, 0.0, 1.0) * 8;
  const int i = std::min(7, static_cast<int>(t));
  const double f = t - i;
  *r = (kStops[i][0] + f * (kStops[i + 1][0] - kStops[i][0])) / 255;
  *g = (kStops[i][1] + f * (kStops[i + 1][1] - kStops[i][1])) / 255;
  *b = (kStops[i][2] + f * (kStops[i + 1][2] - kStops[i][2])) / 255;
}

// A band centre to three significant figures: 19953 Hz as "20000".
std::string NominalHz(double hz) {
  const double unit = std::pow(10.0, std::floor(std::log10(hz)) - 2);
  return Number(std::round(hz / unit) * unit, std::min(1.0, unit));
}

// A level colour as a pixel of a CAIRO_FORMAT_RGB24 surface: 0x00RRGGBB.
uint32_t Rgb24(double t) {
  double r, g, b;
  LevelColour(t, &r, &g, &b);
  auto byte = [](double v) { return static_cast<uint32_t>(std::lround(v * 255)); };
  return byte(r) << 16 | byte(g) << 8 | byte(b);
}

// Colour range: given, or the loudest level rounded up to 10 dB and 120 dB below it.
struct LevelRange {
  double top = 0, floor = -120;
  void Fit(double loudest, const PlotOptions& o) {
    if (std::isfinite(loudest)) top = std::ceil(loudest / 10) * 10;
    if (o.dbTop) top = *o.dbTop;
    floor = o.dbFloor ? *o.dbFloor : top - 120;
    if (!(top > floor)) top = floor + 1;
  }
  double Position(double db) const { return std::isfinite(db) ? (db - floor) / (top - floor) : 0; }
};

// A density's colour index, lround(Position(dB) × 255), without a logarithm
// per pixel (it was a third of drawing a spectrogram). The index steps at 255
// densities; a table over a density's leading bits (its exponent and 7 bits
// of mantissa: 1/128 of an octave) gives the steps below its bucket, and the
// steps within the bucket, if any, are compared. A density within a hair of a
// step takes the logarithm, so the index is always the formula's own.
class ColourIndex {
 public:
  explicit ColourIndex(const LevelRange& range) : range_(range) {
    for (int j = 1; j <= 255; ++j)
      steps_[j - 1] =
          std::pow(10.0, (range.floor + (j - 0.5) / 255 * (range.top - range.floor)) / 10);
    if (!std::isnormal(steps_.front()) || !std::isnormal(steps_.back())) return;
    first_ = Bucket(steps_.front());
    const uint64_t last = Bucket(steps_.back());
    if (last - first_ >= kMaxBuckets) return;
    below_.resize(last - first_ + 1);
    for (uint64_t k = first_; k <= last; ++k) {
      double lowest;
      const uint64_t bits = k << kShift;
      std::memcpy(&lowest, &bits, sizeof lowest);
      below_[k - first_] = static_cast<uint8_t>(
          std::lower_bound(steps_.begin(), steps_.end(), lowest) - steps_.begin());
    }
  }
  int operator()(double density) const {
    if (below_.empty() || !(density > 0) || !std::isfinite(density)) return Exact(density);
    const uint64_t k = Bucket(density);
    int j = k < first_ ? 0 : k - first_ >= below_.size() ? 255 : below_[k - first_];
    while (j < 255 && steps_[j] <= density) ++j;
    const bool near = (j > 0 && density <= steps_[j - 1] * (1 + 1e-9)) ||
                      (j < 255 && density >= steps_[j] * (1 - 1e-9));
    return near ? Exact(density) : j;
  }

 private:
  static constexpr int kShift = 45;  // the sign, the exponent and 7 bits of mantissa stay
  static constexpr uint64_t kMaxBuckets = 1 << 16;
  static uint64_t Bucket(double density) {
    uint64_t bits;
    std::memcpy(&bits, &density, sizeof bits);
    return bits >> kShift;
  }
  int Exact(double density) const {
    return static_cast<int>(
        std::lround(std::clamp(range_.Position(DensityDb(density)), 0.0, 1.0) * 255));
  }

  LevelRange range_;
  std::array<double, 255> steps_{};
  uint64_t first_ = 0;
  std::vector<uint8_t> below_;  // steps below each bucket from first_'s
};

// The frequency axis: linear or logarithmic over [low, high] Hz, labelled in
// Hz or kHz as the range suits.
struct FrequencyAxis {
  double low = 0, high = 0;
  bool log = false;
  bool kilo = false;
  FrequencyAxis(const PlotOptions& o, uint32_t rate) {
    high = o.highHz > 0 ? std::min(o.highHz, rate / 2.0) : rate / 2.0;
    low = o.lowHz;
    log = o.logFrequency;
    // A log axis cannot reach 0 Hz: it starts at the first bin or the range given.
    if (log && low <= 0) low = std::max(1.0, rate / static_cast<double>(o.fftSize));
    kilo = high >= 2000;
  }
  // Fraction of the height (0 bottom, 1 top) of a frequency, and back.
  double Position(double hz) const {
    return log ? std::log(hz / low) / std::log(high / low) : (hz - low) / (high - low);
  }
  double At(double position) const {
    return log ? low * std::pow(high / low, position) : low + position * (high - low);
  }
  std::string Title() const {
    return std::string("frequency (") + (kilo ? "kHz" : "Hz") + (log ? ", log" : "") + ")";
  }
  std::vector<std::pair<double, std::string>> TicksHz() const {
    std::vector<std::pair<double, std::string>> ticks;
    const double unit = kilo ? 1000 : 1;
    if (log) {
      for (double decade = std::pow(10.0, std::floor(std::log10(low))); decade <= high;
           decade *= 10)
        for (double m : {1.0, 2.0, 5.0}) {
          const double f = decade * m;
          if (f >= low * 0.999 && f <= high * 1.001)
            ticks.push_back({f, Number(f / unit, f / unit >= 1 ? 1 : f / unit)});
        }
    } else {
      double step = 1;
      for (double t : Ticks(low / unit, high / unit, 8, &step))
        ticks.push_back({t * unit, Number(t, step)});
    }
    return ticks;
  }
};

class Canvas {
 public:
  Canvas(int width, int height)
      : stride_(cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width)),
        pixels_(static_cast<size_t>(stride_) * static_cast<size_t>(height)),
        surface_(cairo_image_surface_create_for_data(pixels_.data(), CAIRO_FORMAT_RGB24, width,
                                                     height, stride_)),
        cr_(cairo_create(surface_)) {
    cairo_set_source_rgb(cr_, 1, 1, 1);
    cairo_paint(cr_);
    cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  }
  ~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  cairo_t* cr() { return cr_; }

  // Text anchored at (x, y): ax, ay from 0 (left/top) to 1 (right/bottom).
  void Text(const std::string& text, double x, double y, double ax, double ay, double size,
            double angle = 0) {
    cairo_save(cr_);
    cairo_set_font_size(cr_, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr_, text.c_str(), &e);
    cairo_translate(cr_, x, y);
    cairo_rotate(cr_, angle);
    cairo_move_to(cr_, -e.x_advance * ax, e.height * (1 - ay));
    cairo_set_source_rgb(cr_, 0, 0, 0);
    cairo_show_text(cr_, text.c_str());
    cairo_restore(cr_);
  }
  void Frame(const Rect& r) {
    cairo_set_source_rgb(cr_, 0, 0, 0);
    cairo_set_line_width(cr_, 1);
    cairo_rectangle(cr_, std::floor(r.x) + 0.5, std::floor(r.y) + 0.5, r.w, r.h);
    cairo_stroke(cr_);
  }
  void Line(double x0, double y0, double x1, double y1) {
    cairo_set_line_width(cr_, 1);
    cairo_move_to(cr_, x0, y0);
    cairo_line_to(cr_, x1, y1);
    cairo_stroke(cr_);
  }
  void Fill(const Rect& r, double red, double green, double blue) {
    cairo_set_source_rgb(cr_, red, green, blue);
    cairo_rectangle(cr_, r.x, r.y, r.w, r.h);
    cairo_fill(cr_);
  }
  // Ticks and labels along the bottom of r for values low..high.
  void XAxis(const Rect& r, double low, double high, const std::vector<double>& ticks,
             const std::vector<std::string>& labels, const std::string& title) {
    cairo_set_source_rgb(cr_, 0, 0, 0);
    for (size_t i = 0; i < ticks.size(); ++i) {
      const double x = std::floor(r.x + (ticks[i] - low) / (high - low) * r.w) + 0.5;
      Line(x, r.y + r.h, x, r.y + r.h + 5);
      Text(labels[i], x, r.y + r.h + 8, 0.5, 0, 12);
    }
    if (!title.empty()) Text(title, r.x + r.w / 2, r.y + r.h + 28, 0.5, 0, 13);
  }
  // Ticks along the left at positions 0 (bottom) to 1 (top).
  void YAxis(const Rect& r, const std::vector<std::pair<double, std::string>>& ticks,
             const std::string& title) {
    cairo_set_source_rgb(cr_, 0, 0, 0);
    for (const auto& [position, label] : ticks) {
      const double y = std::floor(r.y + r.h - position * r.h) + 0.5;
      Line(r.x - 5, y, r.x, y);
      Text(label, r.x - 8, y, 1, 0.5, 12);
    }
    Text(title, r.x - 70, r.y + r.h / 2, 0.5, 0.5, 13, -M_PI / 2);
  }
  // The columns' spectra, one per pixel column of r from its left edge,
  // written straight into the image; each pixel row shows the loudest bin it
  // covers, so a line stays visible. Columns with nothing are left as they are.
  void Levels(const Rect& r, const SpectrumColumns& columns, const std::vector<double>& factors,
              const LevelRange& range, const FrequencyAxis& axis) {
    const int x0 = static_cast<int>(std::floor(r.x)), y0 = static_cast<int>(std::floor(r.y));
    const int width = std::min(columns.Columns(), cairo_image_surface_get_width(surface_) - x0);
    const int rows = std::min(static_cast<int>(r.h), cairo_image_surface_get_height(surface_) - y0);
    const size_t last = columns.Bins() - 1;
    std::vector<std::pair<size_t, size_t>> binsOfRow(static_cast<size_t>(std::max(0, rows)));
    for (int y = 0; y < rows; ++y) {
      const double f0 = axis.At((r.h - y - 1) / r.h), f1 = axis.At((r.h - y) / r.h);
      const size_t k0 =
          std::min(last, static_cast<size_t>(std::max(0.0, std::round(f0 / columns.BinHz()))));
      binsOfRow[y] = {
          k0, std::min(last, std::max(k0, static_cast<size_t>(std::round(f1 / columns.BinHz()))))};
    }
    std::vector<uint32_t> palette(256);
    for (int i = 0; i < 256; ++i) palette[i] = Rgb24(i / 255.0);
    const ColourIndex index(range);
    cairo_surface_flush(surface_);
    unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int c = 0; c < width; ++c) {
      const std::vector<double> bins = columns.Densities(c, factors);
      if (bins.empty()) continue;
      for (int y = 0; y < rows; ++y) {
        double loudest = 0;
        for (size_t k = binsOfRow[y].first; k <= binsOfRow[y].second; ++k)
          loudest = std::max(loudest, bins[k]);
        reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y0 + y) * stride)[x0 + c] =
            palette[index(loudest)];
      }
    }
    cairo_surface_mark_dirty(surface_);
  }
  // A grid written straight into the image: pixel column c of r shows
  // position(c, row) for the `rows` rows stacked from the bottom (0 to 1 on
  // the colour scale; NaN leaves the pixel as it is).
  template <typename Position>
  void Cells(const Rect& r, int rows, Position position) {
    const int x0 = static_cast<int>(std::floor(r.x)), y0 = static_cast<int>(std::floor(r.y));
    const int width = std::min(static_cast<int>(r.w), cairo_image_surface_get_width(surface_) - x0);
    const int height =
        std::min(static_cast<int>(r.h), cairo_image_surface_get_height(surface_) - y0);
    cairo_surface_flush(surface_);
    unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int c = 0; c < width; ++c) {
      for (int y = 0; y < height; ++y) {
        const int row = std::min(rows - 1, (height - 1 - y) * rows / height);
        const double t = position(c, row);
        if (std::isnan(t)) continue;
        reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y0 + y) * stride)[x0 + c] = Rgb24(t);
      }
    }
    cairo_surface_mark_dirty(surface_);
  }
  void ColourBar(const Rect& r, const LevelRange& range, const std::string& unit) {
    for (int y = 0; y < static_cast<int>(r.h); ++y) {
      double red, green, blue;
      LevelColour(1.0 - y / r.h, &red, &green, &blue);
      Fill({r.x, r.y + y, r.w, 1}, red, green, blue);
    }
    Frame(r);
    double step = 1;
    for (double t : Ticks(range.floor, range.top, 6, &step)) {
      const double y =
          std::floor(r.y + r.h - (t - range.floor) / (range.top - range.floor) * r.h) + 0.5;
      cairo_set_source_rgb(cr_, 0, 0, 0);
      Line(r.x + r.w, y, r.x + r.w + 4, y);
      Text(Number(t, step), r.x + r.w + 6, y, 0, 0.5, 11);
    }
    Text("level (" + unit + ")", r.x + r.w + 48, r.y + r.h / 2, 0.5, 0.5, 13, -M_PI / 2);
  }
  // The picture's title, drawn along its top at x and kept for the PNG's
  // "Title" text, where a program reads what the picture says.
  void Title(const std::string& text, double x) {
    title_ = text;
    Text(text, x, 12, 0, 0, 15);
  }
  bool Png(std::string* png, std::string* error) {
    return WriteFastPng(surface_, title_, png, error);
  }

 private:
  int stride_;
  std::vector<unsigned char, HugePageAllocator<unsigned char>> pixels_;
  cairo_surface_t* surface_;
  cairo_t* cr_;
  std::string title_;
};

// The parts of a picture: plot areas leave room for labels and the colour bar.
constexpr double kLeft = 95, kRight = 120, kTop = 60, kBottom = 78;

std::vector<std::pair<double, std::string>> FrequencyTicks(const FrequencyAxis& axis) {
  std::vector<std::pair<double, std::string>> ticks;
  for (const auto& [hz, label] : axis.TicksHz()) ticks.push_back({axis.Position(hz), label});
  return ticks;
}

// Volts in the unit that suits the range: V, mV or µV.
struct VoltScale {
  double factor = 1;
  const char* unit = "V";
  explicit VoltScale(double largest) {
    if (largest < 1e-3) {
      factor = 1e6;
      unit = "\xC2\xB5V";
    } else if (largest < 1) {
      factor = 1e3;
      unit = "mV";
    }
  }
};

// What the picture covers in UTC: the records' starts to ends, within --from/--to.
bool InWindow(const Deployment& d, const Record& r, const PlotOptions& o) {
  if (!r.HasTime()) return false;
  const double start = r.StartUtc(d.settings.rate), end = static_cast<double>(r.writeUtc);
  return (!o.from || end > *o.from) && (!o.to || start < *o.to);
}

// "UTC; local time UTC+02:00 until 2026-10-25T01:00:00Z, then UTC+01:00".
std::string ZoneNote(const Deployment& d, double t0, double t1) {
  if (!d.UtcKnown()) return "the board's local clock: UTC not known (no time zone given)";
  const int64_t first = static_cast<int64_t>(std::floor(t0));
  std::string text =
      "UTC; the board's local time UTC" + OffsetText(d.settings.zone.OffsetAt(first));
  for (const ClockChange& c :
       d.settings.zone.ChangesBetween(first, static_cast<int64_t>(std::ceil(t1)) + 1))
    text += " until " + UtcText(c.utc) + ", then UTC" + OffsetText(c.offsetAfter);
  return text;
}

// "dB re 1 µPa²/Hz", or against the full-scale code without a calibration.
std::string DensityUnit(const Calibration& c) {
  return c.calibrated ? "dB re 1 \xC2\xB5Pa\xC2\xB2/Hz" : "dB re 1 FS\xC2\xB2/Hz";
}

// The loudest bin's level in dB.
double Loudest(const SpectrumColumns& columns, const std::vector<double>& factors) {
  double loudest = 0;
  for (int c = 0; c < columns.Columns(); ++c)
    for (double density : columns.Densities(c, factors)) loudest = std::max(loudest, density);
  return DensityDb(loudest);
}

// Every window of every shown record onto the pixel columns its samples
// cover, each record for its own length; records on o.jobs threads, added in
// order, so the picture does not depend on the thread count.
bool GatherRecords(const Deployment& d, const std::vector<size_t>& shown, const PlotOptions& o,
                   double t0, double t1, SpectrumColumns* columns, std::string* error) {
  struct Result {
    std::vector<double> density;
    double binHz = 0;
    std::string error;
  };
  bool ok = true;
  const double perSecond = columns->Columns() / (t1 - t0);
  ProgressLine progress("plot", shown.size());
  ForEachInOrder<Result>(
      shown.size(), o.jobs,
      [&](size_t k) {
        Result r;
        RecordDensity(d, d.records[shown[k]], o.fftSize, &r.density, &r.binHz, &r.error);
        return r;
      },
      [&](size_t k, Result& r) {
        if (!ok || !r.error.empty()) {
          if (ok) *error = r.error;
          ok = false;
          return;
        }
        const Record& record = d.records[shown[k]];
        const int c0 =
            static_cast<int>(std::floor((record.StartUtc(d.settings.rate) - t0) * perSecond));
        const int c1 = std::max(
            c0, static_cast<int>(std::ceil((record.EndUtc(d.settings.rate) - t0) * perSecond)) - 1);
        for (int c = std::max(0, c0); c <= std::min(columns->Columns() - 1, c1); ++c)
          columns->Add(c, r.density, r.binHz);
        progress.Done(k + 1);
      });
  return ok;
}

// Pauses between records (the board's duty cycle) light grey; gaps (missing
// writes, restarts) hatched grey.
void DrawPausesAndGaps(Canvas& canvas, const Rect& area, const Deployment& d, double t0,
                       double t1) {
  canvas.Fill(area, 0.95, 0.95, 0.95);
  cairo_t* cr = canvas.cr();
  for (const Gap& g : d.gaps) {
    const double a = d.records[g.after].EndUtc(d.settings.rate),
                 b = d.records[g.before].StartUtc(d.settings.rate);
    const double x0 = area.x + std::max(0.0, (a - t0) / (t1 - t0)) * area.w;
    const double x1 = area.x + std::min(1.0, (b - t0) / (t1 - t0)) * area.w;
    if (!(x1 > x0)) continue;
    canvas.Fill({x0, area.y, x1 - x0, area.h}, 0.85, 0.85, 0.85);
    cairo_save(cr);
    cairo_rectangle(cr, x0, area.y, x1 - x0, area.h);
    cairo_clip(cr);
    cairo_set_source_rgb(cr, 0.72, 0.72, 0.72);
    for (double x = x0 - area.h; x < x1; x += 12)
      canvas.Line(x, area.y + area.h, x + area.h, area.y);
    cairo_restore(cr);
  }
}

// One pass over the record's samples [first, last): each pixel column's
// waveform range, and every Welch window onto the column of its centre.
bool ScanRecord(const Deployment& d, const Record& r, size_t first, size_t last, size_t fft,
                std::vector<int32_t>* low, std::vector<int32_t>* high, SpectrumColumns* spectra,
                std::string* error) {
  const uint64_t samples = last - first;
  const int columns = spectra->Columns();
  WelchSpectra welch(fft, d.settings.rate);
  const uint64_t step = welch.Length() - welch.Length() / 2;
  uint64_t window = 0, at = 0;
  const WelchSpectra::WindowSink sink = [&](const std::vector<double>& density) {
    const uint64_t centre = window++ * step + welch.Length() / 2;
    spectra->Add(static_cast<int>(std::min<uint64_t>(columns - 1, centre * columns / samples)),
                 density, welch.BinHz());
  };
  const bool read = ForEachRecordBlock(
      d, r,
      [&](const std::vector<int32_t>& codes, const std::vector<uint32_t>&) {
        const size_t a =
            static_cast<size_t>(std::clamp<uint64_t>(first, at, at + codes.size()) - at);
        const size_t b =
            static_cast<size_t>(std::clamp<uint64_t>(last, at, at + codes.size()) - at);
        for (size_t i = a; i < b; ++i) {
          const size_t c = static_cast<size_t>((at + i - first) * columns / samples);
          (*low)[c] = std::min((*low)[c], codes[i]);
          (*high)[c] = std::max((*high)[c], codes[i]);
        }
        if (b > a) welch.Add(codes.data() + a, b - a, sink);
        at += codes.size();
      },
      error);
  spectra->FillFromNearest();
  return read;
}

// Axes of the percentile picture: log frequency below, level on the left.
void PercentileFrame(Canvas& canvas, const Rect& area, const PlotOptions& o, uint32_t rate,
                     double lowHz, double highHz, double dbLow, double dbHigh) {
  PlotOptions log = o;
  log.logFrequency = true;
  log.lowHz = lowHz;
  log.highHz = highHz;
  const FrequencyAxis axis(log, rate);
  std::vector<double> ticks;
  std::vector<std::string> labels;
  for (const auto& [hz, label] : axis.TicksHz()) {
    ticks.push_back(std::log10(hz));
    labels.push_back(label);
  }
  canvas.Frame(area);
  canvas.XAxis(area, std::log10(lowHz), std::log10(highHz), ticks, labels, axis.Title());
  double step = 1;
  std::vector<std::pair<double, std::string>> levels;
  for (double t : Ticks(dbLow, dbHigh, 8, &step))
    levels.push_back({(t - dbLow) / (dbHigh - dbLow), Number(t, step)});
  canvas.YAxis(area, levels, DensityUnit(o.calibration));
}

}  // namespace

bool CheckPlotOptions(const PlotOptions& o, uint32_t rateHz, std::string* error) {
  if (o.width < 400 || o.height < 300 || o.width > 10000 || o.height > 10000) {
    *error = "picture size must be 400x300 to 10000x10000 pixels";
    return false;
  }
  if (o.fftSize < 64 || o.fftSize > 65536 || (o.fftSize & (o.fftSize - 1)) != 0) {
    *error = "--fft must be a power of two from 64 to 65536";
    return false;
  }
  const double high = o.highHz > 0 ? o.highHz : rateHz / 2.0;
  if (o.lowHz < 0 || !(high > o.lowHz) || o.lowHz >= rateHz / 2.0 || high > rateHz / 2.0) {
    *error = "the frequency range must lie within 0 to " + std::to_string(rateHz / 2) +
             " Hz, low below high";
    return false;
  }
  if (o.dbFloor && o.dbTop && !(*o.dbTop > *o.dbFloor)) {
    *error = "--db-max must be above --db-min";
    return false;
  }
  if (o.from && o.to && !(*o.to > *o.from)) {
    *error = "--to must be after --from";
    return false;
  }
  return true;
}

namespace {

// What DrawTimeMarks marked, for the legend.
struct TimeMarks {
  bool resolved = false;
  bool ambiguous = false;
};

// Gap labels where there is room, clock changes as dashed lines, and a mark
// above each record whose time the cadence chose or that is ambiguous.
TimeMarks DrawTimeMarks(Canvas& canvas, const Rect& area, const Deployment& d,
                        const std::vector<size_t>& shown, double t0, double t1) {
  const uint32_t rate = d.settings.rate;
  cairo_t* cr = canvas.cr();
  // Gap labels where there is room.
  for (const Gap& g : d.gaps) {
    const double a = d.records[g.after].writeUtc, b = d.records[g.before].StartUtc(rate);
    const double x0 = area.x + std::max(0.0, (a - t0) / (t1 - t0)) * area.w;
    const double x1 = area.x + std::min(1.0, (b - t0) / (t1 - t0)) * area.w;
    if (x1 - x0 > 60) {
      char text[64];
      std::snprintf(text, sizeof text, "gap %.0f s", g.silence);
      canvas.Text(text, (x0 + x1) / 2, area.y + area.h / 2, 0.5, 0.5, 12);
    }
  }
  // Clock changes: dashed lines; ambiguous and resolved records: marks above.
  cairo_set_source_rgb(cr, 0.85, 0.1, 0.1);
  for (const ClockChange& c :
       d.settings.zone.ChangesBetween(static_cast<int64_t>(t0), static_cast<int64_t>(t1) + 1)) {
    const double x = area.x + (c.utc - t0) / (t1 - t0) * area.w;
    const double dash[] = {4, 3};
    cairo_set_dash(cr, dash, 2, 0);
    canvas.Line(x, area.y, x, area.y + area.h);
    cairo_set_dash(cr, nullptr, 0, 0);
    canvas.Text(
        "UTC" + OffsetText(c.offsetBefore) + " \xE2\x86\x92 UTC" + OffsetText(c.offsetAfter), x,
        area.y - 4, 0.5, 1, 10);
  }
  TimeMarks marks;
  for (size_t k = 0; k < shown.size(); ++k) {
    const Record& r = d.records[shown[k]];
    if (r.source != TimeSource::kCadence && r.source != TimeSource::kAmbiguous) continue;
    const bool ambiguous = r.source == TimeSource::kAmbiguous;
    (ambiguous ? marks.ambiguous : marks.resolved) = true;
    const double x = area.x + ((r.StartUtc(rate) + r.EndUtc(rate)) / 2 - t0) / (t1 - t0) * area.w;
    if (ambiguous)
      cairo_set_source_rgb(cr, 0.85, 0.1, 0.1);
    else
      cairo_set_source_rgb(cr, 0.95, 0.6, 0.1);
    cairo_move_to(cr, x, area.y - 1);
    cairo_line_to(cr, x - 5, area.y - 10);
    cairo_line_to(cr, x + 5, area.y - 10);
    cairo_close_path(cr);
    cairo_fill(cr);
  }

  return marks;
}

// The long-term picture's title and legend.
void DrawDeploymentCaption(Canvas& canvas, const Deployment& d, const std::vector<size_t>& shown,
                           const PlotOptions& o, const TimeMarks& marks) {
  const uint32_t rate = d.settings.rate;
  const Record& first = d.records[shown.front()];
  const Record& last = d.records[shown.back()];
  canvas.Title(std::to_string(shown.size()) + " records, " + d.StartText(first, 0) + " to " +
                   d.WriteText(last) + "   long-term spectral average",
               kLeft);
  std::string legend =
      "each record for its own length, the mean of all its windows (Welch: Hann, FFT " +
      std::to_string(o.fftSize) + ", 50% overlap, " + std::to_string(rate) +
      " Hz); light grey: pauses between records; hatched: gaps";
  if (marks.resolved) legend += "; orange mark: time chosen by the cadence";
  if (marks.ambiguous) legend += "; red mark: ambiguous time (earlier candidate shown)";
  legend += "; " + o.calibration.Text();
  canvas.Text(legend, kLeft, 32, 0, 0, 11);
}

}  // namespace

bool DrawDeployment(const Deployment& d, const PlotOptions& o, std::string* png,
                    std::string* error) {
  const uint32_t rate = d.settings.rate;
  std::vector<size_t> shown;
  for (size_t i = 0; i < d.records.size(); ++i)
    if (InWindow(d, d.records[i], o) && d.records[i].words > 0) shown.push_back(i);
  if (shown.empty()) {
    *error =
        "no timed records to plot" + std::string(o.from || o.to ? " between --from and --to" : "");
    return false;
  }
  double t0 = d.records[shown.front()].StartUtc(rate),
         t1 = static_cast<double>(d.records[shown.back()].writeUtc);
  for (size_t i : shown) t1 = std::max(t1, static_cast<double>(d.records[i].writeUtc));
  if (o.from) t0 = std::max(t0, *o.from);
  if (o.to) t1 = std::min(t1, *o.to);
  if (t1 - t0 < 1) t1 = t0 + 1;

  Canvas canvas(o.width, o.height);
  const Rect area{kLeft, kTop, o.width - kLeft - kRight, o.height - kTop - kBottom};
  const FrequencyAxis axis(o, rate);
  SpectrumColumns columns(static_cast<int>(area.w), o.fftSize / 2 + 1,
                          static_cast<double>(rate) / o.fftSize);
  if (!GatherRecords(d, shown, o, t0, t1, &columns, error)) return false;
  const std::vector<double> factors = columns.Factors(o.calibration);
  LevelRange range;
  range.Fit(Loudest(columns, factors), o);
  DrawPausesAndGaps(canvas, area, d, t0, t1);
  canvas.Levels(area, columns, factors, range, axis);
  const TimeMarks marks = DrawTimeMarks(canvas, area, d, shown, t0, t1);
  canvas.Frame(area);
  canvas.YAxis(area, FrequencyTicks(axis), axis.Title());
  double step = 1;
  const bool days = t1 - t0 > 86400;
  std::vector<double> ticks = TimeTicks(t0, t1, 8, &step);
  std::vector<std::string> labels;
  labels.reserve(ticks.size());
  for (double t : ticks) labels.push_back(ClockLabel(t, days));
  canvas.XAxis(area, t0, t1, ticks, labels, "");
  canvas.Text(ZoneNote(d, t0, t1), area.x + area.w / 2, area.y + area.h + 30, 0.5, 0, 12);
  canvas.ColourBar({area.x + area.w + 18, area.y, 16, area.h}, range, DensityUnit(o.calibration));

  DrawDeploymentCaption(canvas, d, shown, o, marks);
  return canvas.Png(png, error);
}

namespace {

// The waveform: each pixel column's range of codes in volts at the converter.
void DrawWaveform(Canvas& canvas, const Rect& wave, const std::vector<int32_t>& low,
                  const std::vector<int32_t>& high) {
  const int columns = static_cast<int>(low.size());
  double vLow = AdcCodeToVolts(*std::min_element(low.begin(), low.end()));
  double vHigh = AdcCodeToVolts(*std::max_element(high.begin(), high.end()));
  const double pad = std::max((vHigh - vLow) * 0.05, 10 * AdcCodeToVolts(1));
  vLow -= pad;
  vHigh += pad;
  const VoltScale volts(std::max(std::fabs(vLow), std::fabs(vHigh)));

  cairo_t* cr = canvas.cr();
  if (vLow < 0 && vHigh > 0) {
    cairo_set_source_rgb(cr, 0.8, 0.8, 0.8);
    const double y = wave.y + wave.h - (0 - vLow) / (vHigh - vLow) * wave.h;
    canvas.Line(wave.x, y, wave.x + wave.w, y);
  }
  cairo_set_source_rgb(cr, 0.12, 0.3, 0.65);
  for (int c = 0; c < columns; ++c) {
    if (low[c] > high[c]) continue;  // fewer samples than columns
    const double y0 = wave.y + wave.h - (AdcCodeToVolts(low[c]) - vLow) / (vHigh - vLow) * wave.h;
    const double y1 = wave.y + wave.h - (AdcCodeToVolts(high[c]) - vLow) / (vHigh - vLow) * wave.h;
    canvas.Line(wave.x + c + 0.5, y0 + 0.5, wave.x + c + 0.5, y1 - 0.5);
  }
  canvas.Frame(wave);
  std::vector<std::pair<double, std::string>> vTicks;
  double vStep = 1;
  for (double t : Ticks(vLow * volts.factor, vHigh * volts.factor, 4, &vStep))
    vTicks.push_back({(t / volts.factor - vLow) / (vHigh - vLow), Number(t, vStep)});
  canvas.YAxis(wave, vTicks, std::string("at the converter (") + volts.unit + ")");
}

// A record's picture's title and the line that says what it shows.
void DrawRecordCaption(Canvas& canvas, const Deployment& d, const Record& r, size_t samples,
                       size_t fft, const PlotOptions& o) {
  const uint32_t rate = d.settings.rate;
  const double duration = static_cast<double>(samples) / rate;
  std::string title = d.files[r.file].name + " record " + std::to_string(r.index);
  if (r.HasTime()) title += "   starts " + d.StartText(r, 3) + ", written " + d.WriteText(r);
  if (r.source == TimeSource::kCadence) title += " (time chosen by the cadence)";
  if (r.source == TimeSource::kAssumed) title += " (time as --assume says)";
  char detail[160];
  std::snprintf(detail, sizeof detail,
                "%zu samples at %u Hz, %.3f s; every window: FFT %zu, Hann, 50%% overlap; %s",
                samples, rate, duration, fft, o.calibration.Text().c_str());
  canvas.Title(title, kLeft);
  canvas.Text(detail, kLeft, 34, 0, 0, 11);
}

}  // namespace

bool DrawRecord(const Deployment& d, const Record& r, const PlotOptions& o, std::string* png,
                std::string* error) {
  const uint32_t rate = d.settings.rate;
  // --from/--to cut the record itself.
  const size_t words = static_cast<size_t>(r.words);
  size_t first = 0, last = words;
  const double start = r.HasTime() ? r.StartUtc(rate) : 0;
  if (r.HasTime() && o.from && *o.from > start)
    first = std::min(words, static_cast<size_t>((*o.from - start) * rate));
  if (r.HasTime() && o.to && *o.to < start + static_cast<double>(words) / rate)
    last = std::max(first, static_cast<size_t>(std::max(0.0, (*o.to - start) * rate)));
  if (last <= first) {
    *error = d.files[r.file].path + ": no samples to plot" +
             (o.from || o.to ? " between --from and --to" : "");
    return false;
  }
  const size_t samples = last - first;
  Canvas canvas(o.width, o.height);
  const double plotWidth = o.width - kLeft - kRight;
  const double area = o.height - kTop - kBottom;
  const Rect wave{kLeft, kTop, plotWidth, std::floor(area * 0.3)};
  const Rect spectrogram{kLeft, wave.y + wave.h + 46, plotWidth, area - wave.h - 46};
  const int columns = static_cast<int>(plotWidth);

  // Waveform: the range of each pixel column; spectrogram: every window.
  std::vector<int32_t> low(columns, std::numeric_limits<int32_t>::max());
  std::vector<int32_t> high(columns, std::numeric_limits<int32_t>::min());
  const size_t fft = std::min(o.fftSize, std::max<size_t>(2, samples));
  SpectrumColumns spectra(columns, fft / 2 + 1, static_cast<double>(rate) / fft);
  if (!ScanRecord(d, r, first, last, fft, &low, &high, &spectra, error)) return false;
  const double duration = static_cast<double>(samples) / rate;
  const double offset = static_cast<double>(first) / rate;
  double tStep = 1;
  const std::vector<double> tTicks = Ticks(offset, offset + duration, 8, &tStep);
  std::vector<std::string> tLabels;
  tLabels.reserve(tTicks.size());
  for (double t : tTicks) tLabels.push_back(Number(t, tStep));
  DrawWaveform(canvas, wave, low, high);
  canvas.XAxis(wave, offset, offset + duration, tTicks, tLabels, "");

  const FrequencyAxis axis(o, rate);
  const std::vector<double> factors = spectra.Factors(o.calibration);
  LevelRange range;
  range.Fit(Loudest(spectra, factors), o);
  canvas.Levels(spectrogram, spectra, factors, range, axis);
  canvas.Frame(spectrogram);
  canvas.YAxis(spectrogram, FrequencyTicks(axis), axis.Title());
  canvas.XAxis(spectrogram, offset, offset + duration, tTicks, tLabels,
               !r.HasTime() ? std::string("seconds from the file's first sample (no time known)")
               : r.Definite() && d.UtcKnown()
                   ? "seconds from " + d.StartText(r, 3) + " (UTC; local " +
                         LocalText(d.settings.zone, static_cast<int64_t>(std::floor(start))) + ")"
                   : "seconds from " + d.StartText(r, 3));
  canvas.ColourBar({spectrogram.x + spectrogram.w + 18, spectrogram.y, 16, spectrogram.h}, range,
                   DensityUnit(o.calibration));

  DrawRecordCaption(canvas, d, r, samples, fft, o);
  return canvas.Png(png, error);
}

namespace {

// Spectral percentiles of every window of every record; the caller merges
// the means in record order.
bool GatherStatistics(const Deployment& d, const PlotOptions& o, SpectralStatistics* stats,
                      std::string* error) {
  struct Result {
    std::vector<double> meanSum;
    uint64_t windows = 0;
    std::string error;
  };
  bool ok = true;
  ForEachInOrder<Result>(
      d.records.size(), o.jobs,
      [&](size_t i) {
        Result r;
        stats->AddRecord(d, d.records[i], &r.meanSum, &r.windows, &r.error);
        return r;
      },
      [&](size_t, Result& r) {
        if (ok && !r.error.empty()) *error = r.error;
        ok = ok && r.error.empty();
        if (ok) stats->AddMean(r.meanSum, r.windows);
      });
  return ok;
}

// A curve over the log frequency axis: x from log10 of the frequency.
void Curve(Canvas& canvas, const Rect& area, const std::vector<std::pair<double, double>>& points,
           double lowLog, double highLog, double dbLow, double dbHigh) {
  cairo_t* cr = canvas.cr();
  bool drawing = false;
  for (const auto& [hz, db] : points) {
    if (!std::isfinite(db) || hz <= 0) {
      drawing = false;
      continue;
    }
    const double x = area.x + (std::log10(hz) - lowLog) / (highLog - lowLog) * area.w;
    const double y = area.y + area.h - (db - dbLow) / (dbHigh - dbLow) * area.h;
    drawing ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
    drawing = true;
  }
  cairo_stroke(cr);
}

}  // namespace

bool DrawPercentiles(const Deployment& d, const PlotOptions& o, std::string* png,
                     std::string* verdict, std::string* error) {
  const LevelBands bands = BandsFor(d.settings.rate, o.windowSeconds, o.calibration);
  SpectralStatistics stats(bands, o.calibration);
  if (!GatherStatistics(d, o, &stats, error)) return false;
  *verdict = NoiseFloorVerdict(stats, o.calibration);
  const bool references = o.calibration.calibrated;
  const double lowHz = std::max(1.0, o.lowHz),
               highHz = o.highHz > 0 ? o.highHz : d.settings.rate / 2.0;
  std::vector<std::pair<double, double>> curves[4];  // 5th, 50th, 95th, mean
  double dbLow = std::numeric_limits<double>::infinity(), dbHigh = -dbLow;
  for (size_t i = 0; i < stats.HmdBands(); ++i) {
    const double hz = bands.hmd[i].centreHz;
    if (hz < lowHz || hz > highHz) continue;
    const double values[4] = {stats.PercentileDb(i, 5), stats.PercentileDb(i, 50),
                              stats.PercentileDb(i, 95), stats.MeanDb(i)};
    for (int k = 0; k < 4; ++k) {
      curves[k].push_back({hz, values[k]});
      if (std::isfinite(values[k]))
        dbLow = std::min(dbLow, values[k]), dbHigh = std::max(dbHigh, values[k]);
    }
  }
  if (stats.Windows() == 0) {
    *error = "no windows to take percentiles of";
    return false;
  }
  if (!std::isfinite(dbLow)) {  // silence: every density -inf
    dbLow = references ? -10 : -200;
    dbHigh = dbLow + 60;
  }
  if (references) dbHigh = std::max(dbHigh, KnudsenDb(std::max(100.0, lowHz), 6));
  dbLow = std::floor(dbLow / 10) * 10 - 10;
  dbHigh = std::ceil(dbHigh / 10) * 10 + 10;
  Canvas canvas(o.width, o.height);
  const Rect area{kLeft, kTop, o.width - kLeft - kRight / 2, o.height - kTop - kBottom};
  const double lowLog = std::log10(lowHz), highLog = std::log10(highHz);
  cairo_t* cr = canvas.cr();
  cairo_save(cr);
  cairo_rectangle(cr, area.x, area.y, area.w, area.h);
  cairo_clip(cr);
  cairo_set_line_width(cr, 1.5);
  const double colours[4][3] = {{0.55, 0.7, 0.95}, {0.1, 0.3, 0.75}, {0.05, 0.1, 0.4}, {0, 0, 0}};
  for (int k = 0; k < 4; ++k) {
    cairo_set_source_rgb(cr, colours[k][0], colours[k][1], colours[k][2]);
    Curve(canvas, area, curves[k], lowLog, highLog, dbLow, dbHigh);
  }
  if (references) {
    std::vector<std::pair<double, double>> ss0, ss6, thermal;
    for (double e = lowLog; e <= highLog + 1e-9; e += (highLog - lowLog) / 200) {
      const double hz = std::pow(10.0, e);
      if (hz >= 100) ss0.push_back({hz, KnudsenDb(hz, 0)}), ss6.push_back({hz, KnudsenDb(hz, 6)});
      thermal.push_back({hz, ThermalDb(hz)});
    }
    const double dash[] = {6, 4};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_source_rgb(cr, 0.1, 0.6, 0.2);
    Curve(canvas, area, ss0, lowLog, highLog, dbLow, dbHigh);
    cairo_set_source_rgb(cr, 0.9, 0.5, 0.1);
    Curve(canvas, area, ss6, lowLog, highLog, dbLow, dbHigh);
    cairo_set_source_rgb(cr, 0.8, 0.1, 0.1);
    Curve(canvas, area, thermal, lowLog, highLog, dbLow, dbHigh);
    cairo_set_dash(cr, nullptr, 0, 0);
  }
  cairo_restore(cr);
  PercentileFrame(canvas, area, o, d.settings.rate, lowHz, highHz, dbLow, dbHigh);
  std::string legend = "over " + std::to_string(stats.Windows()) + " windows of " +
                       std::to_string(d.records.size()) +
                       " records; hybrid millidecade bands; light to dark blue: 5th, 50th, 95th "
                       "percentile; black: mean";
  if (references)
    legend += "; dashed: sea state 0 (green) and 6 (orange) after Knudsen, thermal noise (red)";
  canvas.Title("spectral percentiles, " + o.calibration.Text(), kLeft);
  canvas.Text(legend, kLeft, 32, 0, 0, 11);
  canvas.Text(references
                  ? *verdict
                  : "no calibration: no comparison with the sea's noise (give --sensitivity or "
                    "--calibration)",
              kLeft, 46, 0, 0, 11);
  return canvas.Png(png, error);
}

// The bands' frame: band centres up the side, UTC along the bottom, the zone below.
void DrawBandAxes(Canvas& canvas, const Rect& area, const Deployment& d, const LevelBands& bands,
                  double t0, double t1) {
  const int rows = static_cast<int>(bands.decidecade.size());
  canvas.Frame(area);
  std::vector<std::pair<double, std::string>> ticks;
  for (int b = 0; b < rows; b += 3)
    ticks.push_back({(b + 0.5) / rows, NominalHz(bands.decidecade[b].centreHz)});
  canvas.YAxis(area, ticks, "decidecade band centre (Hz)");
  double step = 1;
  const std::vector<double> times = TimeTicks(t0, t1, 8, &step);
  std::vector<std::string> labels;
  labels.reserve(times.size());
  for (double t : times) labels.push_back(ClockLabel(t, t1 - t0 > 86400));
  canvas.XAxis(area, t0, t1, times, labels, "");
  canvas.Text(ZoneNote(d, t0, t1), area.x + area.w / 2, area.y + area.h + 30, 0.5, 0, 12);
}

bool DrawBands(const Deployment& d, const PlotOptions& o, std::string* png, std::string* error,
               std::vector<std::vector<double>>* decidecade) {
  const uint32_t rate = d.settings.rate;
  std::vector<size_t> shown;
  for (size_t i = 0; i < d.records.size(); ++i)
    if (InWindow(d, d.records[i], o) && d.records[i].words > 0) shown.push_back(i);
  const LevelBands bands = BandsFor(rate, o.windowSeconds, o.calibration);
  const int rows = static_cast<int>(bands.decidecade.size());
  if (shown.empty() || rows == 0) {
    *error = shown.empty() ? "no timed records to plot"
                           : "no decidecade band fits below the Nyquist frequency";
    return false;
  }
  double t0 = d.records[shown.front()].StartUtc(rate), t1 = d.records[shown.back()].EndUtc(rate);
  if (o.from) t0 = std::max(t0, *o.from);
  if (o.to) t1 = std::min(t1, *o.to);
  if (t1 - t0 < 1) t1 = t0 + 1;
  Canvas canvas(o.width, o.height);
  const Rect area{kLeft, kTop, o.width - kLeft - kRight, o.height - kTop - kBottom};
  const int columns = static_cast<int>(area.w);
  std::vector<double> power(static_cast<size_t>(columns) * rows, 0.0);
  std::vector<int> count(static_cast<size_t>(columns), 0);
  double loudest = kNegativeInfinity;
  struct Result {
    RecordLevels levels;
    std::string error;
  };
  bool ok = true;
  ForEachInOrder<Result>(
      shown.size(), o.jobs,
      [&](size_t k) {
        Result r;
        MeasureRecord(d, d.records[shown[k]], bands, o.calibration, &r.levels, &r.error);
        return r;
      },
      [&](size_t k, Result& r) {
        if (ok && !r.error.empty()) *error = r.error;
        ok = ok && r.error.empty();
        if (!ok) return;
        const Record& record = d.records[shown[k]];
        const int c0 =
            static_cast<int>(std::floor((record.StartUtc(rate) - t0) / (t1 - t0) * columns));
        const int c1 = std::max(
            c0, static_cast<int>(std::ceil((record.EndUtc(rate) - t0) / (t1 - t0) * columns)) - 1);
        for (int c = std::max(0, c0); c <= std::min(columns - 1, c1); ++c) {
          ++count[c];
          for (int b = 0; b < rows; ++b)
            power[static_cast<size_t>(c) * rows + b] +=
                std::pow(10.0, r.levels.decidecadeDb[b] / 10);
        }
        for (double db : r.levels.decidecadeDb)
          loudest = std::max(loudest, std::isnan(db) ? loudest : db);
        if (decidecade) decidecade->push_back(r.levels.decidecadeDb);
      });
  if (!ok) return false;
  LevelRange range;
  range.Fit(loudest, o);
  DrawPausesAndGaps(canvas, area, d, t0, t1);
  canvas.Cells(area, rows, [&](int c, int b) {
    const double p = power[static_cast<size_t>(c) * rows + b];
    if (count[c] == 0 || std::isnan(p)) return std::numeric_limits<double>::quiet_NaN();
    return std::clamp(range.Position(p > 0 ? 10 * std::log10(p / count[c]) : kNegativeInfinity),
                      0.0, 1.0);
  });
  DrawBandAxes(canvas, area, d, bands, t0, t1);
  canvas.ColourBar({area.x + area.w + 18, area.y, 16, area.h}, range, UnitsOf(o.calibration).level);
  canvas.Title(std::to_string(shown.size()) + " records: decidecade band levels over UTC time",
               kLeft);
  canvas.Text("each record for its own length (Welch windows of " + Number(o.windowSeconds, 0.001) +
                  " s); light grey: pauses; hatched: gaps; " + o.calibration.Text(),
              kLeft, 32, 0, 0, 11);
  return canvas.Png(png, error);
}

namespace {

struct PlotCommandOptions {
  DeploymentFlags flags;
  std::string kind = "spectrogram";
  std::vector<std::string> inputs;
  std::string output;
  SelectionFlags selection;
  CalibrationFlags calibration;
  bool force = false;
  PlotOptions plot;
  double dbFloor = std::numeric_limits<double>::quiet_NaN(),
         dbTop = std::numeric_limits<double>::quiet_NaN();
};

int RunPlot(PlotCommandOptions& o) {
  std::string error;
  if (!ResolveCalibration(o.calibration, &o.plot.calibration, &error)) Fail(error);
  const RecordSelection selection = SelectionOrFail(o.selection);
  o.plot.from = selection.from;
  o.plot.to = selection.to;
  if (!std::isnan(o.dbFloor)) o.plot.dbFloor = o.dbFloor;
  if (!std::isnan(o.dbTop)) o.plot.dbTop = o.dbTop;
  Deployment d = LoadOrFail(o.inputs, o.flags, 0, selection);
  if (d.settings.rate == 0)
    Fail("the sample rate is not in the data files: give --rate HZ or --config FILE");
  if (!CheckPlotOptions(o.plot, d.settings.rate, &error)) Fail(error);
  if (d.records.empty()) Fail("no records to plot");
  if (!(o.plot.windowSeconds > 0) || o.plot.windowSeconds > 3600)
    Fail("--window must lie above 0 and at most 3600 s");
  std::string png, verdict;
  const bool one = d.records.size() == 1 || !d.records[1].HasTime() || !d.records[0].HasTime();
  const bool drawn = o.kind == "percentiles" ? DrawPercentiles(d, o.plot, &png, &verdict, &error)
                     : o.kind == "bands"     ? DrawBands(d, o.plot, &png, &error)
                     : one ? DrawRecord(d, d.records.front(), o.plot, &png, &error)
                           : DrawDeployment(d, o.plot, &png, &error);
  if (!drawn) Fail(error);
  OutputPolicy policy;
  policy.force = o.force;
  policy.inputs = o.inputs;
  if (!o.flags.configPath.empty()) policy.inputs.push_back(o.flags.configPath);
  OutputFile out;
  if (!CheckOutputExtension(o.output, "png", &error) || !out.Open(o.output, policy, &error))
    Fail(error);
  // Commit reports a failed write and removes what it left.
  const bool wrote = out.Write(png.data(), png.size());
  if (!out.Commit(&error) || !wrote) Fail(error);
  return 0;
}

}  // namespace

Subcommand AddPlotCommand(CLI::App& program) {
  auto o = std::make_shared<PlotCommandOptions>();
  CLI::App* app = program.add_subcommand(
      "plot",
      "a PNG: a deployment's long-term spectral average on a UTC time axis (gaps, clock changes "
      "and "
      "ambiguous times marked), or one record's waveform above its spectrogram");
  AddDeploymentOptions(app, &o->flags);
  AddCalibrationOptions(app, &o->calibration);
  app->add_option("-o,--output", o->output, "PNG file")->required();
  app->add_option("--width", o->plot.width, "picture width in pixels (default 1200)")
      ->transform(tools::DecimalInteger());
  app->add_option("--height", o->plot.height, "picture height in pixels (default 800)")
      ->transform(tools::DecimalInteger());
  AddSelectionOptions(app, &o->selection);
  app->add_option("--min-frequency", o->plot.lowHz, "lowest frequency shown, Hz (default 0)")
      ->transform(tools::DecimalReal());
  app->add_option("--max-frequency", o->plot.highHz,
                  "highest frequency shown, Hz (default half the rate)")
      ->transform(tools::DecimalReal());
  app->add_flag("--log-frequency", o->plot.logFrequency, "a logarithmic frequency axis");
  app->add_option("--fft", o->plot.fftSize,
                  "FFT size, a power of two from 64 to 65536 (default 1024)")
      ->transform(tools::DecimalInteger());
  app->add_option("--db-min", o->dbFloor, "level at the bottom of the colour scale, dB")
      ->transform(tools::DecimalReal());
  app->add_option("--db-max", o->dbTop, "level at the top of the colour scale, dB")
      ->transform(tools::DecimalReal());
  app->add_option(
         "--kind", o->kind,
         "spectrogram (default: the long-term spectral average, or one record's waveform and "
         "spectrogram), percentiles (spectral percentiles against the sea's noise), bands "
         "(decidecade band levels over UTC time)")
      ->check(CLI::IsMember({"spectrogram", "percentiles", "bands"}));
  app->add_option("--window", o->plot.windowSeconds,
                  "Welch window of the percentiles and the bands, seconds (default 1)")
      ->transform(tools::DecimalReal());
  o->plot.jobs = DefaultJobs();
  app->add_option("--jobs", o->plot.jobs, "records measured at once (default: the number of cores)")
      ->transform(tools::DecimalInteger())
      ->check(CLI::Range(1u, 256u).description(""));
  app->add_flag("--force", o->force, "replace an existing output file");
  app->add_option("INPUT", o->inputs, "data folders or files")->required();
  return {app, [o] { return RunPlot(*o); }};
}

}  // namespace datatools
