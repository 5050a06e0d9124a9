// Pictures of data files with cairo; spectra with FFTW.
#include <cairo.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "hardware/sample_values.h"
#include "tools/pelmok-data/export_plot.h"
#include "tools/formats/data_file.h"

namespace datatools {
namespace {

struct Rect {
  double x, y, w, h;
};

// A Hann-windowed power spectrum of N samples, levels in dBFS: a full-scale
// sine reads 0 dB in its bin.
class Spectrum {
 public:
  explicit Spectrum(size_t n) : n_(n), window_(n), in_(fftw_alloc_real(n)),
                                out_(fftw_alloc_complex(n / 2 + 1)) {
    plan_ = fftw_plan_dft_r2c_1d(static_cast<int>(n), in_, out_, FFTW_ESTIMATE);
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
      window_[i] = 0.5 - 0.5 * std::cos(2 * M_PI * i / n);
      sum += window_[i];
    }
    // Peak amplitude of a sine in codes from a bin's magnitude.
    scale_ = 2.0 / sum / kFullScaleCode;
  }
  ~Spectrum() {
    fftw_destroy_plan(plan_);
    fftw_free(in_);
    fftw_free(out_);
  }
  size_t Size() const { return n_; }
  size_t Bins() const { return n_ / 2 + 1; }
  // Adds the frame's power (zero-padded when short) to `power`.
  void Accumulate(const std::vector<uint32_t>& words, std::vector<double>* power) {
    for (size_t i = 0; i < n_; ++i) in_[i] = i < words.size() ? CodeOf(words[i]) * window_[i] : 0.0;
    fftw_execute(plan_);
    for (size_t k = 0; k < Bins(); ++k) {
      const double a = std::hypot(out_[k][0], out_[k][1]) * scale_;
      (*power)[k] += a * a;
    }
  }

