// The deployment file, deployment.toml: what the data files cannot hold (the
// board's time-zone setting, the run's configuration file, the site, the
// recorder and hydrophone, calibration, clock checks), written by the
// engineers beside the data. It is found in the data folder or the nearest
// folder above that has one, as version control finds its folder; paths in it
// are relative to the file. Read with toml++, in pelmok-data only.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace datatools {

// What the board's clock read at one moment, and the true UTC then
// (seconds since 1970, with fractions).
struct ClockCheck {
  double board = 0;
  double reference = 0;
};

struct DeploymentDescription {
  std::string path;                     // the file read; "" when there is none
  std::optional<std::string> timeZone;  // [board] time_zone: a rule or a zone name
  std::string configuration;            // [board] configuration, as a path from here
  std::string siteName;                 // [site]
  std::optional<double> latitude, longitude, depthM;
  std::string recorderSerial;           // [recorder] serial
  std::string hydrophoneSerial;         // [hydrophone] serial
  std::optional<double> sensitivityDb;  // dB re 1 V/µPa
  std::optional<double> gainDb;
  std::vector<ClockCheck> clockChecks;  // [[clock_check]], in the file's order
};

// Reads a deployment file. Unknown tables and keys, values of the wrong type
// or out of range are errors naming the file and line: false with one line.
bool ReadDeploymentFile(const std::string& path, DeploymentDescription* description,
                        std::string* error);

// deployment.toml in `start` (a folder, or the folder of a file) or the
// nearest folder above it that has one; "" when none has.
std::string FindDeploymentFile(const std::string& start);

// What `pelmok-data init` writes: every key, commented, those known filled.
std::string DeploymentTemplate(const DeploymentDescription& known);

}  // namespace datatools
