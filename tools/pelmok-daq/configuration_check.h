// pelmok-daq --check: the device's configuration file read by the board's own
// reader, and every line it reads differently from what the line plainly says.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace daq {

// Prints the check to `out`. Returns 0 when every line is read as written,
// 1 with a warning, 2 when the file cannot be read (one line on stderr).
int CheckConfiguration(const std::string& deviceRoot, uint32_t frameRateHz, FILE* out);

// Edits (insertions, deletions, substitutions) from a to b.
size_t EditDistance(const std::string& a, const std::string& b);

}  // namespace daq
