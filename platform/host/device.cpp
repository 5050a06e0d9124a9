// The board's volumes as folders under the device root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
  // A board volume holds only files and folders: a FIFO, a device node or a
  // folder under the device root is no device file. Refused from stat before
  // the open, so a FIFO never blocks it; fstat after it closes the gap of a
  // name swapped in between. Only the write and append modes create a file.
  int flags;
  const bool update = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r': flags = update ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: errno = EINVAL; return nullptr;
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
      return nullptr;
    }
  } else if (errno != ENOENT || !(flags & O_CREAT)) {
    return nullptr;
  }
  // O_TRUNC only once the name is known to be a regular file.
  const int fd = open(path.c_str(), (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
      ((flags & O_TRUNC) && ftruncate(fd, 0) != 0)) {
    const int error = S_ISREG(st.st_mode) ? errno : (S_ISDIR(st.st_mode) ? EISDIR : ENODEV);
    close(fd);
    errno = error;
    return nullptr;
  }
  FILE* file = fdopen(fd, mode);
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return file;
}
