// The kernel debug console. The board's NKDbgPrintfW formats a wide string;
// here the text is formatted the same way and written, byte for byte, to
// standard error (or to a test's capture).
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/host/host.h"
#include "platform/kernel.h"

namespace {
std::string* capture = nullptr;
}

void NKDbgPrintfW(LPCWSTR format, ...) {
  // The kernel formats into a fixed buffer too; every message of the program
  // is far shorter than this.
  wchar_t wide[512];
  va_list args;
  va_start(args, format);
  int n = std::vswprintf(wide, sizeof wide / sizeof wide[0], format, args);
  va_end(args);
  if (n < 0) {
    // Longer than the buffer: keep what fits, as a truncated kernel line.
    n = static_cast<int>(std::wcslen(wide));
  }
  std::string text;
  text.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const wchar_t c = wide[i];
    text.push_back(static_cast<uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?');
  }
  if (capture) {
    capture->append(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
}

namespace host {
void CaptureConsole(std::string* sink) { capture = sink; }
}  // namespace host