 private:
  size_t n_;
  std::vector<double> window_;
  double* in_;
  fftw_complex* out_;
  fftw_plan plan_;
  double scale_;
};

double Db(double power) {
  return power > 0 ? 10 * std::log10(power) : -std::numeric_limits<double>::infinity();
}

// The power spectrum averaged over up to `frames` frames spread evenly over
// [first, first + count), in dB.
bool AverageSpectrum(WordReader& reader, Spectrum& spectrum, uint64_t first, uint64_t count,
                     int frames, std::vector<double>* db) {
  std::vector<double> power(spectrum.Bins(), 0.0);
  std::vector<uint32_t> words;
  const uint64_t n = spectrum.Size();
  int used = 0;
  if (count <= n) {
    // Shorter than a frame: one frame centred on the span, inside the file.
    const uint64_t centre = first + count / 2;
    uint64_t start = centre > n / 2 ? centre - n / 2 : 0;
    if (reader.Words() >= n) start = std::min(start, reader.Words() - n);
    else start = 0;
    if (!reader.Read(start, n, &words)) return false;
    spectrum.Accumulate(words, &power);
    used = 1;
  } else {
    const uint64_t room = count - n;
    const int m = static_cast<int>(std::min<uint64_t>(frames, count / n));
    for (int f = 0; f < m; ++f) {
      const uint64_t start = first + (m > 1 ? room * f / (m - 1) : room / 2);
      if (!reader.Read(start, n, &words)) return false;
      spectrum.Accumulate(words, &power);
      ++used;
    }
  }
  db->resize(power.size());
  for (size_t k = 0; k < power.size(); ++k) (*db)[k] = Db(power[k] / used);
  return true;
}

// The frame length: 1024 samples, fewer for a short file.
size_t FrameLength(uint64_t samples) {
  size_t n = 1024;
  while (n > 64 && n > samples) n /= 2;
  return n;
}

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

// Ticks for a time axis in seconds: steps a clock reads well.
std::vector<double> TimeTicks(double low, double high, int target, double* step) {
  static const double kSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600,
                                  7200, 10800, 21600, 43200, 86400, 172800, 604800};
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

std::string ClockText(int64_t seconds) {
  int64_t s = ((seconds % 86400) + 86400) % 86400;
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600),
                static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
  return text;
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

// Colour range: the loudest level rounded up to 10 dB, 120 dB below it.
struct LevelRange {
  double top = 0, floor = -120;
  void Fit(double loudest) {
    if (std::isfinite(loudest)) top = std::ceil(loudest / 10) * 10;
    floor = top - 120;
  }
  double Position(double db) const { return std::isfinite(db) ? (db - floor) / (top - floor) : 0; }
};

class Canvas {
 public:
  Canvas(int width, int height)
      : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)),
        cr_(cairo_create(surface_)) {
    cairo_set_source_rgb(cr_, 1, 1, 1);
    cairo_paint(cr_);
    cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  }
  ~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
  }
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
  // Ticks and labels along the bottom of r for values low..high.
  void XAxis(const Rect& r, double low, double high, const std::vector<double>& ticks,
             const std::vector<std::string>& labels, const std::string& title) {
    for (size_t i = 0; i < ticks.size(); ++i) {
      const double x = std::floor(r.x + (ticks[i] - low) / (high - low) * r.w) + 0.5;
      Line(x, r.y + r.h, x, r.y + r.h + 5);
      Text(labels[i], x, r.y + r.h + 8, 0.5, 0, 12);
    }
    Text(title, r.x + r.w / 2, r.y + r.h + 28, 0.5, 0, 13);
  }
  void YAxis(const Rect& r, double low, double high, int target, const std::string& title) {
    double step = 1;
    for (double t : Ticks(low, high, target, &step)) {
      const double y = std::floor(r.y + r.h - (t - low) / (high - low) * r.h) + 0.5;
      Line(r.x - 5, y, r.x, y);
      Text(Number(t, step), r.x - 8, y, 1, 0.5, 12);
    }
    Text(title, r.x - 70, r.y + r.h / 2, 0.5, 0.5, 13, -M_PI / 2);
  }
  void Line(double x0, double y0, double x1, double y1) {
    cairo_set_source_rgb(cr_, 0, 0, 0);
    cairo_set_line_width(cr_, 1);
    cairo_move_to(cr_, x0, y0);
    cairo_line_to(cr_, x1, y1);
    cairo_stroke(cr_);
  }
  // A levels image (columns x bins, bin 0 at the bottom) scaled into r.
  void Levels(const Rect& r, const std::vector<std::vector<double>>& columns,
              const std::vector<std::pair<double, double>>& spans, const LevelRange& range) {
    cairo_save(cr_);
    cairo_rectangle(cr_, r.x, r.y, r.w, r.h);
    cairo_clip(cr_);
    cairo_set_source_rgb(cr_, 0.85, 0.85, 0.85);  // gaps between files
    cairo_paint(cr_);
    for (size_t c = 0; c < columns.size(); ++c) {
      const std::vector<double>& bins = columns[c];
      const double x0 = r.x + spans[c].first * r.w, x1 = r.x + spans[c].second * r.w;
      const double w = std::max(1.0, x1 - x0);
      for (int y = 0; y < static_cast<int>(r.h); ++y) {
        // Each pixel row shows the loudest bin it covers, so a line stays visible.
        const double f0 = (r.h - y - 1) / r.h, f1 = (r.h - y) / r.h;
        size_t k0 = static_cast<size_t>(f0 * (bins.size() - 1) + 0.5);
        size_t k1 = std::max(k0, static_cast<size_t>(f1 * (bins.size() - 1) + 0.5));
        double level = -std::numeric_limits<double>::infinity();
        for (size_t k = k0; k <= std::min(k1, bins.size() - 1); ++k) level = std::max(level, bins[k]);
        double red, green, blue;
        LevelColour(range.Position(level), &red, &green, &blue);
        cairo_set_source_rgb(cr_, red, green, blue);
        cairo_rectangle(cr_, x0, r.y + y, w, 1);
        cairo_fill(cr_);
      }
    }
    cairo_restore(cr_);
    Frame(r);
  }
  void ColourBar(const Rect& r, const LevelRange& range) {
    for (int y = 0; y < static_cast<int>(r.h); ++y) {
      double red, green, blue;
      LevelColour(1.0 - y / r.h, &red, &green, &blue);
      cairo_set_source_rgb(cr_, red, green, blue);
      cairo_rectangle(cr_, r.x, r.y + y, r.w, 1);
      cairo_fill(cr_);
    }
    Frame(r);
    double step = 1;
    for (double t : Ticks(range.floor, range.top, 6, &step)) {
      const double y = std::floor(r.y + r.h - (t - range.floor) / (range.top - range.floor) * r.h) + 0.5;
      Line(r.x + r.w, y, r.x + r.w + 4, y);
      Text(Number(t, step), r.x + r.w + 6, y, 0, 0.5, 11);
    }
    Text("level (dBFS)", r.x + r.w + 48, r.y + r.h / 2, 0.5, 0.5, 13, -M_PI / 2);
  }
  bool Save(const std::string& path, std::string* error) {
    cairo_surface_flush(surface_);
    const cairo_status_t status = cairo_surface_write_to_png(surface_, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
      *error = path + ": " + cairo_status_to_string(status);
      return false;
    }
    return true;
  }

 private:
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

