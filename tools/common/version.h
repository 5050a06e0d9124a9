// The tools' version, as every output they write records it: the project's
// version, with the commit it was built from where the build had one
// ("0.9.0+gf76fb30", "0.9.0-3-gabc1234" past a tag v0.9.0).
#pragma once

#include <string>

namespace tools {

const char* Version();

// "pelmok-data 0.9.0+gf76fb30": how a file names the program that wrote it.
inline std::string ProgramVersion(const char* program) {
  return std::string(program) + " " + Version();
}

}  // namespace tools
