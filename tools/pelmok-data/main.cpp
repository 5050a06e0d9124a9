// pelmok-data: the engineer's view of a deployment, the board's data files.
// Each subcommand lives in a file of its own; this only dispatches.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/common/standard_streams.h"
#include "tools/common/version.h"
#include "tools/pelmok-data/subcommand.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{
      "Data files of the Pelmok receiver: raw little-endian 32-bit words, the converter's 24-bit\n"
      "two's-complement code in the low 24 bits, 2.5 V = 8388607 codes, named from the local\n"
      "time of the write (<year-1900>-<day of year>-<hour>-<minute>-<second>), with no zone.\n"
      "A folder (or a list of files) is one deployment: every record in UTC order under the\n"
      "board's time-zone setting (--time-zone). The files do not hold their sample rate: give\n"
      "--rate, or --config with the run's configuration file.",
      "pelmok-data"};
  app.require_subcommand(1);
  app.set_version_flag("--version", tools::ProgramVersion("pelmok-data"),
                       "print the program's version and exit");
  const std::vector<datatools::Subcommand> commands = {
      datatools::AddInfoCommand(app),   datatools::AddExportCommand(app),
      datatools::AddPlotCommand(app),   datatools::AddReportCommand(app),
      datatools::AddLevelsCommand(app), datatools::AddInitCommand(app)};
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    for (const datatools::Subcommand& c : commands) {
      if (c.app->parsed()) {
        std::fputs(c.app->help().c_str(), stdout);
        return 0;
      }
    }
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      app.exit(e);
      return 0;
    }
    // One line, whatever CLI11 would have printed.
    std::string message = e.what();
    for (char& c : message)
      if (c == '\n') c = ' ';
    datatools::Fail(message + " (see --help)");
  }
  for (const datatools::Subcommand& c : commands)
    if (c.app->parsed()) return c.run();
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  datatools::GuardStandardStreams("pelmok-data");
  // Whatever a library throws (a bad allocation for a huge file, a file
  // system error) ends the program with one line, never an abort.
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    datatools::Fail(e.what());
  } catch (...) {
    datatools::Fail("unknown exception");
  }
}