// The parts of a picture: plot areas leave room for labels and the colour bar.
constexpr double kLeft = 95, kRight = 120, kTop = 48, kBottom = 62;

bool CheckSize(const PlotSize& size, std::string* error) {
  if (size.width < 400 || size.height < 300 || size.width > 10000 || size.height > 10000) {
    *error = "picture size must be 400x300 to 10000x10000 pixels";
    return false;
  }
  return true;
}

bool PlotFile(const std::string& input, const std::string& output, uint32_t rateHz, PlotSize size,
              std::string* error) {
  WordReader reader;
  if (!reader.Open(input, error)) return false;
  const uint64_t samples = reader.Words();
  if (samples == 0) {
    *error = input + ": no samples to plot";
    return false;
  }
  Canvas canvas(size.width, size.height);
  const double plotWidth = size.width - kLeft - kRight;
  const double area = size.height - kTop - kBottom;
  const Rect wave{kLeft, kTop, plotWidth, std::floor(area * 0.3)};
  const Rect spectrogram{kLeft, wave.y + wave.h + 46, plotWidth, area - wave.h - 46};
  const int columns = static_cast<int>(plotWidth);

  // Waveform: the range of each pixel column, in one pass.
  std::vector<int32_t> low(columns, std::numeric_limits<int32_t>::max());
  std::vector<int32_t> high(columns, std::numeric_limits<int32_t>::min());
  uint64_t index = 0;
  if (!reader.ForEachBlock([&](const std::vector<uint32_t>& block) {
        for (uint32_t word : block) {
          const int c = static_cast<int>(index * columns / samples);
          const int32_t code = CodeOf(word);
          low[c] = std::min(low[c], code);
          high[c] = std::max(high[c], code);
          ++index;
        }
      })) {
    *error = input + ": read error";
    return false;
  }
  const int32_t lowest = *std::min_element(low.begin(), low.end());
  const int32_t highest = *std::max_element(high.begin(), high.end());
  double vLow = AdcCodeToVolts(lowest), vHigh = AdcCodeToVolts(highest);
  const double pad = std::max((vHigh - vLow) * 0.05, 10 * AdcCodeToVolts(1));
  vLow -= pad;
  vHigh += pad;
  const double duration = static_cast<double>(samples) / rateHz;

  cairo_t* cr = canvas.cr();
  double tStep = 1;
  const std::vector<double> tTicks = Ticks(0, duration, 8, &tStep);
  std::vector<std::string> tLabels;
  for (double t : tTicks) tLabels.push_back(Number(t, tStep));
  if (vLow < 0 && vHigh > 0) {
    cairo_set_source_rgb(cr, 0.8, 0.8, 0.8);
    const double y = wave.y + wave.h - (0 - vLow) / (vHigh - vLow) * wave.h;
    cairo_move_to(cr, wave.x, y);
    cairo_line_to(cr, wave.x + wave.w, y);
    cairo_stroke(cr);
  }
  cairo_set_source_rgb(cr, 0.12, 0.3, 0.65);
  cairo_set_line_width(cr, 1);
  for (int c = 0; c < columns; ++c) {
    if (low[c] > high[c]) continue;  // fewer samples than columns
    const double y0 = wave.y + wave.h - (AdcCodeToVolts(low[c]) - vLow) / (vHigh - vLow) * wave.h;
    const double y1 = wave.y + wave.h - (AdcCodeToVolts(high[c]) - vLow) / (vHigh - vLow) * wave.h;
    cairo_move_to(cr, wave.x + c + 0.5, y0 + 0.5);
    cairo_line_to(cr, wave.x + c + 0.5, y1 - 0.5);
    cairo_stroke(cr);
  }
  canvas.Frame(wave);
  canvas.YAxis(wave, vLow, vHigh, 4, "volts (V)");
  canvas.XAxis(wave, 0, duration, tTicks, tLabels, "");

  // Spectrogram: each pixel column averages up to 8 frames of its span.
  Spectrum spectrum(FrameLength(samples));
  std::vector<std::vector<double>> levels(columns);
  std::vector<std::pair<double, double>> spans(columns);
  double loudest = -std::numeric_limits<double>::infinity();
  for (int c = 0; c < columns; ++c) {
    const uint64_t first = samples * c / columns, last = samples * (c + 1) / columns;
    if (!AverageSpectrum(reader, spectrum, first, std::max<uint64_t>(1, last - first), 8, &levels[c])) {
      *error = input + ": read error";
      return false;
    }
    for (double db : levels[c]) loudest = std::max(loudest, db);
    spans[c] = {static_cast<double>(c) / columns, static_cast<double>(c + 1) / columns};
  }
  LevelRange range;
  range.Fit(loudest);
  canvas.Levels(spectrogram, levels, spans, range);
  canvas.YAxis(spectrogram, 0, rateHz / 2.0, 6, "frequency (Hz)");
  canvas.XAxis(spectrogram, 0, duration, tTicks, tLabels, "time (s)");
  canvas.ColourBar({spectrogram.x + spectrogram.w + 18, spectrogram.y, 16, spectrogram.h}, range);

  FileTime time;
  const std::string name = BaseName(input);
  std::string title = name;
  if (ParseFileName(name, &time)) title += "   written " + time.Text() + " (local time, end of record)";
  char detail[128];
  std::snprintf(detail, sizeof detail, "%llu samples at %u Hz, %.3f s; FFT %zu, Hann",
                static_cast<unsigned long long>(samples), rateHz, duration, spectrum.Size());
  canvas.Text(title, kLeft, 14, 0, 0, 15);
  canvas.Text(detail, size.width - kRight, 18, 1, 0, 11);
  return canvas.Save(output, error);
}

