#include "tools/pelmok-data/report_levels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/pelmok-data/sound_levels.h"

namespace datatools {
namespace {

std::string Db(double db) {
  if (std::isnan(db)) return "-";
  if (std::isinf(db)) return db < 0 ? "-inf" : "inf";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", db);
  return text;
}

// Nearest rank, as pelmok-data levels --percentiles takes it.
double Percentile(std::vector<double> levels, int p) {
  if (levels.empty()) return std::nan("");
  const size_t rank = std::max<size_t>(1, (static_cast<size_t>(p) * levels.size() + 99) / 100);
  std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                   levels.end());
  return levels[rank - 1];
}

void BandTable(HtmlPage& page, const LevelBands& bands,
               const std::vector<std::vector<double>>& perRecord, const LevelUnits& units) {
  std::vector<std::vector<std::string>> rows;
  for (size_t b = 0; b < bands.decidecade.size(); ++b) {
    std::vector<double> levels;
    for (const std::vector<double>& r : perRecord)
      if (b < r.size() && !std::isnan(r[b])) levels.push_back(r[b]);
    const Band& band = bands.decidecade[b];
    char hz[64];
    std::snprintf(hz, sizeof hz, "%.1f (%.1f to %.1f)", band.centreHz, band.lowHz, band.highHz);
    rows.push_back(
        {hz, Db(Percentile(levels, 5)), Db(Percentile(levels, 50)), Db(Percentile(levels, 95))});
  }
  page.Table(
      {"decidecade band, Hz", "5th percentile (" + units.level + ")", "median", "95th percentile"},
      rows);
}

}  // namespace

void ReportSoundLevels(HtmlPage& page, const Deployment& d, const PlotOptions& plot) {
  page.Heading(2, "Sound levels", "levels");
  const LevelUnits units = UnitsOf(plot.calibration);
  page.Paragraph("Welch densities of every sample (periodic Hann windows of " +
                     Db(plot.windowSeconds) + " s, 50% overlap); " + plot.calibration.Text() +
                     "; levels in " + units.level + ", densities in " + units.density +
                     ". pelmok-data levels gives every record's levels.",
                 "note");
  std::string png, verdict, error;
  if (DrawPercentiles(d, plot, &png, &verdict, &error)) {
    page.Png(png, "spectral percentiles against sea states 0 and 6 and thermal noise", plot.width,
             plot.height);
    page.Paragraph(verdict.empty()
                       ? "Noise floor: no verdict without a calibration (--sensitivity or "
                         "--calibration)."
                       : "Noise floor: " + verdict + ".");
  } else {
    page.Paragraph("no spectral percentiles: " + error, "note");
  }
  std::vector<std::vector<double>> perRecord;
  if (DrawBands(d, plot, &png, &error, &perRecord))
    page.Png(png, "decidecade band levels over UTC time", plot.width, plot.height);
  else
    page.Paragraph("no band levels over time: " + error, "note");
  BandTable(page, BandsFor(d.settings.rate, plot.windowSeconds, plot.calibration), perRecord,
            units);
}

}  // namespace datatools
