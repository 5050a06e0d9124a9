// pelmok-data: the engineer's view of the board's data files. `info` prints
// what a file or folder holds, `export` turns a file into WAV, FLAC or CSV,
// `plot` draws it.
#include <CLI/CLI.hpp>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "hardware/sample_values.h"
#include "tools/pelmok-data/export_plot.h"
#include "tools/formats/data_file.h"
#include "tools/common/device_configuration.h"

namespace {

using namespace datatools;

constexpr uint32_t kDefaultRate = 100000;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "pelmok-data: %s\n", message.c_str());
  std::exit(2);
}

// What the run's configuration says about the files, when one is given.
struct Layout {
  uint32_t rate = 0;             // 0: not known
  uint64_t samplesPerRecord = 0; // 0: not known
};

Layout ResolveLayout(uint32_t rate, uint64_t samplesPerRecord, const std::string& config) {
  Layout layout{rate, samplesPerRecord};
  if (!config.empty()) {
    AcquisitionConfig c;
    std::string error;
    if (!ReadConfigurationFile(config, &c, &error)) Fail(error);
    if (layout.rate == 0) {
      if (c.sampleRate <= 0)
        Fail(config + ": no positive \"Sample rate\" (give --rate)");
      layout.rate = static_cast<uint32_t>(c.sampleRate);
    }
    if (layout.samplesPerRecord == 0 && c.samplesPerRecord > 0)
      layout.samplesPerRecord = static_cast<uint64_t>(c.samplesPerRecord);
  }
  return layout;
}

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

void PrintStats(const CodeStats& s) {
  std::printf("  minimum      %9d codes  %s\n", s.minimum, Volts(AdcCodeToVolts(s.minimum)).c_str());
  std::printf("  maximum      %9d codes  %s\n", s.maximum, Volts(AdcCodeToVolts(s.maximum)).c_str());
  // The mean and RMS are fractional codes; volts at the same scale.
  const double lsb = AdcCodeToVolts(1);
  std::printf("  mean         %11.1f codes  %+.6f V\n", s.Mean(), s.Mean() * lsb);
  std::printf("  RMS          %11.1f codes  %.6f V  %s (re full-scale code)\n", s.Rms(), s.Rms() * lsb,
              Db(s.RmsDbfs()).c_str());
  std::printf("  peak         %s\n", Db(s.PeakDbfs()).c_str());
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
  std::printf("  stuck bits  %s\n", s.samples == 0 ? " (no samples)" : stuck.empty() ? " none" : stuck.c_str());
}

// Prints one file's figures; its stats are added to *total when given.
void InfoFile(const std::string& path, const Layout& layout, bool rateGiven) {
  WordReader reader;
  std::string error;
  if (!reader.Open(path, &error)) Fail(error);
  const std::string name = BaseName(path);
  std::printf("%s\n", path.c_str());
  FileTime time;
  if (ParseFileName(name, &time)) {
    std::printf("  time         %s (local; the first write to the file, at the end of its record)\n",
                time.Text().c_str());
  } else {
    std::printf("  time         none: \"%s\" is not a data file name\n", name.c_str());
  }
  std::printf("  size         %" PRIu64 " bytes, %" PRIu64 " words, %" PRIu64 " samples\n",
              reader.Bytes(), reader.Words(), reader.Words());
  std::printf("  duration     %.6f s at %u Hz%s\n", static_cast<double>(reader.Words()) / layout.rate,
              layout.rate, rateGiven ? "" : " (assumed; give --rate or --config)");
  if (layout.samplesPerRecord > 0) {
    const uint64_t records = reader.Words() / layout.samplesPerRecord;
    const uint64_t rest = reader.Words() % layout.samplesPerRecord;
    std::printf("  records      %" PRIu64 " of %" PRIu64 " samples%s", records, layout.samplesPerRecord,
                records > 1 ? " (writes in the same second, or in a repeated hour)" : "");
    if (rest != 0) std::printf(", and %" PRIu64 " samples over (not a whole record)", rest);
    std::printf("\n");
  }
  if (reader.TornBytes() != 0)
    std::printf("  torn tail    %u bytes after the last whole word (a write cut short)\n",
                reader.TornBytes());
  CodeStats stats;
  if (!reader.ForEachBlock([&](const std::vector<uint32_t>& block) {
        for (uint32_t w : block) stats.Add(w);
      }))
    Fail(path + ": read error");
  stats.Finish();
  if (stats.samples > 0) PrintStats(stats);
}

