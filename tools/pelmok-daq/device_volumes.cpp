#include "tools/pelmok-daq/device_volumes.h"

#include <cstdio>
#include <cstdlib>

#include "platform/host/fat_volume.h"
#include "platform/host/host.h"

namespace daq {

std::string DevicePathOn(const std::string& root, const char* devicePath) {
  // A copy, as the root it refers to changes next.
  // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
  const std::string oldRoot = host::DeviceRoot();
  host::SetDeviceRoot(root);
  const host::ResolvedPath resolved = host::ResolveDevicePath(devicePath);
  host::SetDeviceRoot(oldRoot);
  if (!resolved.refusal.empty()) {
    std::fprintf(stderr, "pelmok-daq: the device cannot be used: %s\n", resolved.refusal.c_str());
    std::exit(2);
  }
  std::string path = resolved.hostPath;
  if (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace daq
