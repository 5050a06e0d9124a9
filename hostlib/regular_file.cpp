#include "hostlib/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hostlib {

int OpenRegularFile(const std::string& path, int flags) {
  // Refused from stat before the open where possible, so nothing of a FIFO or
  // device is opened at all; the open itself never blocks (O_NONBLOCK) and
  // never truncates, fstat deciding on what was really opened.
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
      return -1;
    }
  } else if (errno != ENOENT || !(flags & O_CREAT)) {
    return -1;
  }
  const int fd = open(path.c_str(), (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  const bool stated = fstat(fd, &st) == 0;
  int error = 0;
  if (stated && !S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
  } else if (!stated || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
             ((flags & O_TRUNC) && ftruncate(fd, 0) != 0)) {
    error = errno;
  }
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::string OpenErrorText(int error) {
  if (error == EISDIR) return "is a folder";
  if (error == ENODEV) return "is not a regular file";
  return std::strerror(error);
}

bool ReadRegularFile(const std::string& path, std::string* content, std::string* error,
                     uint64_t limit) {
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) {
    *error = path + ": " + OpenErrorText(errno);
    return false;
  }
  content->clear();
  const auto tooLarge = [&](uint64_t bytes) {
    *error = path + ": " + std::to_string(bytes) + " bytes, more than " + std::to_string(limit);
    close(fd);
    return false;
  };
  struct stat st;
  if (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) > limit) return tooLarge(st.st_size);
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      if (content->size() + static_cast<uint64_t>(got) > limit)
        return tooLarge(content->size() + got);
      content->append(buffer, static_cast<size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      *error = path + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
  }
  close(fd);
  return true;
}

}  // namespace hostlib