void InfoFolder(const std::string& folder, const Layout& layout, bool rateGiven) {
  std::vector<FolderEntry> files;
  std::string error;
  if (!ListDataFolder(folder, &files, &error)) Fail(error);
  std::printf("%s: %zu data files in time order\n", folder.c_str(), files.size());
  uint64_t bytes = 0, words = 0, torn = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const FolderEntry& f = files[i];
    const double seconds = static_cast<double>(f.bytes / 4) / layout.rate;
    std::printf("  %-18s %s  %10" PRIu64 " bytes  %10.6f s", BaseName(f.path).c_str(),
                f.time.Text().c_str(), f.bytes, seconds);
    if (f.bytes % 4) std::printf("  torn tail %u bytes", static_cast<unsigned>(f.bytes % 4));
    if (i > 0) {
      // The gap runs from the previous write to this record's estimated start.
      const double gap = static_cast<double>(f.time.LocalSeconds() - files[i - 1].time.LocalSeconds()) -
                         seconds;
      std::printf("  gap %.3f s", gap);
    }
    std::printf("\n");
    bytes += f.bytes;
    words += f.bytes / 4;
    torn += f.bytes % 4 != 0;
  }
  std::printf("  total        %zu files, %" PRIu64 " bytes, %" PRIu64 " samples, %.6f s at %u Hz%s\n",
              files.size(), bytes, words, static_cast<double>(words) / layout.rate, layout.rate,
              rateGiven ? "" : " (assumed)");
  if (!files.empty()) {
    std::printf("  span         %s to %s (%" PRId64 " s between first and last write)\n",
                files.front().time.Text().c_str(), files.back().time.Text().c_str(),
                files.back().time.LocalSeconds() - files.front().time.LocalSeconds());
  }
  if (torn) std::printf("  torn files   %" PRIu64 "\n", torn);
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

static int Run(int argc, char** argv) {
  CLI::App app{
      "Data files of the Pelmok receiver: raw little-endian 32-bit words, the converter's 24-bit\n"
      "two's-complement code in the low 24 bits, 2.5 V = 8388607 codes, named from the local\n"
      "time of the write (<year-1900>-<day of year>-<hour>-<minute>-<second>). The files do not\n"
      "hold their sample rate: give --rate, or --config with the run's configuration file.",
      "pelmok-data"};
  app.require_subcommand(1);

  uint32_t rate = 0;
  uint64_t samplesPerRecord = 0;
  std::string config;
  auto rateOptions = [&](CLI::App* sub) {
    sub->add_option("--rate", rate, "sample rate in Hz (the converter's frame rate)")
        ->check(CLI::Range(1u, 10000000u));
    sub->add_option("--config", config, "take the rate (and record length) from this configuration file")
        ->check(CLI::ExistingFile);
  };

  std::vector<std::string> infoPaths;
  CLI::App* info = app.add_subcommand("info", "what data files or folders hold");
  rateOptions(info);
  info->add_option("--samples-per-record", samplesPerRecord, "record length, to count the records a file holds")
      ->check(CLI::Range(uint64_t{1}, uint64_t{0x3FFFFFFF}));
  info->add_option("PATH", infoPaths, "data files or folders")->required();

  std::string input, output, format;
  CLI::App* exportCommand = app.add_subcommand(
      "export",
      "a data file as 24-bit PCM WAV (bext time) or FLAC (tags) holding exactly the codes, or CSV");
  rateOptions(exportCommand);
  exportCommand->add_option("--format", format, "wav, flac or csv (default: from the output's name)")
      ->check(CLI::IsMember({"wav", "flac", "csv"}));
  bool force = false;
  exportCommand->add_option("-o,--output", output, "output file")->required();
  exportCommand->add_flag("--force", force, "replace an existing output (never an input or a data file)");
  exportCommand->add_option("FILE", input, "data file")->required();

  PlotSize size;
  CLI::App* plot = app.add_subcommand(
      "plot", "a PNG: a file's waveform and spectrogram, or a folder's long-term spectrogram");
  rateOptions(plot);
  plot->add_option("-o,--output", output, "PNG file")->required();
  plot->add_flag("--force", force, "replace an existing output (never an input or a data file)");
  plot->add_option("--width", size.width, "picture width in pixels (default 1200)");
  plot->add_option("--height", size.height, "picture height in pixels (default 800)");
  plot->add_option("PATH", input, "data file or folder")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
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
    Fail(message + " (see --help)");
  }
  for (CLI::App* sub : {info, exportCommand, plot}) {
    if (!sub->parsed()) continue;
    if (sub->get_help_ptr() && sub->get_help_ptr()->count() > 0) return 0;
  }

  const bool rateGiven = rate != 0 || !config.empty();
  Layout layout = ResolveLayout(rate, samplesPerRecord, config);
  std::string error;
  if (info->parsed()) {
    if (layout.rate == 0) layout.rate = kDefaultRate;
    for (const std::string& path : infoPaths) {
      if (IsFolder(path)) {
        InfoFolder(path, layout, rateGiven);
      } else {
        InfoFile(path, layout, rateGiven);
      }
    }
    return 0;
  }
  if (layout.rate == 0) Fail("the sample rate is not in the data file: give --rate HZ or --config FILE");
  OutputPolicy policy;
  policy.force = force;
  if (!config.empty()) policy.inputs.push_back(config);
  if (exportCommand->parsed()) {
    ExportFormat f;
    if (format.empty()) {
      for (const char* ext : {"wav", "flac", "csv"})
        if (EndsWith(output, std::string(".") + ext)) format = ext;
      if (format.empty()) Fail("cannot tell the format from '" + output + "': give --format wav|flac|csv");
    } else if (!CheckOutputExtension(output, format, &error)) {
      Fail(error);
    }
    ParseExportFormat(format, &f);
    if (!ExportDataFile(input, output, f, layout.rate, policy, &error)) Fail(error);
    return 0;
  }
  if (!PlotData(input, output, layout.rate, size, policy, &error)) Fail(error);
  return 0;
}

int main(int argc, char** argv) {
  // Whatever a library throws (a bad allocation for a huge file, a file
  // system error) ends the program with one line, never an abort.
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    Fail(e.what());
  } catch (...) {
    Fail("unknown exception");
  }
}
