// The host's side of platform/format.h: the C library's vsnprintf already
// terminates; only the truncation result is the platform's own.
#include "platform/format.h"

#include <cstdarg>
#include <cstdio>

int FormatText(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return -1;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, size, format, args);
  va_end(args);
  if (n < 0) {
    buffer[0] = '\0';
    return -1;
  }
  return static_cast<size_t>(n) < size ? n : -1;
}
