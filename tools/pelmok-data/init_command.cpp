// pelmok-data init FOLDER: a commented deployment.toml for the engineers to
// complete, with what the flags give filled in.
#include <climits>
#include <cstdlib>
#include <memory>

#include "hostlib/time_zone.h"
#include "tools/common/deployment_file.h"
#include "tools/common/output_file.h"
#include "tools/pelmok-data/subcommand.h"

namespace datatools {
namespace {

struct InitOptions {
  std::string folder;
  DeploymentDescription known;
  std::string timeZone, configuration;
  bool force = false;
};

int RunInit(InitOptions o) {
  std::string error;
  if (!o.timeZone.empty()) {
    hostlib::TimeZoneSetting setting;
    if (!hostlib::ParseTimeZone(o.timeZone, &setting, &error)) Fail("bad --time-zone: " + error);
    o.known.timeZone = o.timeZone;
  }
  if (!o.configuration.empty()) {
    // Written as an absolute path: the file's own paths are relative to it, not to here.
    char resolved[PATH_MAX];
    if (realpath(o.configuration.c_str(), resolved) == nullptr)
      Fail("bad --config: " + o.configuration + ": no such file");
    o.known.configuration = resolved;
  }
  const std::string path = o.folder + "/deployment.toml";
  OutputPolicy policy;
  policy.force = o.force;
  OutputFile out;
  if (!out.Open(path, policy, &error)) Fail(error);
  const std::string text = DeploymentTemplate(o.known);
  out.Write(text.data(), text.size());
  if (!out.Commit(&error)) Fail(error);
  DeploymentDescription check;
  if (!ReadDeploymentFile(path, &check, &error)) Fail("wrote a file it cannot read back: " + error);
  std::printf("pelmok-data: wrote %s\n", path.c_str());
  return 0;
}

}  // namespace

Subcommand AddInitCommand(CLI::App& program) {
  auto o = std::make_shared<InitOptions>();
  CLI::App* app = program.add_subcommand(
      "init",
      "write a commented deployment.toml into a data folder (or the folder above several), "
      "filled from the flags given");
  app->add_option("--time-zone", o->timeZone, "the board's setting: a POSIX rule or a zone name")
      ->type_name("ZONE");
  app->add_option("--config", o->configuration, "the run's configuration file")->type_name("FILE");
  app->add_option("--site", o->known.siteName, "the site's name")->type_name("NAME");
  app->add_option("--latitude", o->known.latitude, "degrees north")->check(CLI::Range(-90.0, 90.0));
  app->add_option("--longitude", o->known.longitude, "degrees east")
      ->check(CLI::Range(-180.0, 180.0));
  app->add_option("--depth", o->known.depthM, "the hydrophone's depth in metres")
      ->check(CLI::Range(0.0, 11000.0));
  app->add_option("--recorder", o->known.recorderSerial, "the recorder's serial number");
  app->add_option("--hydrophone", o->known.hydrophoneSerial, "the hydrophone's serial number");
  app->add_option("--sensitivity", o->known.sensitivityDb,
                  "the hydrophone's sensitivity, dB re 1 V/uPa")
      ->check(CLI::Range(-300.0, 0.0));
  app->add_option("--gain", o->known.gainDb, "the amplifier's gain in dB")
      ->check(CLI::Range(-100.0, 100.0));
  app->add_flag("--force", o->force, "replace an existing deployment.toml");
  app->add_option("FOLDER", o->folder, "where deployment.toml goes")->required();
  return Subcommand{app, [o] { return RunInit(*o); }};
}

}  // namespace datatools
