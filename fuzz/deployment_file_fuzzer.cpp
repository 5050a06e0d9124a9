// libFuzzer target for the deployment file reader. Each input is a
// deployment.toml; ReadDeploymentFile reads it from a file. Checked:
// - a refusal is one line naming the file and its line ("PATH:N: ...");
// - what is read lies within the ranges the file's keys allow;
// - what is read, written back by `pelmok-data init`'s template writer and
//   read again, is the same deployment (numbers to the template's six
//   digits): the writer quotes any text the reader can hold.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "fuzz/scratch_folder.h"
#include "tools/common/deployment_file.h"

namespace {

namespace fs = std::filesystem;

std::string inputPath, templatePath;

[[noreturn]] void Mismatch(const std::string& what, const uint8_t* data, size_t size) {
  std::fprintf(stderr, "deployment file reader: %s\ninput (%zu bytes):\n", what.c_str(), size);
  std::fwrite(data, 1, size, stderr);
  std::fputc('\n', stderr);
  __builtin_trap();
}

void Write(const std::string& path, const void* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

bool Near(const std::optional<double>& a, const std::optional<double>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || std::fabs(*a - *b) <= 1e-5 * std::max(1.0, std::fabs(*a));
}

bool Within(const std::optional<double>& v, double lowest, double highest) {
  return !v || (std::isfinite(*v) && *v >= lowest && *v <= highest);
}

// What differs between the first reading and the second, "" when nothing.
std::string Difference(const datatools::DeploymentDescription& a,
                       const datatools::DeploymentDescription& b) {
  if (a.timeZone != b.timeZone) return "time_zone";
  if (a.configuration != b.configuration) return "configuration";
  if (a.siteName != b.siteName) return "site name";
  if (!Near(a.latitude, b.latitude) || !Near(a.longitude, b.longitude) || !Near(a.depthM, b.depthM))
    return "site position";
  if (a.recorderSerial != b.recorderSerial || a.hydrophoneSerial != b.hydrophoneSerial)
    return "serial";
  if (!Near(a.sensitivityDb, b.sensitivityDb) || !Near(a.gainDb, b.gainDb)) return "hydrophone";
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path folder = fuzz::MakeScratchFolder("pelmok-fuzz");
  inputPath = (folder / "deployment.toml").string();
  templatePath = (folder / "written.toml").string();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Write(inputPath, data, size);
  datatools::DeploymentDescription read;
  std::string error;
  if (!datatools::ReadDeploymentFile(inputPath, &read, &error)) {
    if (error.rfind(inputPath + ":", 0) != 0 || error.find('\n') != std::string::npos)
      Mismatch("a refusal that is not one line naming the file: " + error, data, size);
    return 0;
  }
  if (!Within(read.latitude, -90, 90) || !Within(read.longitude, -180, 180) ||
      !Within(read.depthM, 0, 11000) || !Within(read.sensitivityDb, -300, 0) ||
      !Within(read.gainDb, -100, 100))
    Mismatch("a number outside its range was taken", data, size);
  if (!read.configuration.empty() && read.configuration[0] != '/')
    Mismatch("the configuration's path is not made absolute from the file's folder", data, size);

  const std::string written = datatools::DeploymentTemplate(read);
  Write(templatePath, written.data(), written.size());
  datatools::DeploymentDescription again;
  if (!datatools::ReadDeploymentFile(templatePath, &again, &error))
    Mismatch("the template of what was read does not read back: " + error + "\n" + written, data,
             size);
  const std::string differs = Difference(read, again);
  if (!differs.empty())
    Mismatch("the template of what was read reads back otherwise: " + differs + "\n" + written,
             data, size);
  return 0;
}
