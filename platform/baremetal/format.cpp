// platform/format.h over newlib's vsnprintf.
#include "platform/format.h"

#include <stdarg.h>
#include <stdio.h>

int FormatText(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return -1;
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(buffer, size, format, args);
  va_end(args);
  return n < 0 || static_cast<size_t>(n) >= size ? -1 : n;
}
