#include "tools/common/device_configuration.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/host/host.h"
#include "sim/regular_file.h"

namespace datatools {

void ReadDeviceConfiguration(const std::string& root, AcquisitionConfig* config,
                             std::string* console, ConfigurationObserver observer, void* context) {
  const std::string oldRoot = host::DeviceRoot();
  std::memset(config, 0, sizeof *config);
  host::SetDeviceRoot(root);
  host::CaptureConsole(console);
  ObserveConfiguration(observer, context);
  ReadConfiguration(*config);
  ObserveConfiguration(nullptr, nullptr);
  host::CaptureConsole(nullptr);
  host::SetDeviceRoot(oldRoot);
}

std::string ConfigurationFilePath(const std::string& root) {
  return root + "/FlashFX Disk/Pelmok/PelmokConfig.txt";
}

bool ReadConfigurationFile(const std::string& path, AcquisitionConfig* config, std::string* error) {
  std::string content;
  if (!sim::ReadRegularFile(path, &content, error)) return false;

  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelmok-config-XXXXXX";
  if (mkdtemp(&root[0]) == nullptr) {
    *error = std::string("cannot make a scratch folder: ") + std::strerror(errno);
    return false;
  }
  const std::string volume = root + "/FlashFX Disk", folder = volume + "/Pelmok";
  const std::string file = folder + "/PelmokConfig.txt";
  bool ok = mkdir(volume.c_str(), 0700) == 0 && mkdir(folder.c_str(), 0700) == 0;
  if (ok) {
    std::ofstream out(file, std::ios::binary);
    out << content;
    ok = static_cast<bool>(out);
  }
  std::string console;
  if (ok) ReadDeviceConfiguration(root, config, &console);
  unlink(file.c_str());
  rmdir(folder.c_str());
  rmdir(volume.c_str());
  rmdir(root.c_str());
  if (!ok) *error = "cannot stage " + path + " in a scratch folder";
  return ok;
}

}  // namespace datatools
