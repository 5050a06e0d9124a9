// pelmok-data levels: each record's sound levels (broadband SPL, zero-to-peak,
// SEL, decidecade bands, hybrid millidecade densities) and, with
// --percentiles, their percentiles over the deployment, as a long CSV table
// or as NetCDF-4 hybrid millidecade spectra.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "tools/common/board_time.h"
#include "tools/common/csv.h"
#include "tools/common/decimal_option.h"
#include "tools/common/output_file.h"
#include "tools/common/parallel.h"
#include "tools/common/progress_line.h"
#include "tools/pelmok-data/calibration_options.h"
#include "tools/pelmok-data/netcdf_levels.h"
#include "tools/pelmok-data/sound_levels.h"
#include "tools/pelmok-data/subcommand.h"

namespace datatools {
namespace {

constexpr int kPercentiles[] = {1, 5, 10, 25, 50, 75, 90, 95, 99};

struct LevelsOptions {
  DeploymentFlags flags;
  SelectionFlags selection;
  CalibrationFlags calibrationFlags;
  Calibration calibration;
  std::vector<std::string> inputs;
  std::string output;  // "": standard output
  double windowSeconds = 1;
  bool percentiles = false;
  bool force = false;
  unsigned jobs = DefaultJobs();
};

std::string Fixed(double value, int decimals) {
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// The level as written: levels are kept as floats, so that a percentile,
// one of the records' levels, reads exactly as that record's row.
float Kept(double level) { return static_cast<float>(level); }

// The long table: one row per record and level, then the percentiles.
class LevelsTable {
 public:
  explicit LevelsTable(FILE* out) : out_(out) {
    std::fputs("file,record,start_utc,kind,centre_hz,low_hz,high_hz,level_db\r\n", out_);
  }
  void Row(const std::string& file, const std::string& record, const std::string& start,
           const std::string& kind, const Band* band, bool centred, float level) {
    std::string line = CsvField(file) + "," + record + "," + start + "," + kind + ",";
    line += (band && centred ? Fixed(band->centreHz, 4) : "") + ",";
    line += (band ? Fixed(band->lowHz, 4) + "," + Fixed(band->highHz, 4) : std::string(",")) + ",";
    line += Fixed(level, 2) + "\r\n";
    std::fputs(line.c_str(), out_);
  }

 private:
  FILE* out_;
};

// Every level of every record, by series (broadband, then the decidecade
// bands, then the hybrid millidecade bands), for the percentiles.
struct Series {
  std::vector<std::vector<float>> levels;
  void Add(const RecordLevels& l) {
    std::vector<double> all = {l.broadbandDb};
    all.insert(all.end(), l.decidecadeDb.begin(), l.decidecadeDb.end());
    all.insert(all.end(), l.hmdDb.begin(), l.hmdDb.end());
    levels.resize(all.size());
    for (size_t i = 0; i < all.size(); ++i)
      if (!std::isnan(all[i])) levels[i].push_back(Kept(all[i]));
  }
};

// The p-th percentile by nearest rank: the smallest level that at least p %
// of the levels do not exceed (numpy's method 'inverted_cdf').
float Percentile(std::vector<float>& levels, int p) {
  const size_t rank = (static_cast<size_t>(p) * levels.size() + 99) / 100;
  const size_t index = rank == 0 ? 0 : rank - 1;
  std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(index),
                   levels.end());
  return levels[index];
}

void WriteRecordRows(LevelsTable& table, const Deployment& d, const Record& r,
                     const LevelBands& bands, const RecordLevels& l) {
  const std::string file = d.files[r.file].name, index = std::to_string(r.index);
  // A UTC start only where it is known and one.
  const std::string start = r.Definite() && d.UtcKnown() ? d.StartText(r, 3) : "";
  table.Row(file, index, start, "broadband", &bands.broadband, false, Kept(l.broadbandDb));
  table.Row(file, index, start, "peak", nullptr, false, Kept(l.peakDb));
  table.Row(file, index, start, "sel", &bands.broadband, false, Kept(l.selDb));
  for (size_t i = 0; i < bands.decidecade.size(); ++i)
    if (!std::isnan(l.decidecadeDb[i]))
      table.Row(file, index, start, "decidecade", &bands.decidecade[i], true,
                Kept(l.decidecadeDb[i]));
  for (size_t i = 0; i < bands.hmd.size(); ++i)
    if (!std::isnan(l.hmdDb[i]))
      table.Row(file, index, start, "hmd", &bands.hmd[i], true, Kept(l.hmdDb[i]));
}

void WritePercentiles(LevelsTable& table, Series& series, const LevelBands& bands) {
  for (int p : kPercentiles) {
    const std::string kind = "p" + std::to_string(p);
    for (size_t i = 0; i < series.levels.size(); ++i) {
      if (series.levels[i].empty()) continue;
      const bool broadband = i == 0;
      const size_t dd = bands.decidecade.size();
      const Band* band = broadband ? &bands.broadband
                         : i <= dd ? &bands.decidecade[i - 1]
                                   : &bands.hmd[i - 1 - dd];
      table.Row("", "", "", kind, band, !broadband, Percentile(series.levels[i], p));
    }
  }
}

// Each record's levels, computed on o.jobs threads, handed on in record order.
template <typename Consume>
void MeasureAll(const Deployment& d, const LevelBands& bands, const LevelsOptions& o,
                Consume consume) {
  struct Result {
    RecordLevels levels;
    std::string error;
  };
  ProgressLine progress("levels", d.records.size());
  ForEachInOrder<Result>(
      d.records.size(), o.jobs,
      [&](size_t i) {
        Result r;
        if (!MeasureRecord(d, d.records[i], bands, o.calibration, &r.levels, &r.error) &&
            r.error.empty())
          r.error = d.files[d.records[i].file].path + ": read error";
        return r;
      },
      [&](size_t i, Result& r) {
        if (!r.error.empty()) Fail(r.error);
        consume(d.records[i], r.levels);
        progress.Done(i + 1);
      });
}

OutputPolicy PolicyOf(const LevelsOptions& o) {
  OutputPolicy policy;
  policy.force = o.force;
  policy.inputs = o.inputs;
  if (!o.flags.configPath.empty()) policy.inputs.push_back(o.flags.configPath);
  return policy;
}

void WriteCsv(const Deployment& d, const LevelBands& bands, const LevelsOptions& o) {
  std::string error;
  OutputFile out;
  if (!o.output.empty() &&
      (!CheckOutputExtension(o.output, "csv", &error) || !out.Open(o.output, PolicyOf(o), &error)))
    Fail(error);
  LevelsTable table(o.output.empty() ? stdout : out.Stream());
  Series series;
  MeasureAll(d, bands, o, [&](const Record& r, const RecordLevels& l) {
    WriteRecordRows(table, d, r, bands, l);
    if (o.percentiles) series.Add(l);
  });
  if (o.percentiles) WritePercentiles(table, series, bands);
  if (!o.output.empty() && !out.Commit(&error)) Fail(error);
  if (o.output.empty() && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    Fail("standard output: write error");
}

NetcdfContext ContextOf(const Deployment& d, const LevelsOptions& o) {
  NetcdfContext c;
  c.title = "Hybrid millidecade spectra of a Pelmok deployment";
  c.calibration = o.calibration.Text();
  c.curve = o.calibration.curve;
  c.densityUnit = UnitsOf(o.calibration).density;
  if (d.UtcKnown()) c.attributes.push_back({"board_time_zone", d.settings.zone.Rule()});
  return c;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One file, or one per UTC day in a folder, named by the day.
void WriteNetcdf(const Deployment& d, const LevelBands& bands, const LevelsOptions& o,
                 bool folder) {
  const NetcdfContext context = ContextOf(d, o);
  const OutputPolicy policy = PolicyOf(o);
  std::string error;
  NetcdfLevels file;
  int64_t day = std::numeric_limits<int64_t>::min();
  size_t written = 0, untimed = 0;
  MeasureAll(d, bands, o, [&](const Record& r, const RecordLevels& l) {
    if (!r.Definite() || !d.UtcKnown()) {
      ++untimed;
      return;
    }
    const double start = r.StartUtc(d.settings.rate);
    const int64_t today = static_cast<int64_t>(std::floor(start / 86400));
    if (folder && today != day && file.Open() && !file.Commit(policy, &error)) Fail(error);
    if (!file.Open()) {
      const std::string path =
          folder ? o.output + "/pelmok-hmd-" + UtcBasicText(today * 86400).substr(0, 8) + ".nc"
                 : o.output;
      if (!file.Create(path, bands, context, &error)) Fail(error);
    }
    day = today;
    if (!file.Append(start, static_cast<double>(r.words) / d.settings.rate, l, &error)) Fail(error);
    ++written;
  });
  if (written == 0)
    Fail(std::string("no records with a UTC time: NetCDF spectra need one") +
         (d.UtcKnown() ? "" : std::string(" (") + Deployment::UtcNotKnown() + ")"));
  if (!file.Commit(policy, &error)) Fail(error);
  if (untimed > 0)
    std::fprintf(
        stderr, "pelmok-data levels: %zu records without a UTC time are not in the NetCDF output\n",
        untimed);
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

int RunLevels(LevelsOptions& o) {
  std::string error;
  if (!ResolveCalibration(o.calibrationFlags, &o.calibration, &error)) Fail(error);
  if (!(o.windowSeconds > 0) || o.windowSeconds > 3600)
    Fail("--window must lie above 0 and at most 3600 s");
  Deployment d = LoadOrFail(o.inputs, o.flags, 0, SelectionOrFail(o.selection));
  if (d.settings.rate == 0)
    Fail("the sample rate is not in the data files: give --rate HZ or --config FILE");
  if (d.records.empty()) Fail("no records");
  const LevelBands bands = BandsFor(d.settings.rate, o.windowSeconds, o.calibration);
  const bool folder = !o.output.empty() && IsFolder(o.output);
  if (folder || EndsWith(o.output, ".nc")) {
    if (o.percentiles) Fail("--percentiles goes to the CSV table, not to NetCDF");
    WriteNetcdf(d, bands, o, folder);
  } else {
    WriteCsv(d, bands, o);
  }
  const LevelUnits units = UnitsOf(o.calibration);
  std::fprintf(
      stderr,
      "pelmok-data levels: %zu records; levels in %s, SEL in %s, hmd in %s; %s; Welch windows of "
      "%g s (periodic Hann, 50%% overlap)\n",
      d.records.size(), units.level.c_str(), units.exposure.c_str(), units.density.c_str(),
      o.calibration.Text().c_str(), o.windowSeconds);
  return 0;
}

}  // namespace

Subcommand AddLevelsCommand(CLI::App& program) {
  auto o = std::make_shared<LevelsOptions>();
  CLI::App* app = program.add_subcommand(
      "levels",
      "each record's sound levels: broadband SPL, zero-to-peak, SEL, decidecade bands and hybrid "
      "millidecade densities (Welch over every sample), as CSV, or NetCDF-4 spectra with -o "
      "FILE.nc "
      "or -o FOLDER (a file per UTC day)");
  AddDeploymentOptions(app, &o->flags);
  AddSelectionOptions(app, &o->selection);
  AddCalibrationOptions(app, &o->calibrationFlags);
  app->add_option(
      "-o,--output", o->output,
      "FILE.csv (default: standard output), FILE.nc, or a folder for a NetCDF file per UTC day");
  app->add_option(
         "--window", o->windowSeconds,
         "Welch window length in seconds (default 1: 1 Hz bins); a shorter record is one window")
      ->transform(tools::DecimalReal());
  app->add_flag(
      "--percentiles", o->percentiles,
      "add the 1st to 99th percentiles of the broadband level and of each band over the records");
  app->add_option("--jobs", o->jobs, "records measured at once (default: the number of cores)")
      ->transform(tools::DecimalInteger())
      ->check(CLI::Range(1u, 256u).description(""));
  app->add_flag("--force", o->force, "replace an existing output file");
  app->add_option("INPUT", o->inputs, "data folders or files")->required();
  return {app, [o] { return RunLevels(*o); }};
}

}  // namespace datatools
