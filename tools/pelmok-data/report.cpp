// pelmok-data report: one self-contained HTML page of a deployment for the
// engineer to open after it and pass on: the configuration, the timeline in
// UTC and local time, levels per record, the deployment's picture and every
// warning the data gives.
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>

#include "tools/common/board_time.h"
#include "tools/common/decimal_option.h"
#include "tools/common/levels.h"
#include "tools/common/like_findings.h"
#include "tools/common/output_file.h"
#include "tools/common/parallel.h"
#include "tools/common/progress_line.h"
#include "tools/common/version.h"
#include "tools/formats/html_page.h"
#include "tools/formats/text.h"
#include "tools/pelmok-data/calibration_options.h"
#include "tools/pelmok-data/plot.h"
#include "tools/pelmok-data/record_samples.h"
#include "tools/pelmok-data/report_levels.h"
#include "tools/pelmok-data/sample_checks.h"
#include "tools/pelmok-data/subcommand.h"

namespace datatools {
namespace {

struct ReportOptions {
  DeploymentFlags flags;
  SelectionFlags selection;
  CalibrationFlags calibration;
  std::vector<std::string> inputs;
  std::string output;
  bool force = false;
  unsigned jobs = DefaultJobs();
};

// "23=0 22=0" for bits that never changed; empty when none did.
std::string StuckBits(const CodeStats& s) {
  std::string stuck;
  for (int b = 23; b >= 0; --b) {
    if (s.ones[b] == 0) stuck += (stuck.empty() ? "" : " ") + std::to_string(b) + "=0";
    if (s.samples > 0 && s.ones[b] == s.samples)
      stuck += (stuck.empty() ? "" : " ") + std::to_string(b) + "=1";
  }
  return stuck;
}

std::string RecordName(const Deployment& d, const Record& r) {
  return d.files[r.file].name + "#" + std::to_string(r.index);
}

void Configuration(HtmlPage& page, const Deployment& d, const Calibration& c) {
  const DeploymentSettings& s = d.settings;
  page.Heading(2, "Configuration", "configuration");
  std::vector<std::vector<std::string>> rows = {
      {"sample rate",
       s.rate ? std::to_string(s.rate) + " Hz" + (s.configPath.empty() ? " (--rate)" : "")
              : "not known"},
      {"samples per record", s.samplesPerRecord ? std::to_string(s.samplesPerRecord)
                                                : "not known (a file is one record)"},
      {"time zone setting",
       d.UtcKnown() ? s.zone.Rule() : std::string("not given: ") + Deployment::UtcNotKnown()},
      {"levels", c.calibrated
                     ? c.Text() + ": dB re 1 \xC2\xB5Pa, spectra dB re 1 \xC2\xB5Pa\xC2\xB2/Hz"
                     : "uncalibrated: volts at the converter and dBFS (give --sensitivity and "
                       "--gain for dB re 1 \xC2\xB5Pa)"}};
  if (!s.configPath.empty()) {
    const AcquisitionConfig& a = s.config;
    rows.push_back({"configuration file", s.configPath});
    rows.push_back({"\"Sample rate\"", std::to_string(a.sampleRate)});
    rows.push_back({"\"Number of samples per record\"", std::to_string(a.samplesPerRecord)});
    rows.push_back({"\"Number of hydrophones\"", std::to_string(a.hydrophoneCount)});
    rows.push_back({"\"Number of records per Flash Disk file\"", std::to_string(a.recordsPerFile)});
    rows.push_back(
        {"\"Number of Flash Disk files per USB write\"", std::to_string(a.filesPerUsbWrite)});
    rows.push_back({"\"Seconds to sleep between acquisitions\"", std::to_string(a.sleepSeconds)});
  }
  const std::vector<ClockCheck>& checks = s.description.clockChecks;
  for (const ClockCheck& c : checks)
    rows.push_back({"clock check", "board " + UtcText(c.board, 3) + ", reference " +
                                       UtcText(c.reference, 3) +
                                       (d.Corrected() ? "" : " (not used: UTC not known)")});
  for (size_t k = 1; k < checks.size(); ++k)
    rows.push_back(
        {"clock drift",
         Printf("%+.2f ppm from %s to %s", DriftPpm(checks[k - 1], checks[k]),
                UtcText(checks[k - 1].reference).c_str(), UtcText(checks[k].reference).c_str())});
  page.Table({"setting", "value"}, rows);
}

// What the times on the page are.
std::string TimesNote(const Deployment& d) {
  if (!d.UtcKnown())
    return std::string(Deployment::UtcNotKnown()) +
           ". A record's start is its write less its "
           "length at the rate.";
  std::string note =
      "Times are UTC unless marked local; local times carry the offset the board's time-zone "
      "setting "
      "had in force. A record's start is its write less its length at the rate.";
  if (d.Corrected())
    note +=
        " Times are the reference's: the board's clock corrected from the clock checks (board time "
        "and the "
        "correction in the last columns).";
  return note +
         " A repeated-hour name the cadence could not place has no UTC time: its local time and "
         "both "
         "candidates are given.";
}

// Levels and sample checks per record, in one pass over the samples, on
// `jobs` threads; what each record's samples show of the faults of the field.
std::vector<CodeStats> MeasureRecords(const Deployment& d, unsigned jobs,
                                      std::vector<std::vector<std::string>>* findings) {
  std::vector<CodeStats> stats(d.records.size());
  findings->assign(d.records.size(), {});
  ProgressLine progress("report", d.records.size());
  ForEachInOrder<std::pair<SampleChecks, std::string>>(
      d.records.size(), jobs,
      [&](size_t i) {
        std::pair<SampleChecks, std::string> checked;
        ForEachRecordBlock(
            d, d.records[i],
            [&](const std::vector<int32_t>&, const std::vector<uint32_t>& words) {
              checked.first.Add(words);
            },
            &checked.second);
        checked.first.Finish();
        return checked;
      },
      [&](size_t i, std::pair<SampleChecks, std::string>& checked) {
        if (!checked.second.empty()) Fail(checked.second);
        stats[i] = checked.first.Stats();
        (*findings)[i] = checked.first.Findings();
        progress.Done(i + 1);
      });
  return stats;
}

// What the record's samples show: stuck bits, zero runs, high bits, rails.
void SampleWarnings(const std::string& name, const CodeStats& s,
                    std::vector<std::string>* warnings) {
  if (s.samples == 0) return;
  const std::string stuck = StuckBits(s);
  if (!stuck.empty()) warnings->push_back("stuck bits: " + name + ": " + stuck);
  if (s.zeroRuns)
    warnings->push_back(Printf("runs of zeros: %s: %" PRIu64 " runs of %" PRIu64
                               " or more zero words, longest %" PRIu64,
                               name.c_str(), s.zeroRuns, kZeroRunMinimum, s.longestZeroRun));
  if (s.highBitWords)
    warnings->push_back(Printf("words above bit 23: %s: %" PRIu64 " words (not converter words)",
                               name.c_str(), s.highBitWords));
  if (s.positiveFullScale + s.negativeFullScale)
    warnings->push_back(Printf("full scale: %s: %" PRIu64 " samples at a rail", name.c_str(),
                               s.positiveFullScale + s.negativeFullScale));
}

// What the record's name, file and place in the timeline show.
void RecordWarnings(const Deployment& d, const Record& r, std::vector<std::string>* warnings) {
  const std::string name = RecordName(d, r);
  if (r.flags & kAppended)
    warnings->push_back("append: " + name + " went into a file written before" +
                        std::string(r.flags & kEarlierRunFile ? " by an earlier run" : ""));
  if (r.source == TimeSource::kAmbiguous)
    warnings->push_back("ambiguous name: " + name + ": " + TimingText(d, r));
  if (r.source == TimeSource::kAssumed)
    warnings->push_back("assumed time: " + name + ": " + TimingText(d, r));
  if (r.source == TimeSource::kCadence)
    warnings->push_back("repeated-hour name resolved: " + name + ": " + TimingText(d, r));
  if (r.flags & kSkippedHour)
    warnings->push_back("name in the skipped hour: " + name + " (no time)");
  if (r.flags & kNotDataName) warnings->push_back("not a data file name: " + name + " (no time)");
  if (r.flags & kTornTail)
    warnings->push_back("torn tail: " + d.files[r.file].name + " ends in " +
                        std::to_string(d.files[r.file].tornBytes) + " bytes of a word cut short");
  if (r.flags & kShortRecord)
    warnings->push_back("short record: " + name + ", " + std::to_string(r.words) +
                        " samples (a write cut short: a full volume, or power lost)");
  if (r.flags & kEpochClock)
    warnings->push_back("clock at its epoch: " + name +
                        " is named in 2000: the board's clock started at 2000-01-01 (a lost backup "
                        "battery), so its times are not the date");
}

// Every warning in the order of the timeline; a kind found more than three
// times becomes one line with its count and the first three.
std::vector<std::string> Warnings(const Deployment& d, const std::vector<CodeStats>& stats,
                                  const std::vector<std::vector<std::string>>& findings) {
  std::vector<std::string> all;
  std::map<size_t, const Gap*> gapBefore;
  for (const Gap& g : d.gaps) gapBefore[g.before] = &g;
  std::multimap<size_t, std::string> clockAt;  // each at its run's first record
  for (const ConverterClock& c : FindConverterClocks(d))
    clockAt.emplace(d.runs[c.run].first, "converter clock: " + ConverterClockText(d, c));
  for (size_t i = 0; i < d.records.size(); ++i) {
    const auto gap = gapBefore.find(i);
    if (gap != gapBefore.end()) {
      const Gap& g = *gap->second;
      std::string text = Printf("gap: %.0f s without samples between %s and %s, %s", g.silence,
                                RecordName(d, d.records[g.after]).c_str(),
                                RecordName(d, d.records[i]).c_str(), GapKindText(g.kind));
      if (g.kind == GapKind::kMissingWrites)
        text += " (" + std::to_string(g.missingWrites) + " writes)";
      all.push_back(text);
    }
    for (auto [at, end] = clockAt.equal_range(i); at != end; ++at) all.push_back(at->second);
    RecordWarnings(d, d.records[i], &all);
    SampleWarnings(RecordName(d, d.records[i]), stats[i], &all);
    for (const std::string& f : findings[i])
      all.push_back("samples: " + RecordName(d, d.records[i]) + ": " + f);
  }
  LikeFindings like;  // of a kind: "gap", "append", ...
  for (const std::string& w : all) {
    const size_t colon = w.find(':');
    like.Add(w.substr(0, colon), colon == std::string::npos ? "" : w.substr(colon + 2));
  }
  std::vector<std::string> warnings;
  for (size_t k = 0; k < all.size(); ++k) {
    if (like.Alone(k)) {
      warnings.push_back(all[k]);
    } else if (like.SumsUp(k)) {
      warnings.push_back(like.Kind(k) + ": " + std::to_string(like.Count(k)) +
                         " times; the first: " + like.Examples(k, "; "));
    }
  }
  // Every entry that was not read, each named.
  for (const SkippedEntry& e : d.skipped)
    warnings.push_back("not read: " + e.path + ": " + e.reason);
  return warnings;
}

void Summary(HtmlPage& page, const Deployment& d, size_t warnings) {
  page.Heading(2, "Deployment", "deployment");
  std::vector<std::vector<std::string>> summary = {
      {"records",
       std::to_string(d.records.size()) + " in " + std::to_string(d.files.size()) + " data files"},
      {"recorded", Printf("%" PRIu64 " samples, %.3f s at %u Hz", d.words, d.RecordedSeconds(),
                          d.settings.rate)},
      {"span", Printf("%.0f s, first start to last write", d.SpanSeconds())},
      {"cadence", d.cadence.source == CadenceSource::kNone
                      ? "not known"
                      : Printf("%.3f s (%s), tolerance %.3f s", d.cadence.seconds,
                               CadenceSourceText(d.cadence.source), d.cadence.tolerance)},
      {"runs", std::to_string(d.runs.size())},
      {"gaps", std::to_string(d.gaps.size())},
      {"ambiguous names", std::to_string(d.ambiguous) + " not told, " +
                              std::to_string(d.resolvedByCadence) + " resolved by the cadence, " +
                              std::to_string(d.assumed) + " placed by --assume"},
      {"not read",
       std::to_string(d.skipped.size()) + " entries with a data file name that are no data files"},
      {"warnings", std::to_string(warnings)}};
  if (!d.records.empty() && d.records.front().HasTime()) {
    summary.insert(summary.begin() + 1, {"first start", d.StartText(d.records.front(), 3)});
  }
  for (const ClockChange& c : d.changes)
    summary.push_back({"clock change", UtcText(c.utc) + ": UTC" + OffsetText(c.offsetBefore) +
                                           " to UTC" + OffsetText(c.offsetAfter)});
  page.Table({"", ""}, summary);
}

void Picture(HtmlPage& page, const Deployment& d, const PlotOptions& plot) {
  std::string png, error;
  const bool several = d.records.size() > 1 && d.records[1].HasTime();
  if (!d.records.empty() && (several ? DrawDeployment(d, plot, &png, &error)
                                     : DrawRecord(d, d.records.front(), plot, &png, &error))) {
    page.Png(png,
             several ? "the deployment's long-term spectral average"
                     : "the record's waveform and spectrogram",
             plot.width, plot.height);
  } else if (!d.records.empty()) {
    page.Paragraph("no picture: " + error, "note");
  }
}

// The record's RMS and peak, in the units the calibration allows.
std::pair<std::string, std::string> LevelTexts(const CodeStats& s, const Calibration& calibration) {
  if (s.samples == 0) return {"no samples", "no samples"};
  const Levels l = LevelsOf(s, calibration);
  if (calibration.calibrated) return {PressureText(l.rmsDbUpa), PressureText(l.peakDbUpa)};
  return {VoltsText(l.rmsVolts) + " " + DbfsText(l.rmsDbfs),
          VoltsText(l.peakVolts) + " " + DbfsText(l.peakDbfs)};
}

void Timeline(HtmlPage& page, const Deployment& d, const std::vector<CodeStats>& stats,
              const Calibration& calibration) {
  page.Heading(2, "Timeline", "timeline");
  std::set<size_t> afterGap;
  for (const Gap& g : d.gaps) afterGap.insert(g.before);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> classes;
  for (size_t i = 0; i < d.records.size(); ++i) {
    const Record& r = d.records[i];
    const auto [rms, peak] = LevelTexts(stats[i], calibration);
    const bool utc = r.Definite() && d.UtcKnown();
    rows.push_back({d.StartText(r, 3), d.WriteText(r),
                    utc ? LocalText(d.settings.zone, r.writeUtc) : "-", RecordName(d, r),
                    std::to_string(r.words), TimingText(d, r), RecordFlagsText(r.flags), rms,
                    peak});
    if (d.Corrected()) {
      rows.back().push_back(utc ? UtcText(r.writeUtc) : "-");
      rows.back().push_back(utc ? Printf("%+.3f", r.correction) : "-");
    }
    classes.push_back(afterGap.count(i)                                 ? "gap"
                      : (r.flags || r.source == TimeSource::kAmbiguous) ? "warning"
                                                                        : "");
  }
  std::vector<std::string> header = {d.UtcKnown() ? "start (UTC)" : "start (local)",
                                     d.UtcKnown() ? "write (UTC)" : "write (local)",
                                     "write (local, offset)",
                                     "file#record",
                                     "samples",
                                     "time found",
                                     "flags",
                                     calibration.calibrated ? "RMS" : "RMS (at the converter)",
                                     "peak"};
  if (d.Corrected()) {
    header.push_back("board write (UTC)");
    header.push_back("correction (s)");
  }
  page.Table(header, rows, classes);
}

void GapsTable(HtmlPage& page, const Deployment& d) {
  if (d.gaps.empty()) return;
  page.Heading(2, "Gaps", "gaps");
  std::vector<std::vector<std::string>> gapRows;
  for (const Gap& g : d.gaps)
    gapRows.push_back({RecordName(d, d.records[g.after]), RecordName(d, d.records[g.before]),
                       GapKindText(g.kind), Printf("%.0f", g.interval), Printf("%.3f", g.silence),
                       g.kind == GapKind::kMissingWrites ? std::to_string(g.missingWrites) : ""});
  page.Table(
      {"after", "before", "kind", "between writes (s)", "without samples (s)", "writes missing"},
      gapRows);
}

int RunReport(const ReportOptions& o) {
  std::string error;
  Calibration calibration;
  if (!ResolveCalibration(o.calibration, &calibration, &error)) Fail(error);
  Deployment d = LoadOrFail(o.inputs, o.flags, 0, SelectionOrFail(o.selection));
  if (d.settings.rate == 0)
    Fail("the sample rate is not in the data files: give --rate HZ or --config FILE");

  std::string title = "Pelmok deployment";
  for (const std::string& in : o.inputs) title += " " + in;
  HtmlPage page(title);
  page.Heading(1, title);
  page.Paragraph(TimesNote(d), "note");
  Configuration(page, d, calibration);
  std::vector<std::vector<std::string>> findings;
  const std::vector<CodeStats> stats = MeasureRecords(d, o.jobs, &findings);
  const std::vector<std::string> warnings = Warnings(d, stats, findings);
  Summary(page, d, warnings.size());
  PlotOptions plot;
  plot.width = 1200;
  plot.height = 560;
  plot.calibration = calibration;
  plot.jobs = o.jobs;
  Picture(page, d, plot);
  ReportSoundLevels(page, d, plot);
  page.Heading(2, "Warnings", "warnings");
  if (warnings.empty())
    page.Paragraph("none");
  else
    page.List(warnings, "warnings");
  Timeline(page, d, stats, calibration);
  GapsTable(page, d);

  page.Footer("Made by " + tools::ProgramVersion("pelmok-data") + ".");
  OutputPolicy policy;
  policy.force = o.force;
  policy.inputs = o.inputs;
  if (!o.flags.configPath.empty()) policy.inputs.push_back(o.flags.configPath);
  OutputFile out;
  if (!CheckOutputExtension(o.output, "html", &error) || !out.Open(o.output, policy, &error))
    Fail(error);
  const std::string html = page.Document();
  const bool wrote = out.Write(html.data(), html.size());
  if (!out.Commit(&error) || !wrote) Fail(error);
  return 0;
}

}  // namespace

Subcommand AddReportCommand(CLI::App& program) {
  auto o = std::make_shared<ReportOptions>();
  CLI::App* app = program.add_subcommand(
      "report",
      "one self-contained HTML page of a deployment (no network, pictures embedded): the "
      "configuration, the "
      "timeline, levels per record, the deployment's picture and every warning");
  AddDeploymentOptions(app, &o->flags);
  AddCalibrationOptions(app, &o->calibration);
  AddSelectionOptions(app, &o->selection);
  app->add_option("-o,--output", o->output, "HTML file")->required();
  app->add_option("--jobs", o->jobs, "records measured at once (default: the number of cores)")
      ->transform(tools::DecimalInteger())
      ->check(CLI::Range(1u, 256u).description(""));
  app->add_flag("--force", o->force, "replace an existing output file");
  app->add_option("INPUT", o->inputs, "data folders or files")->required();
  return {app, [o] { return RunReport(*o); }};
}

}  // namespace datatools
