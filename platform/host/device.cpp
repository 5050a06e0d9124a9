// The board's volumes as folders under the device root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "hostlib/device_folder.h"
#include "hostlib/regular_file.h"
#include "platform/device.h"
#include "platform/host/fat_volume.h"
#include "platform/host/host.h"
#include "sim/board.h"

// "\Hard Disk\Pelmok\Data\x" -> "<root>/Hard Disk/Pelmok/Data/x", each part
// matched as the board's FAT volumes match it; empty for a path no FAT volume
// could hold (see ResolveDevicePath).
std::string host::HostPathOf(const char* devicePath) {
  const ResolvedPath resolved = ResolveDevicePath(devicePath);
  return resolved.refusal.empty() ? resolved.hostPath : std::string();
}

namespace {

// Injected faults. While any is armed, every file opens as a counting stream
// over the real file, so the faults strike inside the stdio calls the system
// makes. Files opened for writing are always such streams, held to FAT's
// limits.
struct FileFaults {
  bool armed = false;
  long successesLeft = -1;  // -1: no operation fails
  bool persistent = false;
  bool failing = false;  // a persistent fault has struck
  int operations = 0;
  long long volumeBytesLeft = -1;  // -1: no limit
  bool volumeFilled = false;
  int powerLossWrite = 0;  // 0: power never fails
  long long powerLossBytes = 0;
  int writesOpened = 0;  // data files opened for writing, from 1
};
FileFaults faults;

host::FileFaultNotice faultNotice = nullptr;
void* faultNoticeContext = nullptr;

host::DeviceFileWriteObserver writeObserver = nullptr;
void* writeObserverContext = nullptr;

// One open device file.
struct DeviceStream {
  int fd;
  bool dataVolume;
  long long powerBytesLeft;  // bytes before the power fails; -1 never
};

void Notice(host::FileFault fault, const std::string& text) {
  if (faultNotice != nullptr) faultNotice(fault, text, faultNoticeContext);
}

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
  return read(static_cast<DeviceStream*>(cookie)->fd, buffer, size);
}

