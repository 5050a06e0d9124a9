// What pelmok-data's subcommands share: the deployment options and the one
// way a subcommand fails.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tools/pelmok-data/subcommand.h"

namespace datatools {
namespace {

// Plain decimal digits only: no sign, no hexadecimal, no exponent, no spaces.
std::string Decimal(const std::string& text, uint64_t low, uint64_t high, uint64_t* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    return "'" + text + "' is not a whole decimal number";
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < low || v > high)
    return "'" + text + "' is not within " + std::to_string(low) + " to " + std::to_string(high);
  *value = v;
  return "";
}

}  // namespace

void Fail(const std::string& message) {
  std::fprintf(stderr, "pelmok-data: %s\n", message.c_str());
  // _Exit: the refusal stays one line, with no exit-time handlers (a leak
  // check under the sanitizers) reporting what the unwound caller still held.
  std::fflush(stdout);
  std::_Exit(2);
}

void AddDeploymentOptions(CLI::App* command, DeploymentFlags* flags) {
  command
      ->add_option_function<std::string>(
          "--rate",
          [flags](const std::string& text) {
            uint64_t v = 0;
            const std::string problem = Decimal(text, 1, 10000000, &v);
            if (!problem.empty()) throw CLI::ValidationError("--rate", problem);
            flags->rate = static_cast<uint32_t>(v);
          },
          "sample rate in Hz (the converter's frame rate)")
      ->type_name("HZ");
  command
      ->add_option_function<std::string>(
          "--samples-per-record",
          [flags](const std::string& text) {
            uint64_t v = 0;
            const std::string problem = Decimal(text, 1, 0x3FFFFFFF, &v);
            if (!problem.empty()) throw CLI::ValidationError("--samples-per-record", problem);
            flags->samplesPerRecord = v;
          },
          "record length in samples: files holding several records are split")
      ->type_name("N");
  command->add_option("--config", flags->configPath,
                      "the run's configuration file: rate, record length and cadence (a flag that "
                      "says otherwise is an error)")
      ->type_name("FILE");
  command
      ->add_option_function<std::string>(
          "--time-zone", [flags](const std::string& rule) { flags->timeZone = rule; },
          "the board's time-zone setting as pelmok-daq --time-zone takes it (a POSIX rule such as "
          "CET-1CEST,M3.5.0,M10.5.0/3; default: from TZ)")
      ->type_name("RULE");
}

Deployment LoadOrFail(const std::vector<std::string>& inputs, const DeploymentFlags& flags,
                      uint32_t defaultRate) {
  DeploymentSettings settings;
  std::string error;
  if (!ResolveSettings(flags, &settings, &error)) Fail(error);
  if (settings.rate == 0 && defaultRate != 0) {
    settings.rate = defaultRate;
    settings.rateAssumed = true;
  }
  Deployment d;
  if (!LoadDeployment(inputs, settings, &d, &error)) Fail(error);
  return d;
}

}  // namespace datatools
