// Host back doors of the library loader. LoadLibraryW looks for a library
// only in one folder, the stand-in for the board's \Windows, comparing file
// names without regard to case as the board's file system does.
#pragma once

#include <string>

namespace host {

// The folder LoadLibraryW searches. Empty (the default) or missing: nothing
// loads.
void SetLibraryDirectory(const std::string& directory);
const std::string& LibraryDirectory();

}  // namespace host
