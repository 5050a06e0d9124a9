#include "tools/pelmok-daq/options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>

namespace daq {
namespace {

const char kDescription[] =
    "Runs the acquisition program once on a simulated PXA27x board, as the board's\n"
    "start-up code would, and exits with its result. The debug console goes to\n"
    "standard error; the banner and a report of the run go to standard output.";

const char kFooter[] =
    "Without --bare, a configuration file with all six keys is written to\n"
    "\"FlashFX Disk/Pelmok/PelmokConfig.txt\" if none exists (an existing one is never\n"
    "changed), and \"Hard Disk/Pelmok/Data\" and \"Storage Card/Pelmok/Data\" are created\n"
    "where missing. Local time follows the TZ variable.";

}  // namespace

void UsageError(const std::string& message) {
  std::fprintf(stderr, "pelmok-daq: %s (see --help)\n", message.c_str());
  std::exit(2);
}

Options ParseOptions(int argc, char** argv, const std::string& defaultLibraryDir) {
  Options o;
  o.libraryDir = defaultLibraryDir;

  CLI::App app(kDescription, "pelmok-daq");
  app.footer(kFooter);
  app.get_formatter()->column_width(24);

  app.add_option("--device-root", o.deviceRoot,
                 "folder holding the volumes \"FlashFX Disk\", \"Hard Disk\"\n"
                 "and \"Storage Card\" (default: ./pelmok-device)")
      ->type_name("DIR")
      ->check([](const std::string& v) { return v.empty() ? std::string("needs a folder") : std::string(); });
  app.add_flag("--bare", o.bare,
               "use the device folder as it is: write no default\n"
               "configuration and create no data directories");
  app.add_option("--signal", o.signal,
                 "what the converter sends: tone (default), counter,\n"
                 "silence, none, or wav:FILE (first channel of a PCM WAV file)")
      ->type_name("KIND");
  app.add_option("--frame-rate", o.frameRate, "converter frames per second (default 100000)")
      ->type_name("HZ")
      ->check(CLI::Range(1u, 10000000u).description(""));
  app.add_option("--trace", o.tracePath,
                 "write every register access (virtual time, R/W,\n"
                 "physical address, register, value) to FILE")
      ->type_name("FILE");
  app.add_option("--low-power", o.lowPowerMode,
                 "call EnterLowPower(MODE) instead of the acquisition run")
      ->type_name("MODE");
  app.add_option("--library-dir", o.libraryDir,
                 "folder searched for the vendor I/O library (default:\n"
                 "the build's stand-in SMARTIO.DLL and KEYBDDR.DLL)")
      ->type_name("DIR");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    std::exit(0);
  } catch (const CLI::ParseError& e) {
    UsageError(e.what());
  }
  o.frameRateGiven = app.count("--frame-rate") > 0;
  o.lowPower = app.count("--low-power") > 0;
  return o;
}

}  // namespace daq
