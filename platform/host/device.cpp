// The board's volumes as folders under the device root.
#include <cerrno>
#include <string>

#include "platform/device.h"
#include "platform/host/host.h"

namespace {

std::string root = ".";

// "\Hard Disk\Pelmok\Data\x" -> "<root>/Hard Disk/Pelmok/Data/x". Only
// absolute device paths name a volume; anything else is refused.
std::string HostPathOf(const char* devicePath) {
  if (devicePath == nullptr || devicePath[0] != '\\') return std::string();
  std::string path = root;
  for (const char* p = devicePath; *p; ++p) path.push_back(*p == '\\' ? '/' : *p);
  return path;
}

}  // namespace

namespace host {
void SetDeviceRoot(const std::string& r) { root = r; }
const std::string& DeviceRoot() { return root; }
}  // namespace host

FILE* OpenDeviceFile(const char* devicePath, const char* mode) {
  const std::string path = HostPathOf(devicePath);
  if (path.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  return std::fopen(path.c_str(), mode);
}
