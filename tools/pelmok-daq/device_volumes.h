// The device folder's volumes as the board's FAT volumes have them, for
// pelmok-daq's own look at the device before and after the run.
#pragma once

#include <string>

namespace daq {

// The host path of `devicePath` ("\Hard Disk\Pelmok\Data") under `root`,
// each existing part matched without regard to case as the board matches it,
// the missing rest as written. A path no FAT volume could hold (two names of
// one folder that differ only in case, a symbolic link) is one line on
// standard error and exit status 2, before anything runs.
std::string DevicePathOn(const std::string& root, const char* devicePath);

}  // namespace daq
