#include "tools/common/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tools/formats/data_file_name.h"

namespace datatools {
namespace {

constexpr int kReaderWaitMs = 2000;

bool nameEveryTemporary = false;

// The names a signal removes, as a stack: fixed storage, since the handler
// may not allocate. A path is written before its slot is marked used.
constexpr int kScratchSlots = 32;
char scratchPaths[kScratchSlots][PATH_MAX];
volatile sig_atomic_t scratchUsed[kScratchSlots];
volatile sig_atomic_t scratchTop = 0;  // slots at and above it are free
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void RemoveScratchAndEnd(int signal) {
  for (int i = scratchTop - 1; i >= 0; --i) {
    if (!scratchUsed[i]) continue;
    if (unlink(scratchPaths[i]) != 0) rmdir(scratchPaths[i]);
  }
  struct sigaction plain = {};
  plain.sa_handler = SIG_DFL;
  sigaction(signal, &plain, nullptr);
  raise(signal);
}

// Once, before the first name: a signal that was ignored (nohup) stays so.
void CatchEndingSignals() {
  static bool caught = false;
  if (caught) return;
  caught = true;
  for (int signal : kEndingSignals) {
    struct sigaction old = {};
    sigaction(signal, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction on = {};
    on.sa_handler = RemoveScratchAndEnd;
    sigfillset(&on.sa_mask);
    sigaction(signal, &on, nullptr);
  }
}

// Links an unnamed file's descriptor to `to`; fails with EEXIST if it exists.
bool LinkDescriptor(int fd, const std::string& to) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0) return false;
  return linkat(fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0;  // no /proc mounted
}

struct Identity {
  dev_t device;
  ino_t inode;
};

// The regular files an input stands for: itself, or a folder's entries.
void AddIdentities(const std::string& input, std::vector<Identity>* ids) {
  struct stat st;
  if (stat(input.c_str(), &st) != 0) return;
  if (S_ISREG(st.st_mode)) {
    ids->push_back({st.st_dev, st.st_ino});
  } else if (S_ISDIR(st.st_mode)) {
    if (DIR* d = opendir(input.c_str())) {
      while (dirent* e = readdir(d)) {
        if (stat((input + "/" + e->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
          ids->push_back({st.st_dev, st.st_ino});
      }
      closedir(d);
    }
  }
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "is a folder";
  if (S_ISFIFO(mode)) return "is a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device";
  if (S_ISSOCK(mode)) return "is a socket";
  return "is not a regular file";
}

}  // namespace

bool CheckOutputExtension(const std::string& path, const std::string& format, std::string* error) {
  static const char* const kKnown[] = {"wav", "flac", "csv", "png", "html"};
  const std::string name = BaseNameOf(path);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return true;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "htm") extension = "html";
  if (std::find(std::begin(kKnown), std::end(kKnown), extension) == std::end(kKnown) ||
      extension == format)
    return true;
  *error = path + ": a ." + extension + " name for " + format + " output";
  return false;
}

ScratchName::ScratchName(const std::string& path) : slot_(-1) {
  if (scratchTop >= kScratchSlots || path.size() >= PATH_MAX) return;
  CatchEndingSignals();
  slot_ = scratchTop;
  std::memcpy(scratchPaths[slot_], path.c_str(), path.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  scratchUsed[slot_] = 1;
  scratchTop = slot_ + 1;
}

ScratchName::~ScratchName() {
  if (slot_ < 0) return;
  scratchUsed[slot_] = 0;
  while (scratchTop > 0 && !scratchUsed[scratchTop - 1]) scratchTop = scratchTop - 1;
}

void NameEveryTemporary(bool named) { nameEveryTemporary = named; }

// What stands where an output goes, settled against the policy before
// anything is created: where the bytes end up, whether they replace a file
// or stream into a FIFO or device.
static bool SettleDestination(const std::string& path, const OutputPolicy& policy,
                              OutputFile::Destination* d, std::string* error, int* code) {
  *code = EINVAL;
  d->path = path;
  d->replaces = d->stream = false;
  if (path.empty()) {
    *error = "no output file named";
    return false;
  }
  const std::string name = BaseNameOf(path);
  if (name.empty() || name == "." || name == "..") {
    *error = path + ": is a folder, not a regular file for the output";
    return false;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    // A file made between the two calls (another run laying out the same
    // device) is settled afresh rather than taken for a link to nothing.
    const int statError = errno;
    const bool linked = statError == ENOENT && lstat(path.c_str(), &st) == 0;
    if (linked && !S_ISLNK(st.st_mode)) return SettleDestination(path, policy, d, error, code);
    if (statError != ENOENT) {
      *code = statError;
      *error = path + ": " + std::strerror(statError);
    } else if (linked) {
      *error = path + ": is a link to nothing";
    } else if (DataFileName::Is(name)) {
      *error = path + ": is named as a data file; write it under another name";
    } else {
      return true;
    }
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    d->stream = policy.stream && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
    if (!d->stream)
      *error = path + ": " + KindOf(st.st_mode) + ", not a regular file for the output";
    return d->stream;
  }
  std::vector<Identity> inputs;
  for (const std::string& input : policy.inputs) AddIdentities(input, &inputs);
  for (const Identity& id : inputs) {
    if (id.device == st.st_dev && id.inode == st.st_ino) {
      *error = path + ": is an input of this command; it is never replaced";
      return false;
    }
  }
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) {
    *code = errno;
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  d->path = resolved;
  if (DataFileName::Is(name) || DataFileName::Is(BaseNameOf(d->path))) {
    *error = path + ": is named as a data file; it is never replaced";
    return false;
  }
  if (!policy.force) {
    *code = EEXIST;
    *error = path + ": exists (give --force to replace it)";
    return false;
  }
  d->replaces = true;
  return true;
}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Check(const std::string& path, const OutputPolicy& policy, std::string* error) {
  Destination d;
  int code = 0;
  return SettleDestination(path, policy, &d, error, &code);
}

void OutputFile::Discard() {
  // The stream has no close of its own: the descriptor is closed apart.
  if (stream_ != nullptr) std::fclose(stream_);
  if (fd_ >= 0) close(fd_);
  stream_ = nullptr;
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  scratch_.reset();
}

bool OutputFile::Fail(int code, const std::string& text, std::string* error) {
  error_ = code;
  *error = text;
  return false;
}

ssize_t OutputFile::RawWrite(const void* data, size_t size) {
  if (writeError_ != 0) return -1;  // the output has ended: the disk is not asked again
  if (written_ + size > limit_) {
    writeError_ = ENOSPC;
    limitReached_ = true;
    return -1;
  }
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      writeError_ = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  written_ += done;
  return done > 0 ? static_cast<ssize_t>(done) : writeError_ != 0 ? -1 : 0;
}

// Written in place. A FIFO with no reader would block the open for ever: a
// reader started beside the tool gets a bounded while to come.
bool OutputFile::OpenStream(std::string* error) {
  for (int wait = 0; (fd_ = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
                     errno == ENXIO && wait < kReaderWaitMs / 10;
       ++wait)
    usleep(10000);
  if (fd_ < 0) {
    const int e = errno;
    return Fail(e,
                path_ + ": " +
                    (e == ENXIO ? "a FIFO with no reader (none came in " +
                                      std::to_string(kReaderWaitMs / 1000) + " s)"
                                : std::string(std::strerror(e))),
                error);
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  // A reader that goes away is a failed write (EPIPE), reported, not the
  // end of the program.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

// Unnamed where the file system allows it; else named beside the
// destination, the name removed on a signal.
bool OutputFile::OpenTemporary(std::string* error) {
  const std::string folder = FolderOf(destination_);
  if (!nameEveryTemporary) {
    fd_ = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
      return Fail(errno, path_ + ": cannot create a file there: " + std::strerror(errno), error);
  }
  temporary_ = folder + "/." + BaseNameOf(destination_) + ".XXXXXX";
  // No signal comes between the file's creation and its name's registration.
  sigset_t ending, before;
  sigemptyset(&ending);
  for (int signal : kEndingSignals) sigaddset(&ending, signal);
  sigprocmask(SIG_BLOCK, &ending, &before);
  fd_ = mkostemp(temporary_.data(), O_CLOEXEC);
  const int e = errno;
  if (fd_ >= 0) scratch_ = std::make_unique<ScratchName>(temporary_);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  if (fd_ < 0) {
    temporary_.clear();
    return Fail(e, path_ + ": cannot create a file there: " + std::strerror(e), error);
  }
  // mkostemp makes the file private; the output gets the mode a new file would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
  return true;
}

bool OutputFile::Open(const std::string& path, const OutputPolicy& policy, std::string* error) {
  Discard();
  path_ = path;
  force_ = policy.force;
  limit_ = UINT64_MAX;
  written_ = 0;
  writeError_ = error_ = syncError_ = 0;
  limitReached_ = false;
  synced_ = false;
  Destination d;
  if (!SettleDestination(path, policy, &d, error, &error_)) return false;
  destination_ = d.path;
  replaces_ = d.replaces;
  streaming_ = d.stream;
  if (!(streaming_ ? OpenStream(error) : OpenTemporary(error))) return false;
  cookie_io_functions_t io = {nullptr, &OutputFile::CookieWrite, nullptr, nullptr};
  stream_ = fopencookie(this, "w", io);
  if (stream_ == nullptr) {
    const int e = errno;
    Discard();
    return Fail(e, path_ + ": " + std::strerror(e), error);
  }
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
  return stream_ != nullptr && std::fwrite(data, 1, size, stream_) == size;
}

std::string OutputFile::NotWritten() const {
  if (streaming_) return path_ + " is incomplete";
  return replaces_ ? path_ + " left as it was" : "nothing written to " + path_;
}

// Gives the complete file the destination's name; errno, or 0. An unnamed
// file is linked by its descriptor; over an existing file (--force) through
// a name of its own, renamed over it. Without --force, a file that appeared
// meanwhile is not replaced either.
int OutputFile::Place() {
  if (temporary_.empty()) {
    if (!replaces_) {
      if (!LinkDescriptor(fd_, destination_)) return errno;
      const int closed = close(fd_) == 0 ? 0 : errno;
      fd_ = -1;
      if (closed != 0) unlink(destination_.c_str());
      return closed;
    }
    std::string staged = FolderOf(destination_) + "/." + BaseNameOf(destination_) + "." +
                         std::to_string(getpid()) + "-";
    for (int n = 0; temporary_.empty(); ++n) {
      scratch_ = std::make_unique<ScratchName>(staged + std::to_string(n));
      if (LinkDescriptor(fd_, staged + std::to_string(n)))
        temporary_ = staged + std::to_string(n);
      else if (errno != EEXIST || n == 100)
        return errno;
    }
  }
  const int closed = close(fd_) == 0 ? 0 : errno;
  fd_ = -1;
  if (closed != 0) return closed;
  bool placed = replaces_ ? rename(temporary_.c_str(), destination_.c_str()) == 0
                          : renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, destination_.c_str(),
                                      RENAME_NOREPLACE) == 0;
  if (!placed && !replaces_ && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without the flag: a hard link refuses an existing name too.
    placed = link(temporary_.c_str(), destination_.c_str()) == 0;
    if (placed) unlink(temporary_.c_str());
  }
  if (!placed) return errno;
  temporary_.clear();
  scratch_.reset();
  return 0;
}

void OutputFile::Sync() {
  if (synced_ || stream_ == nullptr) return;
  int failure = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_) || writeError_ != 0)
    failure = writeError_ != 0 ? writeError_ : EIO;
  std::fclose(stream_);
  stream_ = nullptr;
  if (failure == 0 && !streaming_ && fsync(fd_) != 0) failure = errno;
  synced_ = true;
  syncError_ = failure;
}

bool OutputFile::Commit(std::string* error) {
  if (stream_ == nullptr && !synced_) return Fail(EBADF, path_ + ": not open", error);
  Sync();
  int failure = syncError_;
  synced_ = false;  // committed once: a second Commit finds it not open
  if (failure == 0 && streaming_) {
    // A failure at close is the file system's last word on the bytes.
    failure = close(fd_) == 0 ? 0 : errno;
    fd_ = -1;
  } else if (failure == 0) {
    failure = Place();
  }
  if (failure == 0) return true;
  Discard();
  if (streaming_) return Fail(failure, path_ + ": " + std::strerror(failure), error);
  return Fail(failure,
              path_ + ": " +
                  (failure == EEXIST
                       ? std::string("appeared while it was written (give --force to replace it)")
                       : std::string(std::strerror(failure))) +
                  (replaces_ ? " (left as it was)" : " (nothing written)"),
              error);
}

}  // namespace datatools
