// pelmok-data's subcommands: each file adds its own to the program's command
// line and runs it; main.cpp only dispatches. They share the deployment
// options and read data through the deployment model.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "tools/common/deployment.h"

namespace datatools {

// A subcommand as main.cpp sees it: its CLI11 app and what runs it once the
// command line is parsed (the exit status).
struct Subcommand {
  CLI::App* app = nullptr;
  std::function<int()> run;
};

Subcommand AddInfoCommand(CLI::App& program);
Subcommand AddExportCommand(CLI::App& program);
Subcommand AddPlotCommand(CLI::App& program);
Subcommand AddReportCommand(CLI::App& program);
Subcommand AddLevelsCommand(CLI::App& program);
Subcommand AddInitCommand(CLI::App& program);

// --rate, --samples-per-record, --config, --time-zone, --deployment and
// --assume on a subcommand.
void AddDeploymentOptions(CLI::App* command, DeploymentFlags* flags);

// --from, --to (UTC, ISO 8601) and --record FILE#N, as given.
struct SelectionFlags {
  std::string from, to;
  std::vector<std::string> records;
};
void AddSelectionOptions(CLI::App* command, SelectionFlags* flags);
// The selection the flags ask for; a bad flag ends the program.
RecordSelection SelectionOrFail(const SelectionFlags& flags);

// The deployment the inputs make under the flags, narrowed to the selection;
// a failure ends the program with one line (exit 2); a folder entry that
// is no data file is a warning on standard error. A file given is read
// within the deployment of its folder (its siblings with data file names),
// so its records get the times the whole folder gives them. `defaultRate`
// (0: none) is taken, and said to be assumed, when neither --rate nor
// --config gives one.
Deployment LoadOrFail(const std::vector<std::string>& inputs, const DeploymentFlags& flags,
                      uint32_t defaultRate, const RecordSelection& selection = RecordSelection());

// One line on standard error, "pelmok-data: <message>", exit status 2.
[[noreturn]] void Fail(const std::string& message);

}  // namespace datatools
