// What pelmok-data's subcommands share: the deployment options and the one
// way a subcommand fails.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "hostlib/time_zone.h"
#include "tools/common/decimal_option.h"
#include "tools/pelmok-data/subcommand.h"

namespace datatools {

void Fail(const std::string& message) {
  std::fprintf(stderr, "pelmok-data: %s\n", message.c_str());
  // _Exit: the refusal stays one line, with no exit-time handlers (a leak
  // check under the sanitizers) reporting what the unwound caller still held.
  std::fflush(stdout);
  std::_Exit(2);
}

void AddDeploymentOptions(CLI::App* command, DeploymentFlags* flags) {
  command
      ->add_option_function<uint32_t>(
          "--rate", [flags](const uint32_t& hz) { flags->rate = hz; },
          "sample rate in Hz (the converter's frame rate)")
      ->type_name("HZ")
      ->transform(tools::DecimalInteger())
      ->check(CLI::Range(1u, 10000000u).description(""));
  command
      ->add_option_function<uint64_t>(
          "--samples-per-record", [flags](const uint64_t& n) { flags->samplesPerRecord = n; },
          "record length in samples: files holding several records are split")
      ->type_name("N")
      ->transform(tools::DecimalInteger())
      ->check(CLI::Range(uint64_t{1}, uint64_t{0x3FFFFFFF}).description(""));
  command
      ->add_option("--config", flags->configPath,
                   "the run's configuration file: rate, record length and cadence (a flag that "
                   "says otherwise is an error)")
      ->type_name("FILE");
  command
      ->add_option_function<std::string>(
          "--time-zone", [flags](const std::string& rule) { flags->timeZone = rule; },
          "the board's time-zone setting as pelmok-daq --time-zone takes it (a POSIX rule such as "
          "CET-1CEST,M3.5.0,M10.5.0/3, or a zone name such as Europe/Berlin; default: the "
          "deployment file's, else from TZ)")
      ->type_name("ZONE");
  command
      ->add_option_function<std::string>(
          "--assume",
          [flags](const std::string& pass) {
            flags->assume = pass == "earlier" ? Assume::kEarlier : Assume::kLater;
          },
          "for a repeated-hour name the cadence cannot place: take its earlier or later candidate "
          "(default: neither; it keeps both and gets no UTC time)")
      ->type_name("earlier|later")
      ->check(CLI::IsMember({"earlier", "later"}));
  command
      ->add_option("--deployment", flags->deploymentPath,
                   "the deployment file (default: deployment.toml in the data's folder or the "
                   "nearest folder above that has one)")
      ->type_name("FILE");
}

void AddSelectionOptions(CLI::App* command, SelectionFlags* flags) {
  command
      ->add_option("--from", flags->from,
                   "only records with samples at or after this UTC time, such as "
                   "2026-10-25T00:59:00Z")
      ->type_name("UTC");
  command->add_option("--to", flags->to, "only records with samples before this UTC time")
      ->type_name("UTC");
  command
      ->add_option("--record", flags->records,
                   "only this record, FILE#N with N from 0 in its file (repeatable); FILE a path "
                   "or a data file's name")
      ->type_name("FILE#N");
}

RecordSelection SelectionOrFail(const SelectionFlags& flags) {
  RecordSelection s;
  std::string error;
  for (auto [text, field] : {std::pair{&flags.from, &s.from}, std::pair{&flags.to, &s.to}}) {
    if (text->empty()) continue;
    double utc = 0;
    if (!hostlib::ParseUtcInstant(*text, &utc, &error))
      Fail("bad --from/--to '" + *text + "': " + error);
    *field = utc;
  }
  if (s.from && s.to && *s.to <= *s.from)
    Fail("--to " + flags.to + " is not after --from " + flags.from);
  for (const std::string& text : flags.records) {
    RecordSelection::Pick pick;
    if (!ParsePick(text, &pick, &error)) Fail(error);
    s.picks.push_back(pick);
  }
  return s;
}

namespace {

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// What to read for the inputs: folders as given; for a file, its folder (its
// siblings with data file names), and the file itself when its name is not
// one. *files: the files given, to select.
std::vector<std::string> Context(const std::vector<std::string>& inputs,
                                 std::vector<std::string>* files) {
  std::vector<std::string> context;
  const auto add = [&](const std::string& path) {
    if (std::find(context.begin(), context.end(), path) == context.end()) context.push_back(path);
  };
  for (const std::string& in : inputs) {
    if (IsFolder(in)) {
      add(in);
      continue;
    }
    files->push_back(in);
    if (IsFolder(Folder(in))) add(Folder(in));
    if (!DataFileName::Is(BaseName(in)) || !IsFolder(Folder(in))) add(in);
  }
  return context;
}

}  // namespace

Deployment LoadOrFail(const std::vector<std::string>& inputs, const DeploymentFlags& flags,
                      uint32_t defaultRate, const RecordSelection& selection) {
  DeploymentSettings settings;
  std::string error;
  DeploymentFlags found = flags;
  const std::string path = !flags.deploymentPath.empty() ? flags.deploymentPath
                           : inputs.empty()              ? ""
                                                         : FindDeploymentFile(inputs.front());
  if (!path.empty() && !ReadDeploymentFile(path, &found.deployment, &error)) Fail(error);
  if (!ResolveSettings(found, &settings, &error)) Fail(error);
  if (settings.rate == 0 && defaultRate != 0) {
    settings.rate = defaultRate;
    settings.rateAssumed = true;
  }
  RecordSelection asked = selection;
  const std::vector<std::string> context = Context(inputs, &asked.files);
  Deployment all;
  // A folder that cannot be read as a whole leaves the files given on their own.
  if (!LoadDeployment(context, settings, &all, &error) ||
      !SelectRecords(all, asked, &all, &error)) {
    if (!LoadDeployment(inputs, settings, &all, &error)) Fail(error);
    asked.files.clear();
    if (!SelectRecords(all, asked, &all, &error)) Fail(error);
  }
  for (const SkippedEntry& e : all.skipped)
    std::fprintf(stderr, "pelmok-data: warning: %s not read: %s\n", e.path.c_str(),
                 e.reason.c_str());
  return all;
}

}  // namespace datatools
