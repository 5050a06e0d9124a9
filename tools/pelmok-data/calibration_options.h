// --sensitivity and --gain, or --calibration FILE, the same on every
// subcommand that gives levels.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "tools/common/levels.h"

namespace datatools {

struct CalibrationFlags {
  std::optional<double> sensitivityDb;  // --sensitivity DB (dB re 1 V/µPa)
  std::optional<double> gainDb;         // --gain DB
  std::string curvePath;                // --calibration FILE
  bool extrapolate = false;             // --calibration-extrapolate
};

void AddCalibrationOptions(CLI::App* command, CalibrationFlags* flags);
// --gain without --sensitivity or --calibration, both of those, or a
// sensitivity no hydrophone has, is an error: one line in *error.
bool ResolveCalibration(const CalibrationFlags& flags, Calibration* calibration,
                        std::string* error);

}  // namespace datatools
