// The board's volumes through ARM semihosting: "\Hard Disk\Pelmok\Data\x"
// opens "device/Hard Disk/Pelmok/Data/x" relative to QEMU's working folder
// (newlib's rdimon turns fopen into semihosting calls).
#include "platform/device.h"

#include <string.h>

namespace {

const char kDeviceFolder[] = "device";

bool HostPath(const char* devicePath, char* path, size_t size) {
  if (devicePath == NULL || devicePath[0] != '\\') return false;
  const size_t prefix = sizeof kDeviceFolder - 1;
  const size_t length = strlen(devicePath);
  if (prefix + length + 1 > size) return false;
  memcpy(path, kDeviceFolder, prefix);
  for (size_t i = 0; i <= length; ++i)
    path[prefix + i] = devicePath[i] == '\\' ? '/' : devicePath[i];
  return true;
}

}  // namespace

FILE* OpenDeviceFile(const char* devicePath, const char* mode) {
  char path[128];
  return HostPath(devicePath, path, sizeof path) ? fopen(path, mode) : NULL;
}

// Semihosting has no truncation.
bool TruncateDeviceFile(const char*, long) { return false; }
