// What pelmok-data's subcommands share: the deployment options and the one
// way a subcommand fails.
#include <cstdio>
#include <cstdlib>

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
  command->add_option("--config", flags->configPath,
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
  command->add_option("--deployment", flags->deploymentPath,
                      "the deployment file (default: deployment.toml in the data's folder or the "
                      "nearest folder above that has one)")
      ->type_name("FILE");
}

Deployment LoadOrFail(const std::vector<std::string>& inputs, const DeploymentFlags& flags,
                      uint32_t defaultRate) {
  DeploymentSettings settings;
  std::string error;
  DeploymentFlags found = flags;
  const std::string path = !flags.deploymentPath.empty() ? flags.deploymentPath
                           : inputs.empty()               ? ""
                                                          : FindDeploymentFile(inputs.front());
  if (!path.empty() && !ReadDeploymentFile(path, &found.deployment, &error)) Fail(error);
  if (!ResolveSettings(found, &settings, &error)) Fail(error);
  if (settings.rate == 0 && defaultRate != 0) {
    settings.rate = defaultRate;
    settings.rateAssumed = true;
  }
  Deployment d;
  if (!LoadDeployment(inputs, settings, &d, &error)) Fail(error);
  for (const SkippedEntry& e : d.skipped)
    std::fprintf(stderr, "pelmok-data: warning: %s not read: %s\n", e.path.c_str(),
                 e.reason.c_str());
  return d;
}

}  // namespace datatools
