// Bounded narrow-text formatting. The board's C runtime has only _snprintf,
// which leaves a truncated text unterminated; this helper always terminates.
#pragma once

#include "platform/types.h"

#if defined(__GNUC__)
#define PELMOK_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define PELMOK_PRINTF_FORMAT(f, a)
#endif

// Formats as printf into `buffer` of `size` characters, the terminator
// included. Returns the length of the text, or -1 when it did not fit; the
// buffer then holds the text's first size - 1 characters, terminated. A size
// of 0 writes nothing and returns -1.
int FormatText(char* buffer, size_t size, const char* format, ...) PELMOK_PRINTF_FORMAT(3, 4);
