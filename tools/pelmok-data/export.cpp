// pelmok-data export: a deployment's records as audio files (or tables), one
// per record named by its UTC start, or all of them joined into one WAV file
// with a cue point and label at each record's start.
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "hardware/sample_values.h"
#include "tools/common/board_time.h"
#include "tools/common/csv.h"
#include "tools/common/decimal_option.h"
#include "tools/common/output_file.h"
#include "tools/common/parallel.h"
#include "tools/common/progress_line.h"
#include "tools/formats/audio_file.h"
#include "tools/pelmok-data/record_samples.h"
#include "tools/pelmok-data/subcommand.h"

namespace datatools {
namespace {

enum class Format { kWav, kFlac, kCsv };

struct ExportOptions {
  DeploymentFlags flags;
  SelectionFlags selection;
  std::vector<std::string> inputs;
  std::string output;
  std::string format;  // "", "wav", "flac", "csv"
  bool join = false;
  std::string gaps = "label";
  bool force = false;
  unsigned jobs = DefaultJobs();
};

const char* Extension(Format f) {
  return f == Format::kWav ? "wav" : f == Format::kFlac ? "flac" : "csv";
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The format from --format, else from the output's name; `fallback` for a folder.
Format ChooseFormat(const ExportOptions& o, bool folder) {
  std::string named;
  for (const char* ext : {"wav", "flac", "csv"})
    if (!folder && EndsWith(o.output, std::string(".") + ext)) named = ext;
  std::string f = o.format.empty() ? named : o.format;
  if (f.empty()) {
    if (!folder) Fail("cannot tell the format from '" + o.output + "': give --format wav|flac|csv");
    f = "wav";
  }
  return f == "flac" ? Format::kFlac : f == "csv" ? Format::kCsv : Format::kWav;
}

// Opens an output through the shared mechanism: never over an input or a
// data file, over another file only with --force, whole or not at all.
bool OpenOutput(const std::string& path, Format format, const ExportOptions& o, OutputFile* out,
                std::string* error) {
  OutputPolicy policy;
  policy.force = o.force;
  policy.inputs = o.inputs;
  if (!o.flags.configPath.empty()) policy.inputs.push_back(o.flags.configPath);
  return CheckOutputExtension(path, Extension(format), error) && out->Open(path, policy, error);
}

bool WriteAudioRecord(const Deployment& d, const Record& r, OutputFile& out, Format format,
                      std::string* error) {
  AudioWriter writer;
  if (!writer.Open(out.Descriptor(), out.Path(),
                   format == Format::kWav ? AudioFormat::kWav : AudioFormat::kFlac,
                   ProvenanceOf(d, r), {}, error))
    return false;
  bool written = true;
  std::string reason;
  const bool read = ForEachRecordBlock(
      d, r,
      [&](const std::vector<int32_t>& codes, const std::vector<uint32_t>&) {
        written = writer.Append(codes.data(), codes.size(), &reason);
      },
      error, [&] { return written; });
  if (!written) *error = reason;
  if (!writer.Close(written && read ? error : &reason)) return false;
  return read && written;
}

// index, seconds from the record's start, code, volts: the record's UTC
// start is in the file's name (a comment line would be a row of another
// width to a CSV reader).
bool WriteCsvRecord(const Deployment& d, const Record& r, OutputFile& out, std::string* error) {
  FILE* f = out.Stream();
  std::fputs(CsvLine({"index", "time_s", "code", "volts"}).c_str(), f);
  uint64_t index = 0;
  const bool read = ForEachRecordBlock(
      d, r,
      [&](const std::vector<int32_t>& codes, const std::vector<uint32_t>&) {
        for (int32_t code : codes) {
          std::fprintf(f, "%" PRIu64 ",%.9f,%d,%.10g\r\n", index,
                       static_cast<double>(index) / d.settings.rate, code, AdcCodeToVolts(code));
          ++index;
        }
      },
      error, [&] { return !out.Failed(); });
  return read;
}

// The commits of records exported at once: the first failure, seen in the
// records' order, stops every later one from being put in place.
struct CommitGate {
  std::mutex lock;
  bool stopped = false;
  std::vector<char> committed;  // per record, set under the lock
};

bool WriteRecord(const Deployment& d, const Record& r, const std::string& path, Format format,
                 const ExportOptions& o, std::string* error, CommitGate* gate = nullptr,
                 size_t index = 0) {
  OutputFile out;
  if (!OpenOutput(path, format, o, &out, error)) return false;
  const bool written = format == Format::kCsv ? WriteCsvRecord(d, r, out, error)
                                              : WriteAudioRecord(d, r, out, format, error);
  // A failed write is the disk's word: Commit names it and removes the rest.
  if (!written && !out.Failed()) {
    *error += " (" + out.NotWritten() + ")";
    return false;
  }
  if (gate == nullptr) return out.Commit(error);
  out.Sync();  // outside the lock: the threads' fsyncs overlap
  std::lock_guard<std::mutex> hold(gate->lock);
  if (gate->stopped) return true;  // discarded unnamed: an earlier record failed
  gate->committed[index] = out.Commit(error);
  return gate->committed[index] != 0;
}

// The records into `paths` on o.jobs threads, each file as one thread makes
// it; a failure names the files written before it in order and removes any
// written after it.
void WriteEach(const Deployment& d, const ExportOptions& o, Format format,
               const std::vector<std::string>& paths) {
  CommitGate gate;
  gate.committed.assign(paths.size(), 0);
  ProgressLine progress("export", paths.size());
  ForEachInOrder<std::string>(
      paths.size(), o.jobs,
      [&](size_t i) {
        std::string error;
        return WriteRecord(d, d.records[i], paths[i], format, o, &error, &gate, i) ? std::string()
                                                                                   : error;
      },
      [&](size_t i, const std::string& error) {
        const Record& r = d.records[i];
        if (!error.empty()) {
          progress.End();
          std::lock_guard<std::mutex> hold(gate.lock);
          gate.stopped = true;
          for (size_t k = i + 1; k < paths.size(); ++k)
            if (gate.committed[k]) std::remove(paths[k].c_str());
          std::string written;
          for (size_t k = 0; k < i; ++k) written += (k ? ", " : "") + paths[k];
          Fail(error + "; " + std::to_string(i) + " of " + std::to_string(paths.size()) +
               " files written before it" + (i ? ": " + written : ""));
        }
        std::printf("%s  %s#%u%s\n", paths[i].c_str(), d.files[r.file].name.c_str(), r.index,
                    r.source == TimeSource::kAmbiguous ? "  (ambiguous: no UTC time)" : "");
        progress.Done(i + 1);
      });
}

// Where each timed record lands in the joined file, and the cue points.
struct JoinLayout {
  std::vector<size_t> timed;  // indices into the deployment's records, in UTC order
  std::vector<uint64_t> at;   // each one's first sample in the joined file
  std::vector<CueMark> cues;
  uint64_t length = 0;  // samples, silence included
};

std::string ClosedGapLabel(const Gap& g) {
  char text[160];
  std::snprintf(text, sizeof text, "gap of %.0f s closed (%s%s)", g.silence, GapKindText(g.kind),
                g.kind == GapKind::kMissingWrites
                    ? (", " + std::to_string(g.missingWrites) + " writes").c_str()
                    : "");
  return text;
}

JoinLayout LayOutJoin(const Deployment& d, bool silence) {
  JoinLayout join;
  for (size_t i = 0; i < d.records.size(); ++i)
    if (d.records[i].HasTime()) join.timed.push_back(i);
  std::map<size_t, const Gap*> gapBefore;  // record index -> the gap that ends at it
  for (const Gap& g : d.gaps) gapBefore[g.before] = &g;
  join.at.resize(join.timed.size());
  int64_t lastEnd = 0;
  for (size_t k = 0; k < join.timed.size(); ++k) {
    const Record& r = d.records[join.timed[k]];
    const int64_t start = StartSample(d, r);
    if (silence && k > 0 && start > lastEnd) join.length += static_cast<uint64_t>(start - lastEnd);
    const auto gap = gapBefore.find(join.timed[k]);
    if (!silence && gap != gapBefore.end())
      join.cues.push_back({join.length, ClosedGapLabel(*gap->second)});
    join.at[k] = join.length;
    std::string label =
        RecordStem(d, r) + " " + d.files[r.file].name + "#" + std::to_string(r.index);
    if (r.source == TimeSource::kAmbiguous) label += " (ambiguous time)";
    if (r.source == TimeSource::kCadence) label += " (time by the cadence)";
    join.cues.push_back({join.length, label});
    join.length += r.words;
    lastEnd = std::max(lastEnd, start + static_cast<int64_t>(r.words));
  }
  return join;
}

AudioProvenance JoinedProvenance(const Deployment& d, const JoinLayout& join, bool silence) {
  AudioProvenance p = ProvenanceOf(d, d.records[join.timed.front()]);
  p.samples = join.length;
  p.summary =
      "Pelmok deployment: " + std::to_string(join.timed.size()) + " records of " +
      std::to_string(d.files.size()) + " data files, " +
      d.WriteText(d.records[join.timed.front()]) + " to " +
      d.WriteText(d.records[join.timed.back()]) + " (writes), gaps " +
      (silence ? "kept as silence" : "closed and labelled") + ", a cue point at each record" +
      (d.skipped.empty() ? "" : ", " + std::to_string(d.skipped.size()) + " entries not read");
  p.timing.clear();
  p.extra = {{"Pelmok|Records", std::to_string(join.timed.size())},
             {"Pelmok|Gaps", silence ? "silence" : "label"}};
  p.extra.push_back({"Pelmok|Time Zone", d.UtcKnown() ? d.settings.zone.Rule() : "not known"});
  return p;
}

bool WriteJoinedSamples(const Deployment& d, const JoinLayout& join, const AudioProvenance& p,
                        const OutputFile& out, std::string* e) {
  AudioWriter writer;
  if (!writer.Open(out.Descriptor(), out.Path(), AudioFormat::kWav, p, join.cues, e)) return false;
  uint64_t written = 0;
  for (size_t k = 0; k < join.timed.size(); ++k) {
    if (join.at[k] > written && !writer.AppendSilence(join.at[k] - written, e)) return false;
    written = join.at[k];
    bool ok = true;
    std::string reason;
    if (!ForEachRecordBlock(
            d, d.records[join.timed[k]],
            [&](const std::vector<int32_t>& codes, const std::vector<uint32_t>&) {
              ok = writer.Append(codes.data(), codes.size(), &reason);
            },
            e, [&] { return ok; }))
      return false;
    if (!ok) {
      *e = reason;
      return false;
    }
    written += d.records[join.timed[k]].words;
  }
  return writer.Close(e);
}

// The joined file: every timed record in UTC order. With gaps as silence the
// file is the deployment's time line (a sample's offset over the rate is its
// time after the first start); otherwise records lie back to back and each
// gap the cadence shows gets a label saying how long it was.
bool WriteJoined(const Deployment& d, const ExportOptions& o, Format format, std::string* error) {
  const bool silence = o.gaps == "silence";
  const JoinLayout join = LayOutJoin(d, silence);
  if (join.timed.empty()) {
    *error = "no record has a time to join by (no data file names)";
    return false;
  }
  // Past 4 GiB the file is RF64; its cue points still end at 2^32 samples.
  if (format == Format::kWav && join.length > AudioWriter::CueSampleLimit()) {
    *error = o.output + ": the joined deployment is " + std::to_string(join.length) +
             " samples, beyond the last a cue point reaches" +
             (silence ? " (try --gaps label)" : "");
    return false;
  }
  const AudioProvenance p = JoinedProvenance(d, join, silence);
  OutputFile out;
  if (!OpenOutput(o.output, format, o, &out, error)) return false;
  if (!WriteJoinedSamples(d, join, p, out, error)) {
    *error += " (" + out.NotWritten() + ")";
    return false;
  }
  return out.Commit(error);
}

// One file per record, named by its UTC start; two starts in one second
// (records the cadence could not part) get "-2", "-3". Every output is
// checked before the first is written; a failure part-way names the files
// written before it (the one it stopped in is gone).
int ExportEach(const Deployment& d, const ExportOptions& o, Format format) {
  std::set<std::string> used;
  std::vector<std::string> paths;
  std::string error;
  OutputPolicy policy;
  policy.force = o.force;
  policy.inputs = o.inputs;
  if (!o.flags.configPath.empty()) policy.inputs.push_back(o.flags.configPath);
  for (const Record& r : d.records) {
    std::string stem = RecordStem(d, r);
    for (int n = 2; used.count(stem); ++n) stem = RecordStem(d, r) + "-" + std::to_string(n);
    used.insert(stem);
    paths.push_back(o.output + (EndsWith(o.output, "/") ? "" : "/") + stem + "." +
                    Extension(format));
    if (!CheckOutputExtension(paths.back(), Extension(format), &error) ||
        !OutputFile::Check(paths.back(), policy, &error))
      Fail(error + " (nothing written)");
  }
  std::error_code made;
  std::filesystem::create_directories(o.output, made);
  if (made) Fail(o.output + ": cannot make the folder: " + made.message());
  WriteEach(d, o, format, paths);
  return 0;
}

int RunExport(const ExportOptions& o) {
  Deployment d = LoadOrFail(o.inputs, o.flags, 0, SelectionOrFail(o.selection));
  if (d.settings.rate == 0)
    Fail("the sample rate is not in the data files: give --rate HZ or --config FILE");
  std::string error;
  // "DIR/" is a folder, made if it is missing.
  const bool folder = IsFolder(o.output) || EndsWith(o.output, "/");
  const Format format = ChooseFormat(o, folder);
  if (o.join) {
    if (format != Format::kWav)
      Fail("--join writes WAV: the cue points and their labels are WAV chunks");
    if (folder) Fail("'" + o.output + "' is a folder: --join writes one file");
    if (!WriteJoined(d, o, format, &error)) Fail(error);
    return 0;
  }
  if (d.records.empty()) {
    std::string inputs;
    for (const std::string& in : o.inputs) inputs += (inputs.empty() ? "" : " ") + in;
    Fail(inputs + ": no records to export");
  }
  if (!folder) {
    if (d.records.size() > 1)
      Fail(std::to_string(d.records.size()) +
           " records: give a folder for -o (one file each), or --join");
    if (!WriteRecord(d, d.records.front(), o.output, format, o, &error)) Fail(error);
    return 0;
  }
  return ExportEach(d, o, format);
}

}  // namespace

Subcommand AddExportCommand(CLI::App& program) {
  auto o = std::make_shared<ExportOptions>();
  CLI::App* app = program.add_subcommand("export",
                                         "records as 24-bit PCM WAV (bext and GUANO: UTC start, "
                                         "offset, source) or FLAC (the same as Vorbis "
                                         "comments), or CSV; one file per record named by its UTC "
                                         "start, or --join for one file of the deployment");
  AddDeploymentOptions(app, &o->flags);
  AddSelectionOptions(app, &o->selection);
  app->add_option("--format", o->format,
                  "wav, flac or csv (default: from the output's name; wav into a folder)")
      ->check(CLI::IsMember({"wav", "flac", "csv"}));
  app->add_option(
         "-o,--output", o->output,
         "a folder (one file per record, named like 20261025T005939Z.wav) or, for one record or "
         "--join, a file")
      ->required();
  app->add_flag("--join", o->join,
                "one WAV of the whole deployment in UTC order, a cue point and label at each "
                "record's start");
  app->add_option(
         "--gaps", o->gaps,
         "with --join: silence (the file keeps the time line: every pause is silence) or label "
         "(records back to back, each gap closed with a label saying how long it was; the default)")
      ->check(CLI::IsMember({"silence", "label"}));
  app->add_flag("--force", o->force, "replace an existing output file");
  app->add_option(
         "--jobs", o->jobs,
         "records exported at once into a folder (default: the number of cores); the files "
         "are the same whatever the number")
      ->transform(tools::DecimalInteger())
      ->check(CLI::Range(1u, 256u).description(""));
  app->add_option("INPUT", o->inputs, "data folders or files")->required();
  return {app, [o] { return RunExport(*o); }};
}

}  // namespace datatools
