#include "tools/common/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace datatools {
namespace {

const char* programName = "";

// At exit, whatever path led there.
void CloseStandardOutput() {
  const bool failedBefore = std::ferror(stdout) != 0;
  errno = 0;
  const bool closed = std::fclose(stdout) == 0;
  if (closed && !failedBefore) return;
  const int e = errno;
  std::fprintf(stderr, "%s: standard output: %s\n", programName,
               e != 0 ? std::strerror(e) : "a write failed");
  _exit(2);
}

}  // namespace

void GuardStandardStreams(const char* program) {
  programName = program;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, as those below it are open.
    if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) _exit(2);
  }
  std::atexit(CloseStandardOutput);
}

}  // namespace datatools
