#include "tools/pelmok-daq/options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "hostlib/time_zone.h"
#include "tools/common/board_time.h"
#include "tools/common/decimal_option.h"
#include "tools/common/version.h"

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
    "where missing.\n"
    "\n"
    "The board's clock is UTC, the host's clock unless --start-time sets it. Its\n"
    "time-zone setting is one POSIX rule with no history, as a Windows CE device\n"
    "holds it: --time-zone RULE, else the TZ variable (a rule as it stands, or a\n"
    "zone name such as Europe/Berlin by the rule at the end of its zoneinfo file),\n"
    "else the host's own zone (/etc/localtime) the same way. The board holds only\n"
    "Mm.w.d dates at 00:00 to 23:59: a Julian-day rule (Jn or n) or a change time\n"
    "such as /25 or /-1 is refused. Data file names carry the local time, so two\n"
    "writes in the repeated hour of a change back to standard time go to one file,\n"
    "as on the board.";

}  // namespace

// Digits only: strtoull alone would take "-1" as 2^64 - 1 and " 7" as 7.
static bool WholeNumber(const std::string& text, uint64_t* value) {
  errno = 0;
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
         errno != ERANGE;
}

// A decimal number of parts per million within 10 %: a clock further off is
// no clock that drifts but one that is broken.
static bool ClockDrift(const std::string& text, double* ppm) {
  if (text.empty() || text.find_first_not_of("0123456789.+-") != std::string::npos) return false;
  char* end = nullptr;
  *ppm = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::fabs(*ppm) <= 100000;
}

void UsageError(const std::string& message) {
  std::fprintf(stderr, "pelmok-daq: %s (see --help)\n", message.c_str());
  std::exit(2);
}

