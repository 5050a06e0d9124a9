// The board's side of platform/format.h over the CE runtime's _vsnprintf,
// which returns -1 and writes no terminator when the text fills the buffer.
#include "platform/format.h"

#include <stdarg.h>
#include <stdio.h>

int FormatText(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return -1;
  va_list args;
  va_start(args, format);
  const int n = _vsnprintf(buffer, size, format, args);
  va_end(args);
  buffer[size - 1] = '\0';
  if (n < 0 || static_cast<size_t>(n) >= size) return -1;
  return n;
}
