#include "tools/common/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "tools/formats/data_file_name.h"

namespace datatools {
namespace {

constexpr int kReaderWaitMs = 2000;

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

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  // The stream has no close of its own: the descriptor is closed apart.
  if (stream_ != nullptr) std::fclose(stream_);
  if (fd_ >= 0) close(fd_);
  stream_ = nullptr;
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

ssize_t OutputFile::RawWrite(const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (writeError_ == 0) writeError_ = n < 0 ? errno : EIO;
      return done > 0 ? static_cast<ssize_t>(done) : -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool OutputFile::Open(const std::string& path, const OutputPolicy& policy, std::string* error) {
  Discard();
  path_ = destination_ = path;
  replaces_ = streaming_ = false;
  force_ = policy.force;
  writeError_ = 0;
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
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      if (!policy.stream || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        *error = path + ": " + KindOf(st.st_mode) + ", not a regular file for the output";
        return false;
      }
      // Written in place. A FIFO with no reader would block the open for ever:
      // a reader started beside the tool gets a bounded while to come.
      for (int wait = 0; (fd_ = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
                         errno == ENXIO && wait < kReaderWaitMs / 10;
           ++wait)
        usleep(10000);
      if (fd_ < 0) {
        *error = path + ": " +
                 (errno == ENXIO ? "a FIFO with no reader (none came in " + std::to_string(kReaderWaitMs / 1000) + " s)"
                                 : std::string(std::strerror(errno)));
        return false;
      }
      fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
      // A reader that goes away is a failed write (EPIPE), reported, not the
      // end of the program.
      std::signal(SIGPIPE, SIG_IGN);
      streaming_ = true;
    } else {
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
        *error = path + ": " + std::strerror(errno);
        return false;
      }
      destination_ = resolved;
      if (DataFileName::Is(name) || DataFileName::Is(BaseNameOf(destination_))) {
        *error = path + ": is named as a data file; it is never replaced";
        return false;
      }
      if (!policy.force) {
        *error = path + ": exists (give --force to replace it)";
        return false;
      }
      replaces_ = true;
    }
  } else if (errno != ENOENT) {
    *error = path + ": " + std::strerror(errno);
    return false;
  } else if (lstat(path.c_str(), &st) == 0) {
    *error = path + ": is a link to nothing";
    return false;
  } else if (DataFileName::Is(name)) {
    *error = path + ": is named as a data file; write it under another name";
    return false;
  }

  if (!streaming_) {
    temporary_ = FolderOf(destination_) + "/." + BaseNameOf(destination_) + ".XXXXXX";
    fd_ = mkostemp(&temporary_[0], O_CLOEXEC);
    if (fd_ < 0) {
      const int e = errno;
      temporary_.clear();
      *error = path + ": cannot create a file there: " + std::strerror(e);
      return false;
    }
    // mkostemp makes the file private; the output gets the mode a new file would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
  }
  cookie_io_functions_t io = {nullptr, &OutputFile::CookieWrite, nullptr, nullptr};
  stream_ = fopencookie(this, "w", io);
  if (stream_ == nullptr) {
    *error = path + ": " + std::strerror(errno);
    Discard();
    return false;
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

bool OutputFile::Commit(std::string* error) {
  if (stream_ == nullptr) {
    *error = path_ + ": not open";
    return false;
  }
  int failure = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_) || writeError_ != 0)
    failure = writeError_ != 0 ? writeError_ : EIO;
  if (failure == 0 && !streaming_ && fsync(fd_) != 0) failure = errno;
  FILE* stream = stream_;
  stream_ = nullptr;
  if (std::fclose(stream) != 0 && failure == 0) failure = writeError_ != 0 ? writeError_ : EIO;
  // A failure at close is the file system's last word on the bytes.
  if (close(fd_) != 0 && failure == 0) failure = errno;
  fd_ = -1;
  if (streaming_) {
    if (failure != 0) *error = path_ + ": " + std::strerror(failure);
    return failure == 0;
  }
  if (failure == 0) {
    // Without --force, a file that appeared meanwhile is not replaced either.
    const bool placed = replaces_ ? rename(temporary_.c_str(), destination_.c_str()) == 0
                                  : renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD,
                                              destination_.c_str(), RENAME_NOREPLACE) == 0;
    if (!placed && !replaces_ && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without the flag: a hard link refuses an existing name too.
      if (link(temporary_.c_str(), destination_.c_str()) == 0) {
        unlink(temporary_.c_str());
        temporary_.clear();
        return true;
      }
    }
    if (placed) {
      temporary_.clear();
      return true;
    }
    failure = errno;
  }
  Discard();
  *error = path_ + ": " +
           (failure == EEXIST ? std::string("appeared while it was written (give --force to replace it)")
                              : std::string(std::strerror(failure))) +
           (replaces_ ? " (left as it was)" : " (nothing written)");
  return false;
}

}  // namespace datatools