// Bytes of a write of `size` that the volume takes: what fits in a file of
// FAT's largest size, on the volume's clusters and in an injected budget.
size_t Fits(const DeviceStream& s, size_t size) {
  struct stat st;
  const uint64_t file = fstat(s.fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  uint64_t fits = file >= host::fat::kMaxFileBytes ? 0 : host::fat::kMaxFileBytes - file;
  if (fits > size) fits = size;
  if (faults.volumeBytesLeft >= 0 && fits > static_cast<uint64_t>(faults.volumeBytesLeft))
    fits = static_cast<uint64_t>(faults.volumeBytesLeft);
  if (s.powerBytesLeft >= 0 && fits > static_cast<uint64_t>(s.powerBytesLeft))
    fits = static_cast<uint64_t>(s.powerBytesLeft);
  if (s.dataVolume) fits = host::TakeVolumeRoom(file, fits);
  return static_cast<size_t>(fits);
}

// The power fails once the bytes it allows have reached the disk: the run
// ends in the notice's handler, leaving the file as the cut left it.
void CutPowerIfDue(DeviceStream& s) {
  if (s.powerBytesLeft != 0) return;
  s.powerBytesLeft = -1;
  Notice(host::FileFault::kPowerLoss, "power lost during data write " +
                                          std::to_string(faults.powerLossWrite) + " after " +
                                          std::to_string(faults.powerLossBytes) + " of its bytes");
}

// A volume that cannot take it all stores what fits and refuses the rest. The
// count returned is what write() really put in the file, so stdio's notion of
// what it has written matches the disk. fopencookie's contract: a write
// reports an error as 0 bytes, never -1 (glibc would take -1 as a count).
ssize_t CookieWrite(void* cookie, const char* buffer, size_t size) {
  DeviceStream& s = *static_cast<DeviceStream*>(cookie);
  if (!OperationSucceeds()) {
    errno = EIO;
    return 0;
  }
  const size_t fits = Fits(s, size);
  const ssize_t done = fits > 0 ? write(s.fd, buffer, fits) : 0;
  if (done < 0) return 0;  // errno as write() left it
  if (done > 0 && faults.volumeBytesLeft >= 0) faults.volumeBytesLeft -= done;
  if (done > 0 && s.powerBytesLeft > 0) s.powerBytesLeft -= done;
  CutPowerIfDue(s);
  if (done >= 0 && static_cast<size_t>(done) < size) {
    errno = ENOSPC;
    if (faults.volumeBytesLeft == 0 && !faults.volumeFilled) {
      faults.volumeFilled = true;
      Notice(host::FileFault::kDiskFull, "the data volume is full; this write stored " +
                                             std::to_string(done > 0 ? done : 0) + " of " +
                                             std::to_string(size) + " bytes");
    }
  }
  return done;
}

int CookieSeek(void* cookie, off64_t* position, int whence) {
  if (!OperationSucceeds()) {
    errno = EIO;
    return -1;
  }
  const off64_t at = lseek64(static_cast<DeviceStream*>(cookie)->fd, *position, whence);
  if (at < 0) return -1;
  *position = at;
  return 0;
}

int CookieClose(void* cookie) {
  DeviceStream* s = static_cast<DeviceStream*>(cookie);
  // A record shorter than the bytes the power allows is on the disk whole;
  // the power fails before its file is closed.
  if (s->powerBytesLeft > 0) s->powerBytesLeft = 0;
  CutPowerIfDue(*s);
  const bool succeeds = OperationSucceeds();
  close(s->fd);  // the descriptor goes either way, as fclose's stream does
  delete s;
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

FILE* StreamOver(int fd, const char* mode, const std::string& path) {
  FILE* stream;
  if (faults.armed || mode[0] != 'r') {
    DeviceStream* s = new DeviceStream{fd, host::OnDataVolume(path), -1};
    if (s->dataVolume && mode[0] != 'r' && ++faults.writesOpened == faults.powerLossWrite)
      s->powerBytesLeft = faults.powerLossBytes;
    cookie_io_functions_t io;
    io.read = CookieRead;
    io.write = CookieWrite;
    io.seek = CookieSeek;
    io.close = CookieClose;
    stream = fopencookie(s, mode, io);
    if (stream == nullptr) delete s;
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

// A file about to be made takes entries in its folder: none when the folder
// is full, as FAT refuses it.
bool FolderTakes(const char* devicePath, const std::string& path) {
  const size_t slash = path.rfind('/');
  const char* p = devicePath;
  int parts = 0;
  for (; *p != '\0'; ++p) parts += *p == '\\' && p[1] != '\\' && p[1] != '\0';
  return host::TakeFolderEntry(path.substr(0, slash), path.substr(slash + 1), parts <= 2);
}

}  // namespace

namespace host {
void SetDeviceRoot(const std::string& r) { hostlib::SetDeviceRoot(r); }
const std::string& DeviceRoot() { return hostlib::DeviceRoot(); }

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
  faults.volumeFilled = false;
}

void CutPowerDuringWrite(int write, long long bytes) {
  faults.powerLossWrite = write;
  faults.powerLossBytes = bytes;
  faults.writesOpened = 0;
}

int FileOperationCount() { return faults.operations; }

void ClearFileFaults() { faults = FileFaults(); }

void NoticeFileFaults(FileFaultNotice notice, void* context) {
  faultNotice = notice;
  faultNoticeContext = context;
}

void ObserveDeviceFileWrites(DeviceFileWriteObserver observer, void* context) {
  writeObserver = observer;
  writeObserverContext = context;
}
}  // namespace host

namespace {

// Opens a resolved path as the board's volume would: only files and folders,
// no link followed, a new name only where its folder has the entries for it.
FILE* OpenResolved(const char* devicePath, const host::ResolvedPath& resolved, const char* mode,
                   std::string* refusal) {
  const int flags = OpenFlagsOf(mode);
  if (flags < 0) {
    errno = EINVAL;
    return nullptr;
  }
  if (faults.armed && !OperationSucceeds()) {
    errno = EIO;
    return nullptr;
  }
  if (!resolved.exists && (flags & O_CREAT) && !FolderTakes(devicePath, resolved.hostPath)) {
    *refusal = "its folder has no room for another entry (FAT's 65,536, or the volume is full)";
    errno = ENOSPC;
    return nullptr;
  }
  const int fd = hostlib::OpenRegularFile(resolved.hostPath, flags | O_NOFOLLOW);
  if (fd < 0) {
    *refusal = hostlib::OpenErrorText(errno);
    return nullptr;
  }
  return StreamOver(fd, mode, resolved.hostPath);
}

}  // namespace

FILE* OpenDeviceFile(const char* devicePath, const char* mode) {
  const host::ResolvedPath resolved = host::ResolveDevicePath(devicePath);
  std::string refusal = resolved.refusal;
  struct stat st;
  const long long bytesBefore =
      resolved.exists && stat(resolved.hostPath.c_str(), &st) == 0 ? st.st_size : 0;
  FILE* file = nullptr;
  if (refusal.empty()) {
    file = OpenResolved(devicePath, resolved, mode, &refusal);
  } else {
    errno = ENOENT;
  }
  if (writeObserver != nullptr && mode[0] != 'r') {
    const int error = errno;
    const sim::Board* board = host::AttachedBoard();
    writeObserver(
        host::DeviceFileWrite{resolved.hostPath, resolved.exists, bytesBefore, file != nullptr,
                              refusal, board != nullptr ? board->UtcNanoseconds() : 0,
                              board != nullptr ? board->TrueUtcNanoseconds() : 0},
        writeObserverContext);
    errno = error;
  }
  return file;
}

bool TruncateDeviceFile(const char* devicePath, long size) {
  const std::string path = host::HostPathOf(devicePath);
  if (path.empty() || size < 0) return false;
  if (faults.armed && !OperationSucceeds()) return false;
  const int fd = hostlib::OpenRegularFile(path, O_WRONLY | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool cut = ftruncate(fd, size) == 0;
  return close(fd) == 0 && cut;
}