bool PlotFolder(const std::string& input, const std::string& output, uint32_t rateHz, PlotSize size,
                std::string* error) {
  std::vector<FolderEntry> files;
  if (!ListDataFolder(input, &files, error)) return false;
  std::vector<FolderEntry> used;
  for (const FolderEntry& f : files)
    if (f.bytes >= 4) used.push_back(f);
  if (used.empty()) {
    *error = input + ": no data files to plot";
    return false;
  }
  Canvas canvas(size.width, size.height);
  const Rect spectrogram{kLeft, kTop, size.width - kLeft - kRight, size.height - kTop - kBottom};

  // A file spans from its estimated start (its length before the write) to its write.
  std::vector<double> starts, ends;
  for (const FolderEntry& f : used) {
    const double end = static_cast<double>(f.time.LocalSeconds());
    ends.push_back(end);
    starts.push_back(end - static_cast<double>(f.bytes / 4) / rateHz);
  }
  const double t0 = *std::min_element(starts.begin(), starts.end());
  double t1 = *std::max_element(ends.begin(), ends.end());
  if (t1 - t0 < 1) t1 = t0 + 1;

  std::vector<std::vector<double>> levels;
  std::vector<std::pair<double, double>> spans;
  double loudest = -std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < used.size(); ++i) {
    WordReader reader;
    if (!reader.Open(used[i].path, error)) return false;
    Spectrum spectrum(FrameLength(reader.Words()));
    std::vector<double> db;
    if (!AverageSpectrum(reader, spectrum, 0, reader.Words(), 32, &db)) {
      *error = used[i].path + ": read error";
      return false;
    }
    for (double d : db) loudest = std::max(loudest, d);
    levels.push_back(db);
    spans.push_back({(starts[i] - t0) / (t1 - t0), (ends[i] - t0) / (t1 - t0)});
  }
  LevelRange range;
  range.Fit(loudest);
  canvas.Levels(spectrogram, levels, spans, range);
  canvas.YAxis(spectrogram, 0, rateHz / 2.0, 8, "frequency (Hz)");
  double step = 1;
  std::vector<double> ticks = TimeTicks(t0, t1, 8, &step);
  std::vector<std::string> labels;
  for (double t : ticks) labels.push_back(ClockText(static_cast<int64_t>(std::llround(t))));
  canvas.XAxis(spectrogram, t0, t1, ticks, labels, "local time (hh:mm:ss)");
  canvas.ColourBar({spectrogram.x + spectrogram.w + 18, spectrogram.y, 16, spectrogram.h}, range);

  const FileTime& first = used.front().time;
  const FileTime& last = used.back().time;
  canvas.Text(BaseName(input) + ": " + std::to_string(used.size()) + " data files, written " +
                  first.Text() + " to " + last.Text(),
              kLeft, 14, 0, 0, 15);
  canvas.Text("one column per file, its mean spectrum (Hann), at " + std::to_string(rateHz) + " Hz",
              size.width - kRight, 34, 1, 0, 11);
  return canvas.Save(output, error);
}

}  // namespace

bool PlotData(const std::string& input, const std::string& output, uint32_t rateHz, PlotSize size,
              std::string* error) {
  if (!CheckSize(size, error)) return false;
  return IsFolder(input) ? PlotFolder(input, output, rateHz, size, error)
                         : PlotFile(input, output, rateHz, size, error);
}

}  // namespace datatools
