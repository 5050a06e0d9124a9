// printf-style formatting into a std::string, for the tools' texts.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace datatools {

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Printf(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

}  // namespace datatools
