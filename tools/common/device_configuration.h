// The board's own configuration reader, run on the host against a device
// folder or a lone configuration file.
#pragma once

#include <string>

#include "acquisition/configuration.h"

namespace datatools {

// Runs ReadConfiguration on "<root>/FlashFX Disk/Pelmok/PelmokConfig.txt"
// with every field 0 first, as the board starts from nothing; the debug
// console text goes to *console.
// An observer, when given, sees each line piece as the reader takes it.
void ReadDeviceConfiguration(const std::string& root, AcquisitionConfig* config,
                             std::string* console, ConfigurationObserver observer = nullptr,
                             void* context = nullptr);

// Where the board's configuration file lies under a device folder.
std::string ConfigurationFilePath(const std::string& root);

// The same for a configuration file anywhere: it is put where the board looks
// in a scratch device folder. False with a reason when it cannot be read.
bool ReadConfigurationFile(const std::string& path, AcquisitionConfig* config, std::string* error);

}  // namespace datatools
