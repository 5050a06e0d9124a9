// The board's volumes as folders under the device root.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/device.h"
#include "platform/host/host.h"
#include "sim/board.h"
#include "hostlib/regular_file.h"

namespace {

std::string root = ".";

// The entry of `folder` that a FAT volume would take `name` for: names match
// without regard to case (ASCII letters, as the board's volumes fold them).
// The name as written when it exists, or when nothing matches (a file about
// to be made); empty when several entries match and none exactly, which a
// FAT volume could not hold.
std::string EntryNamed(const std::string& folder, const std::string& name) {
  if (access((folder + '/' + name).c_str(), F_OK) == 0) return name;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return name;
  std::string found;
  int matches = 0;
  while (const dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = entry->d_name;
      ++matches;
    }
  }
  closedir(dir);
  return matches == 0 ? name : matches == 1 ? found : std::string();
}

}  // namespace

// "\Hard Disk\Pelmok\Data\x" -> "<root>/Hard Disk/Pelmok/Data/x", each part
// matched as the board's FAT volumes match it ("\FLASHFX DISK\PELMOK\x" is
// the same file). Only absolute device paths name a volume; anything else,
// and a name that matches several entries, is refused.
std::string host::HostPathOf(const char* devicePath) {
  if (devicePath == nullptr || devicePath[0] != '\\') return std::string();
  std::string path = root;
  const char* part = devicePath + 1;
  for (;;) {
    const char* end = std::strchr(part, '\\');
    const std::string name(part, end ? static_cast<size_t>(end - part) : std::strlen(part));
    if (!name.empty()) {
      const std::string entry = EntryNamed(path, name);
      if (entry.empty()) return std::string();
      path += '/' + entry;
    }
    if (end == nullptr) break;
    part = end + 1;
  }
  if (devicePath[std::strlen(devicePath) - 1] == '\\') path += '/';
  return path;
}

namespace {

// Injected faults. While any is armed, files open as counting streams over
// the real file, so the faults strike inside the stdio calls the system makes.
struct FileFaults {
  bool armed = false;
  long successesLeft = -1;  // -1: no operation fails
  bool persistent = false;
  bool failing = false;  // a persistent fault has struck
  int operations = 0;
  long long volumeBytesLeft = -1;  // -1: no limit
};
FileFaults faults;

host::DeviceFileWriteObserver writeObserver = nullptr;
void* writeObserverContext = nullptr;

// Counts one operation; false when it is the one to fail.
bool OperationSucceeds() {
  ++faults.operations;
  if (faults.failing) return false;
  if (faults.successesLeft < 0) return true;
  if (faults.successesLeft-- > 0) return true;
  faults.failing = faults.persistent;
  errno = EIO;
  return false;
}

ssize_t CookieRead(void* cookie, char* buffer, size_t size) {
  if (!OperationSucceeds()) {
    errno = EIO;
    return -1;
  }
  return read(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), buffer, size);
}

// A full volume takes the bytes that fit and refuses the rest. The count
// returned is what write() really put in the file, so stdio's notion of what
// it has written matches the disk.
// fopencookie's contract: a write reports an error as 0 bytes, never -1
// (glibc would take -1 as a count).
ssize_t CookieWrite(void* cookie, const char* buffer, size_t size) {
  if (!OperationSucceeds()) {
    errno = EIO;
    return 0;
  }
  size_t fits = size;
  if (faults.volumeBytesLeft >= 0 && static_cast<long long>(size) > faults.volumeBytesLeft)
    fits = static_cast<size_t>(faults.volumeBytesLeft);
  if (fits == 0 && size > 0) {
    errno = ENOSPC;
    return 0;  // stdio treats a short count as an error
  }
  const ssize_t done = write(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), buffer, fits);
  if (done > 0 && faults.volumeBytesLeft >= 0) faults.volumeBytesLeft -= done;
  if (done >= 0 && static_cast<size_t>(done) < size) errno = ENOSPC;
  return done;
}

int CookieSeek(void* cookie, off64_t* position, int whence) {
  if (!OperationSucceeds()) {
    errno = EIO;
    return -1;
  }
  const off64_t at = lseek64(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), *position, whence);
  if (at < 0) return -1;
  *position = at;
  return 0;
}

int CookieClose(void* cookie) {
  const int fd = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
  const bool succeeds = OperationSucceeds();
  close(fd);  // the descriptor goes either way, as fclose's stream does
  if (!succeeds) {
    errno = EIO;
    return -1;
  }
  return 0;
}

int OpenFlagsOf(const char* mode) {
  const bool update = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r': return update ? O_RDWR : O_RDONLY;
    case 'w': return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    case 'a': return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default: return -1;
  }
}

// With faults armed the stream is a counting one over the descriptor, so the
// faults strike inside the very stdio calls the system makes.
FILE* StreamOver(int fd, const char* mode) {
  FILE* stream;
  if (faults.armed) {
    cookie_io_functions_t io;
    io.read = CookieRead;
    io.write = CookieWrite;
    io.seek = CookieSeek;
    io.close = CookieClose;
    stream = fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), mode, io);
  } else {
    stream = fdopen(fd, mode);
  }
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return stream;
}

}  // namespace

namespace host {
void SetDeviceRoot(const std::string& r) { root = r; }
const std::string& DeviceRoot() { return root; }

void CountFileOperations() {
  faults.armed = true;
  faults.operations = 0;
}

void FailFileOperationAfter(int successes, bool persistent) {
  CountFileOperations();
  faults.successesLeft = successes;
  faults.persistent = persistent;
  faults.failing = false;
}

void LimitVolumeBytes(long long bytes) {
  CountFileOperations();
  faults.volumeBytesLeft = bytes;
}

int FileOperationCount() { return faults.operations; }

void ClearFileFaults() { faults = FileFaults(); }

void ObserveDeviceFileWrites(DeviceFileWriteObserver observer, void* context) {
  writeObserver = observer;
  writeObserverContext = context;
}
}  // namespace host

FILE* OpenDeviceFile(const char* devicePath, const char* mode) {
  const std::string path = host::HostPathOf(devicePath);
  if (path.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  const int flags = OpenFlagsOf(mode);
  if (flags < 0) {
    errno = EINVAL;
    return nullptr;
  }
  if (faults.armed && !OperationSucceeds()) {
    errno = EIO;
    return nullptr;
  }
  if (writeObserver != nullptr && mode[0] != 'r') {
    struct stat st;
    const bool existed = stat(path.c_str(), &st) == 0;
    const sim::Board* board = host::AttachedBoard();
    writeObserver(host::DeviceFileWrite{path, existed, existed ? static_cast<long long>(st.st_size) : 0,
                                        board != nullptr ? board->UtcNanoseconds() : 0},
                  writeObserverContext);
  }
  // A board volume holds only files and folders.
  const int fd = hostlib::OpenRegularFile(path, flags);
  return fd < 0 ? nullptr : StreamOver(fd, mode);
}

bool TruncateDeviceFile(const char* devicePath, long size) {
  const std::string path = host::HostPathOf(devicePath);
  if (path.empty() || size < 0) return false;
  if (faults.armed && !OperationSucceeds()) return false;
  const int fd = hostlib::OpenRegularFile(path, O_WRONLY);
  if (fd < 0) return false;
  const bool cut = ftruncate(fd, size) == 0;
  return close(fd) == 0 && cut;
}
