// pelmok-data info: what a deployment holds. A folder (or several files): the
// timeline, every record in UTC order with its local time and offset, the
// cadence, gaps, appends, repeated-hour names and how they were resolved,
// torn tails and the totals; --csv the same timeline as one row per record.
// One file alone: its figures (size, records, levels, bit activity) as well.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "hardware/sample_values.h"
#include "tools/common/csv.h"
#include "tools/common/decimal_option.h"
#include "tools/common/levels.h"
#include "tools/common/like_findings.h"
#include "tools/common/output_file.h"
#include "tools/common/parallel.h"
#include "tools/pelmok-data/calibration_options.h"
#include "tools/pelmok-data/record_samples.h"
#include "tools/pelmok-data/sample_checks.h"
#include "tools/pelmok-data/subcommand.h"

namespace datatools {
namespace {

constexpr uint32_t kAssumedRate = 100000;

struct InfoOptions {
  DeploymentFlags flags;
  SelectionFlags selection;
  CalibrationFlags calibrationFlags;
  Calibration calibration;
  std::vector<std::string> inputs;
  bool csv = false;
  std::string output;  // --csv to a file
  bool force = false;
  unsigned jobs = DefaultJobs();
};

std::string Volts(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%+.6f V", v);
  return text;
}

std::string Db(double db) {
  if (!std::isfinite(db)) return "-inf dBFS";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f dBFS", db);
  return text;
}

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", s);
  return text;
}

void PrintStats(const CodeStats& s, const Calibration& calibration) {
  std::printf("  minimum      %9d codes  %s\n", s.minimum,
              Volts(AdcCodeToVolts(s.minimum)).c_str());
  std::printf("  maximum      %9d codes  %s\n", s.maximum,
              Volts(AdcCodeToVolts(s.maximum)).c_str());
  // The mean and RMS are fractional codes; volts at the same scale.
  const double lsb = AdcCodeToVolts(1);
  std::printf("  mean         %11.1f codes  %+.6f V\n", s.Mean(), s.Mean() * lsb);
  std::printf("  RMS          %11.1f codes  %.6f V  %s (re full-scale code)\n", s.Rms(),
              s.Rms() * lsb, Db(s.RmsDbfs()).c_str());
  std::printf("  peak         %s\n", Db(s.PeakDbfs()).c_str());
  std::printf("  levels       %s\n", LevelsLine(LevelsOf(s, calibration), calibration).c_str());
  std::printf("  full scale   %" PRIu64 " samples at +8388607, %" PRIu64 " at -8388608\n",
              s.positiveFullScale, s.negativeFullScale);
  std::printf("  zero runs    %" PRIu64 " runs of %" PRIu64 " or more zero words, %" PRIu64
              " samples, longest %" PRIu64 "\n",
              s.zeroRuns, kZeroRunMinimum, s.zeroRunSamples, s.longestZeroRun);
  std::printf("  high bits    %" PRIu64 " words with bits above bit 23 set (not converter words)\n",
              s.highBitWords);
  std::printf("  bit activity share of samples with the bit set, bit 23 first:\n");
  for (int row = 0; row < 2; ++row) {
    std::printf("   ");
    for (int b = 23 - row * 12; b > 11 - row * 12; --b)
      std::printf(" %2d:%.2f", b, s.samples ? static_cast<double>(s.ones[b]) / s.samples : 0.0);
    std::printf("\n");
  }
  std::string stuck;
  for (int b = 23; b >= 0; --b) {
    if (s.ones[b] == 0) stuck += " " + std::to_string(b) + "=0";
    if (s.samples > 0 && s.ones[b] == s.samples) stuck += " " + std::to_string(b) + "=1";
  }
  std::printf("  stuck bits  %s\n", s.samples == 0  ? " (no samples)"
                                    : stuck.empty() ? " none"
                                                    : stuck.c_str());
}

// What the samples show of the faults of the field, one line each.
void PrintFindings(const SampleChecks& checks) {
  const std::vector<std::string> findings = checks.Findings();
  if (findings.empty()) std::printf("  faults       none the samples show\n");
  for (const std::string& f : findings) std::printf("  faults       %s\n", f.c_str());
}

// "02:59:40 +02:00": the board's local clock at the record's write, with the
// offset only when it is known.
std::string LocalClock(const Deployment& d, const Record& r) {
  if (!r.HasTime()) return "-";
  const DataFileName local =
      r.Definite() && d.UtcKnown() ? d.settings.zone.NameAt(r.writeUtc) : d.files[r.file].local;
  const std::string clock = local.Clock();
  return r.Definite() && d.UtcKnown() ? clock + " " + OffsetText(r.offsetMinutes) : clock;
}

std::string HowFound(const Deployment& d, const Record& r) {
  if (r.HasTime() && !d.UtcKnown()) return "from the name (local)";
  switch (r.source) {
    case TimeSource::kName: return "from the name";
    case TimeSource::kCadence: {
      const Candidate& other = r.candidates[r.candidates[0].utc == r.writeUtc ? 1 : 0];
      return "repeated hour, by the cadence (not " + d.CandidateText(other.utc) + ")";
    }
    case TimeSource::kAmbiguous:
      return "repeated hour, cannot tell: " + d.CandidateText(r.candidates[0].utc) + " or " +
             d.CandidateText(r.candidates[1].utc) + " (--assume earlier|later picks one)";
    case TimeSource::kAssumed: {
      const Candidate& other = r.candidates[r.candidates[0].utc == r.writeUtc ? 1 : 0];
      return "repeated hour, as --assume says (not " + d.CandidateText(other.utc) + ")";
    }
    case TimeSource::kNone: break;
  }
  return (r.flags & kSkippedHour) ? "no time: a name in the hour the change forward skips"
                                  : "no time: not a data file name";
}

std::string Notes(const Deployment& d, const Record& r) {
  std::string notes;
  auto add = [&](const std::string& text) { notes += (notes.empty() ? "" : "; ") + text; };
  const DeploymentFile& f = d.files[r.file];
  if (r.flags & kAppended) {
    add((r.flags & kEarlierRunFile) ? "appended to an earlier run's file" : "appended");
  } else if (f.records.size() > 1) {
    add("the file holds " + std::to_string(f.records.size()) + " records");
  }
  if (r.flags & kShortRecord) add("short: a write cut short (a full volume, or power lost)");
  if (r.flags & kTornTail)
    add("torn tail of " + std::to_string(f.tornBytes) + " bytes (power lost during a write)");
  if (r.flags & kZeroFilled) add("ends in zeros: reads timed out, or a silent input");
  if (r.flags & kEpochClock)
    add("named by a clock at its epoch, 2000-01-01 (a lost backup battery)");
  if (r.flags & kCrossesChange) add("its samples straddle a clock change");
  return notes;
}

// The clock checks and the drift they show, or why they are not used.
void PrintClockChecks(const Deployment& d) {
  const std::vector<ClockCheck>& checks = d.settings.description.clockChecks;
  if (checks.empty()) return;
  if (!d.Corrected()) {
    std::printf(
        "  clock checks %zu, not used: the board's clock cannot be read as UTC without its zone\n",
        checks.size());
    return;
  }
  std::printf("  clock checks %zu (%s): times are the reference's, the board's clock corrected%s\n",
              checks.size(), d.settings.description.path.c_str(),
              checks.size() == 1 ? " by a constant offset" : " linearly between checks");
  for (const ClockCheck& c : checks)
    std::printf("    board %s  reference %s  board %+.3f s\n", UtcText(c.board, 3).c_str(),
                UtcText(c.reference, 3).c_str(), c.board - c.reference);
  for (size_t k = 1; k < checks.size(); ++k)
    std::printf("    drift %+.2f ppm from %s to %s\n", DriftPpm(checks[k - 1], checks[k]),
                UtcText(checks[k - 1].reference).c_str(), UtcText(checks[k].reference).c_str());
}

// What a gap is, its kind and lengths: like gaps say the same.
std::string GapText(const Deployment& d, const Gap& g) {
  std::string what;
  switch (g.kind) {
    case GapKind::kMissingWrites:
      what = std::to_string(g.missingWrites) + " write" + (g.missingWrites == 1 ? "" : "s") +
             " missing";
      break;
    case GapKind::kRestart: what = "the run stopped; a new run starts"; break;
    case GapKind::kTooClose:
      what = "writes closer than the cadence (another run, or another device's files)";
      break;
  }
  return what + ": " + Seconds(g.interval) + " between writes, " + Seconds(g.silence) +
         " without samples" +
         (d.settings.rate && !d.settings.rateAssumed ? "" : " (at the assumed rate)");
}

// The deployment's gaps as findings, each at the record after it.
LikeFindings GapFindings(const Deployment& d) {
  LikeFindings gaps;
  for (const Gap& g : d.gaps) {
    const Record& r = d.records[g.before];
    gaps.Add(GapText(d, g), "before " + d.files[r.file].name + "#" + std::to_string(r.index));
  }
  return gaps;
}

// Gap k where it falls; a gap found many times alike is said once, at the first.
void PrintGap(const LikeFindings& gaps, size_t k) {
  if (gaps.Alone(k)) {
    std::printf("  -- gap        %s\n", gaps.Kind(k).c_str());
  } else if (gaps.SumsUp(k)) {
    std::printf("  -- gap        %s; %" PRIu64 " gaps alike, not listed one by one: %s\n",
                gaps.Kind(k).c_str(), gaps.Count(k), gaps.Examples(k).c_str());
  }
}

// The settings the times rest on: zone, clock checks, rate, record length, cadence.
void PrintTimelineHeader(const Deployment& d, const std::vector<std::string>& inputs) {
  const DeploymentSettings& s = d.settings;
  std::string what =
      inputs.size() == 1 ? inputs.front() : std::to_string(inputs.size()) + " inputs";
  std::printf("%s: %zu records in %zu files, in UTC order\n", what.c_str(), d.records.size(),
              d.files.size());
  if (d.UtcKnown()) {
    std::printf("  time zone    %s (the board's setting)\n", s.zone.Rule().c_str());
  } else {
    std::printf("  time zone    not given: %s\n", Deployment::UtcNotKnown());
  }
  PrintClockChecks(d);
  if (s.rate)
    std::printf("  rate         %u Hz%s\n", s.rate,
                s.rateAssumed          ? " (assumed; give --rate or --config)"
                : s.configPath.empty() ? ""
                                       : (" (" + s.configPath + ")").c_str());
  if (s.samplesPerRecord) {
    std::printf(
        "  record       %" PRIu64 " samples%s\n", s.samplesPerRecord,
        s.rate ? (" (" + Seconds(static_cast<double>(s.samplesPerRecord) / s.rate) + ")").c_str()
               : "");
  } else {
    std::printf(
        "  record       length not known: each file is taken as one record (give "
        "--samples-per-record or --config)\n");
  }
  if (d.cadence.source == CadenceSource::kNone) {
    std::printf("  cadence      not known: no gaps told, repeated-hour names not resolved\n");
  } else {
    std::printf("  cadence      %s between writes, %s; a write keeps it within %s\n",
                Seconds(d.cadence.seconds).c_str(), CadenceSourceText(d.cadence.source),
                Seconds(d.cadence.tolerance).c_str());
  }
}

// A row per record, with the clock changes and gaps between them.
void PrintTimelineRows(const Deployment& d) {
  std::printf("  %-21s local time       file                record  samples     time\n",
              d.UtcKnown() ? "write (UTC)" : "write (local)");
  const LikeFindings gaps = GapFindings(d);
  size_t gap = 0, change = 0;
  for (size_t i = 0; i < d.records.size(); ++i) {
    const Record& r = d.records[i];
    while (r.HasTime() && change < d.changes.size() && d.changes[change].utc <= r.writeUtc) {
      const ClockChange& c = d.changes[change++];
      std::printf("  -- clock change at %s: %s to %s\n", UtcText(c.utc).c_str(),
                  OffsetText(c.offsetBefore).c_str(), OffsetText(c.offsetAfter).c_str());
    }
    while (gap < d.gaps.size() && d.gaps[gap].before == i) PrintGap(gaps, gap++);
    const DeploymentFile& f = d.files[r.file];
    const std::string index =
        "#" + std::to_string(r.index) + "/" + std::to_string(f.records.size());
    const std::string utc = !r.HasTime()   ? "(no time)"
                            : r.Definite() ? d.TimeText(r.WriteTime(), d.Corrected() ? 3 : 0)
                                           : "(two candidates)";
    const std::string notes = Notes(d, r);
    std::printf("  %-21s %-16s %-19s %-7s %-11" PRIu64 " %s%s%s\n", utc.c_str(),
                LocalClock(d, r).c_str(), f.name.c_str(), index.c_str(), r.words,
                HowFound(d, r).c_str(), notes.empty() ? "" : "; ", notes.c_str());
  }
}

void PrintTimelineTotals(const Deployment& d) {
  const DeploymentSettings& s = d.settings;
  std::printf("  total        %zu records, %zu files, %" PRIu64 " bytes, %" PRIu64 " samples",
              d.records.size(), d.files.size(), d.bytes, d.words);
  if (s.rate)
    std::printf(", %s at %u Hz%s", Seconds(d.RecordedSeconds()).c_str(), s.rate,
                s.rateAssumed ? " (assumed)" : "");
  std::printf("\n");
  size_t firstTimed = d.records.size(), lastTimed = 0;
  for (size_t i = 0; i < d.records.size(); ++i) {
    if (!d.records[i].HasTime()) continue;
    if (firstTimed == d.records.size()) firstTimed = i;
    lastTimed = i;
  }
  if (firstTimed < d.records.size()) {
    std::printf("  span         %s to %s, %s from the first record's start to the last write\n",
                d.StartText(d.records[firstTimed], 3).c_str(),
                d.WriteText(d.records[lastTimed]).c_str(), Seconds(d.SpanSeconds()).c_str());
  }
  size_t restarts = 0, missing = 0;
  for (const Gap& g : d.gaps) (g.kind == GapKind::kMissingWrites ? missing : restarts) += 1;
  std::printf("  runs         %zu", d.runs.size());
  size_t stopped = 0;
  for (const Run& run : d.runs) stopped += run.stoppedEarly;
  if (stopped)
    std::printf(", %zu with fewer writes than the configuration's %" PRId64, stopped,
                s.filesPerRun);
  std::printf("\n  gaps         %zu with writes missing, %zu where a run ended\n", missing,
              restarts);
  for (const ConverterClock& c : FindConverterClocks(d))
    std::printf("  converter    %s\n", ConverterClockText(d, c).c_str());
  std::printf(
      "  shared names %zu files hold more than one record (writes in one local second, in a "
      "repeated "
      "hour, or by another run)\n",
      d.sharedFiles);
  std::printf("  repeated hour %zu records resolved by the cadence, %zu could not be told%s\n",
              d.resolvedByCadence, d.ambiguous,
              d.assumed ? (", " + std::to_string(d.assumed) + " placed by --assume").c_str() : "");
  if (d.untimed) std::printf("  no time      %zu records\n", d.untimed);
  std::printf("  not read     %zu entries with a data file name are no data files%s\n",
              d.skipped.size(), d.skipped.empty() ? "" : ":");
  for (const SkippedEntry& e : d.skipped)
    std::printf("    %s: %s\n", e.path.c_str(), e.reason.c_str());
  std::printf("  torn tails   %zu files\n", d.tornFiles);
  std::printf("  clock changes %zu within the deployment\n", d.changes.size());
}

void PrintTimeline(const Deployment& d, const std::vector<std::string>& inputs) {
  PrintTimelineHeader(d, inputs);
  PrintTimelineRows(d);
  PrintTimelineTotals(d);
}

void WriteCsv(const Deployment& d, FILE* out) {
  std::fputs(CsvLine({"file", "record", "write_utc", "start_utc", "local_time", "offset", "samples",
                      "time_from", "candidates", "flags", "board_write_utc", "correction_s"})
                 .c_str(),
             out);
  for (const Record& r : d.records) {
    std::string write, start, local, offset, candidates, board, correction;
    if (r.HasTime()) local = d.files[r.file].local.Text().replace(10, 1, "T");
    // UTC only where it is known and one: else the local time and the candidates.
    if (r.Definite() && d.UtcKnown()) {
      write = d.WriteText(r);
      if (d.settings.rate) start = d.StartText(r, 6);
      offset = OffsetText(r.offsetMinutes);
      board = UtcText(r.writeUtc);
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", r.correction);
      correction = text;
    }
    if (d.UtcKnown())
      for (const Candidate& c : r.candidates)
        candidates += (candidates.empty() ? "" : " ") + d.CandidateText(c.utc);
    std::fputs(CsvLine({d.files[r.file].path, std::to_string(r.index), write, start, local, offset,
                        std::to_string(r.words), TimeSourceText(r.source), candidates,
                        RecordFlagsText(r.flags), board, correction})
                   .c_str(),
               out);
  }
}

// One file alone: its figures, then its records' times.
void PrintFile(const Deployment& d, const InfoOptions& o) {
  const DeploymentFile& f = d.files.front();
  const DeploymentSettings& s = d.settings;
  WordReader reader;
  std::string error;
  if (!reader.Open(f.path, &error)) Fail(error);
  std::printf("%s\n", f.path.c_str());
  if (f.named) {
    std::printf(
        "  time         %s (local; the first write to the file, at the end of its record)\n",
        f.local.Text().c_str());
  } else {
    std::printf("  time         none: \"%s\" is not a data file name\n", f.name.c_str());
  }
  std::printf("  size         %" PRIu64 " bytes, %" PRIu64 " words, %" PRIu64 " samples\n",
              reader.Bytes(), reader.Words(), reader.Words());
  std::printf("  duration     %.6f s at %u Hz%s\n", static_cast<double>(reader.Words()) / s.rate,
              s.rate, s.rateAssumed ? " (assumed; give --rate or --config)" : "");
  if (s.samplesPerRecord > 0) {
    const uint64_t records = reader.Words() / s.samplesPerRecord;
    const uint64_t rest = reader.Words() % s.samplesPerRecord;
    std::printf("  records      %" PRIu64 " of %" PRIu64 " samples%s", records, s.samplesPerRecord,
                records > 1 ? " (writes in the same second, or in a repeated hour)" : "");
    if (rest != 0) std::printf(", and %" PRIu64 " samples over (not a whole record)", rest);
    std::printf("\n");
  }
  if (reader.TornBytes() != 0)
    std::printf("  torn tail    %u bytes after the last whole word (a write cut short)\n",
                reader.TornBytes());
  if (!d.UtcKnown()) std::printf("  time zone    not given: %s\n", Deployment::UtcNotKnown());
  PrintClockChecks(d);
  for (size_t i : f.records) {
    const Record& r = d.records[i];
    if (!r.HasTime()) continue;
    std::printf("  write        %s, %s#%u: %s\n", d.WriteText(r).c_str(), f.name.c_str(), r.index,
                HowFound(d, r).c_str());
  }
  SampleChecks checks;
  if (!reader.ForEachBlock([&](const std::vector<uint32_t>& block) { checks.Add(block); }))
    Fail(reader.FailureText(f.path, f.bytes));
  checks.Finish();
  if (checks.Stats().samples > 0) {
    PrintStats(checks.Stats(), o.calibration);
    PrintFindings(checks);
  }
}

// Every record's samples checked on `jobs` threads; what they show, in the
// timeline's order, one line a finding.
void PrintSampleFindings(const Deployment& d, unsigned jobs) {
  size_t records = 0;
  ForEachInOrder<std::pair<std::vector<std::string>, std::string>>(
      d.records.size(), jobs,
      [&](size_t i) {
        SampleChecks checks;
        std::string error;
        ForEachRecordBlock(
            d, d.records[i],
            [&](const std::vector<int32_t>&, const std::vector<uint32_t>& words) {
              checks.Add(words);
            },
            &error);
        checks.Finish();
        return std::make_pair(checks.Findings(), error);
      },
      [&](size_t i, std::pair<std::vector<std::string>, std::string>& found) {
        if (!found.second.empty()) Fail(found.second);
        const Record& r = d.records[i];
        for (const std::string& f : found.first)
          std::printf("    %s#%u: %s\n", d.files[r.file].name.c_str(), r.index, f.c_str());
        records += !found.first.empty();
      });
  std::printf("  samples      %zu records show a fault in their samples%s\n", records,
              records ? " (listed above)" : "");
}

int RunInfo(InfoOptions& o) {
  std::string error;
  if (!ResolveCalibration(o.calibrationFlags, &o.calibration, &error)) Fail(error);
  const Deployment d = LoadOrFail(o.inputs, o.flags, kAssumedRate, SelectionOrFail(o.selection));
  if (o.csv) {
    if (o.output.empty()) {
      WriteCsv(d, stdout);  // a failed write ends the program at exit
      return 0;
    }
    if (!CheckOutputExtension(o.output, "csv", &error)) Fail(error);
    OutputPolicy policy;
    policy.force = o.force;
    policy.inputs = o.inputs;
    if (!o.flags.configPath.empty()) policy.inputs.push_back(o.flags.configPath);
    OutputFile out;
    if (!out.Open(o.output, policy, &error)) Fail(error);
    WriteCsv(d, out.Stream());
    if (!out.Commit(&error)) Fail(error);
    return 0;
  }
  if (!o.output.empty()) Fail("-o writes the --csv timeline: give --csv");
  if (o.inputs.size() == 1 && !IsFolder(o.inputs.front())) {
    PrintFile(d, o);
  } else {
    PrintTimeline(d, o.inputs);
    PrintSampleFindings(d, o.jobs);
  }
  return 0;
}

}  // namespace

Subcommand AddInfoCommand(CLI::App& program) {
  auto o = std::make_shared<InfoOptions>();
  CLI::App* app = program.add_subcommand("info",
                                         "a deployment's timeline in UTC (records, cadence, gaps, "
                                         "appends, repeated-hour names, torn tails, "
                                         "totals); one file's figures and levels");
  AddDeploymentOptions(app, &o->flags);
  AddCalibrationOptions(app, &o->calibrationFlags);
  AddSelectionOptions(app, &o->selection);
  app->add_flag(
      "--csv", o->csv,
      "the timeline as CSV, one row per record: file, record, write_utc, start_utc, local_time, "
      "offset, samples, time_from, candidates, flags, board_write_utc, correction_s");
  app->add_option("-o,--output", o->output,
                  "write the --csv timeline to this file instead of standard output");
  app->add_flag("--force", o->force, "replace an existing -o file");
  app->add_option("--jobs", o->jobs,
                  "records whose samples are checked at once (default: the number of cores)")
      ->transform(tools::DecimalInteger())
      ->check(CLI::Range(1u, 256u).description(""));
  app->add_option("PATH", o->inputs, "a data folder, or data files")->required();
  return Subcommand{app, [o] { return RunInfo(*o); }};
}

}  // namespace datatools
