// Runs a host tool as a separate process, as an engineer would.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace toolprocess {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// `command` is shell text; its output is collected in files under `scratch`.
inline Outcome Run(const std::string& command, const std::string& scratch) {
  const std::string out = scratch + "/tool.stdout", err = scratch + "/tool.stderr";
  const int raw = std::system((command + " >'" + out + "' 2>'" + err + "' </dev/null").c_str());
  Outcome o;
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  o.out = Slurp(out);
  o.err = Slurp(err);
  return o;
}

inline size_t Lines(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

}  // namespace toolprocess