namespace {

// Options taken as text and checked after the parse, as --stall-after is:
// CLI11's validators cost every run their start-up.
struct OptionTexts {
  std::string stallAfter, seed, volumeSize, startTime, timeZone, clockDrift;
  std::vector<std::string> faults;
  // Whether each was given, asked of the option itself: asked of the app by
  // name, each question walks every option's names.
  const CLI::Option *frameRateOption, *stallAfterOption, *seedOption, *volumeSizeOption,
      *lowPowerOption, *startTimeOption, *clockDriftOption, *timeZoneOption;
};

// The device, the converter and the run's faults.
void AddRunOptions(CLI::App& app, Options& o, OptionTexts& t) {
  app.add_option("--device-root", o.deviceRoot,
                 "folder holding the volumes \"FlashFX Disk\", \"Hard Disk\"\n"
                 "and \"Storage Card\" (default: ./pelmok-device)")
      ->type_name("DIR")
      ->check([](const std::string& v) {
        return v.empty() ? std::string("needs a folder") : std::string();
      });
  app.add_flag("--bare", o.bare,
               "use the device folder as it is: write no default\n"
               "configuration and create no data directories");
  app.add_flag("--check", o.check,
               "read the device's configuration file with the board's own\n"
               "reader, say what each line sets and every line read otherwise\n"
               "than it says, and what the run would do; run nothing\n"
               "(exit 0: all read as written, 1: warnings, 2: unreadable)");
  app.add_option("--signal", o.signal,
                 "what the converter sends: tone (default), counter,\n"
                 "silence, none, or wav:FILE (first channel of a WAV file,\n"
                 "integer PCM or float)")
      ->type_name("KIND");
  t.frameRateOption =
      app.add_option("--frame-rate", o.frameRate, "converter frames per second (default 100000)")
          ->type_name("HZ")
          ->transform(tools::DecimalInteger())
          ->check(CLI::Range(1u, 10000000u).description(""));
  t.stallAfterOption = app.add_option("--stall-after", t.stallAfter,
                                      "the converter sends FRAMES frames, then none, as one\n"
                                      "that dies part-way (default: it never stops)")
                           ->type_name("FRAMES");
  app.add_option("--fault", t.faults,
                 "a fault of the field, struck during the run (repeatable):\n"
                 "disk-full@BYTES, power-loss@WRITE[:BYTES], rtc-reset,\n"
                 "converter-ppm@PPM, overrun@FRAME:COUNT,\n"
                 "stuck-bit@BIT:0|1, stall@FRAMES; without @WHERE the\n"
                 "seed places it")
      ->type_name("KIND[@WHERE]")
      ->allow_extra_args(false);
  t.seedOption =
      app.add_option("--seed", t.seed, "places the faults given without @WHERE (default 0)")
          ->type_name("N");
  t.volumeSizeOption = app.add_option("--volume-size", t.volumeSize,
                                      "the Hard Disk volume's size in bytes (1 MiB to 2 TiB),\n"
                                      "held to FAT32's clusters (default: the host disk's room)")
                           ->type_name("BYTES");
}

// The trace, the low-power call, the vendor library and the board's clock.
void AddBoardOptions(CLI::App& app, Options& o, OptionTexts& t) {
  app.add_option("--trace", o.tracePath,
                 "write every register access (virtual time, R/W,\n"
                 "physical address, register, value) to FILE; a run of\n"
                 "reads of one register giving one value is one line\n"
                 "with its count (xN), the reads one access cost apart")
      ->type_name("FILE");
  app.add_flag("--force", o.force,
               "replace an existing --trace file (never the configuration,\n"
               "a data file or the WAV signal)");
  app.add_flag("--trace-every-access", o.traceEveryAccess,
               "with --trace: one line for each access, runs of reads too");
  t.lowPowerOption = app.add_option("--low-power", o.lowPowerMode,
                                    "call EnterLowPower(MODE) instead of the acquisition run")
                         ->type_name("MODE")
                         ->transform(tools::DecimalInteger());
  app.add_option("--library-dir", o.libraryDir,
                 "folder searched for the vendor I/O library (default:\n"
                 "the stand-in SMARTIO.DLL and KEYBDDR.DLL installed with\n"
                 "the program, or the build's)")
      ->type_name("DIR");
  t.startTimeOption = app.add_option("--start-time", t.startTime,
                                     "the board's clock at the start, in UTC\n"
                                     "(e.g. 2026-10-25T00:59:58Z; default: the host's clock)")
                          ->type_name("WHEN");
  t.clockDriftOption = app.add_option("--clock-drift", t.clockDrift,
                                      "the board's clock runs PPM parts per million fast\n"
                                      "(positive) or slow (negative) against the true time,\n"
                                      "which --start-time gives; the report then gives both\n"
                                      "clocks for each write (default 0)")
                           ->type_name("PPM");
  t.timeZoneOption = app.add_option("--time-zone", t.timeZone,
                                    "the board's time-zone setting as TZ takes it: a POSIX\n"
                                    "rule (e.g. CET-1CEST,M3.5.0,M10.5.0/3, <+0545>-5:45, UTC0)\n"
                                    "or a zone name (e.g. Europe/Berlin); default: from TZ,\n"
                                    "see below)")
                         ->type_name("ZONE");
}

// The values taken as text, checked once the parse is done.
void CheckTexts(const OptionTexts& t, Options& o) {
  std::string error;
  if (t.seedOption->count() > 0 && !WholeNumber(t.seed, &o.seed))
    UsageError("bad --seed '" + t.seed + "': a whole number, 0 or more");
  if (t.volumeSizeOption->count() > 0 &&
      (!WholeNumber(t.volumeSize, &o.volumeSize) || o.volumeSize < (uint64_t{1} << 20) ||
       o.volumeSize > (uint64_t{2} << 40)))
    UsageError("bad --volume-size '" + t.volumeSize +
               "': bytes, 1048576 (1 MiB) to 2199023255552 (2 TiB)");
  if (t.stallAfterOption->count() > 0) {
    uint64_t frames = 0;
    if (!WholeNumber(t.stallAfter, &frames))
      UsageError("bad --stall-after '" + t.stallAfter + "': a whole number of frames, 0 or more");
    o.faults.push_back(
        Fault{FaultKind::kStall, "stall@" + t.stallAfter, true, static_cast<int64_t>(frames)});
  }
  for (const std::string& text : t.faults) {
    Fault fault{FaultKind::kStall, text};
    if (!ParseFault(text, &fault, &error)) UsageError(error);
    o.faults.push_back(fault);
  }
  if (t.startTimeOption->count() > 0) {
    int64_t seconds = 0;
    if (!hostlib::ParseUtcTime(t.startTime, &seconds, &error))
      UsageError("bad --start-time: " + error);
    o.startTime = seconds;
  }
  if (t.clockDriftOption->count() > 0 && !ClockDrift(t.clockDrift, &o.clockDriftPpm))
    UsageError("bad --clock-drift '" + t.clockDrift + "': parts per million, -100000 to 100000");
  o.timeZoneGiven = t.timeZoneOption->count() > 0;
  if (o.timeZoneGiven) {
    if (!datatools::BoardZone::FromRule(t.timeZone, &o.timeZone, &error))
      UsageError("bad --time-zone: " + error);
  } else if (!datatools::BoardZone::FromEnvironment(&o.timeZone, &error)) {
    UsageError("time zone for the board: " + error);
  }
}

}  // namespace

Options ParseOptions(int argc, char** argv, const std::string& defaultLibraryDir) {
  Options o;
  o.libraryDir = defaultLibraryDir;
  CLI::App app(kDescription, "pelmok-daq");
  app.footer(kFooter);
  app.get_formatter()->column_width(24);
  app.set_version_flag("--version", tools::ProgramVersion("pelmok-daq"),
                       "print the program's version and exit");
  OptionTexts texts;
  AddRunOptions(app, o, texts);
  AddBoardOptions(app, o, texts);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    std::exit(0);
  } catch (const CLI::CallForVersion& e) {
    std::printf("%s\n", e.what());
    std::exit(0);
  } catch (const CLI::ParseError& e) {
    UsageError(e.what());
  }
  o.frameRateGiven = texts.frameRateOption->count() > 0;
  o.lowPower = texts.lowPowerOption->count() > 0;
  CheckTexts(texts, o);
  return o;
}

}  // namespace daq
