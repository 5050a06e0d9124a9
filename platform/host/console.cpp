// The kernel debug console. The board's NKDbgPrintfW formats with the
// kernel's own small formatter, not the C library's, so the host implements
// exactly that subset: %d %i %u, %x %X with a field width, %s taking a wide
// string, %c and %%. A conversion the kernel lacks, or a message of 128
// characters or more (the kernel's line buffer), is a fault: it would print
// garbage or be cut on the board. The text goes, byte for byte, to standard
// error or to a test's capture.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "hostlib/device_folder.h"
#include "platform/host/host.h"
#include "platform/kernel.h"
#include "sim/fault.h"

namespace {

// The kernel's console line buffer; a message must stay below it.
constexpr size_t kMessageLimit = 128;

// The console is 7-bit: anything else shows as '?'.
void PutChar(std::string* text, uint32_t c) {
  text->push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : '?');
}

void PutPadded(std::string* text, const std::string& digits, unsigned width) {
  for (size_t n = digits.size(); n < width; ++n) text->push_back(' ');
  text->append(digits);
}

std::string Digits(uint64_t value, unsigned base, bool upper) {
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string reversed;
  do {
    reversed.push_back(symbols[value % base]);
    value /= base;
  } while (value != 0);
  return std::string(reversed.rbegin(), reversed.rend());
}

// Formats `format` into `text`; false (with the reason) at the first
// conversion the kernel does not have.
bool Format(LPCWSTR format, va_list args, std::string* text, std::string* reason) {
  for (const WCHAR* p = format; *p != 0; ++p) {
    if (*p != L'%') {
      PutChar(text, static_cast<uint32_t>(*p));
      continue;
    }
    const WCHAR* start = p++;
    unsigned width = 0;
    // A width, but no flags: a leading 0 is a flag the kernel does not know.
    const bool flagged = *p == L'0';
    while (*p >= L'0' && *p <= L'9') width = width * 10 + static_cast<unsigned>(*p++ - L'0');
    switch (flagged ? L'0' : *p) {
      case L'd':
      case L'i': {
        const int v = va_arg(args, int);
        const uint64_t magnitude =
            v < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(v)) : static_cast<uint64_t>(v);
        PutPadded(text, (v < 0 ? "-" : "") + Digits(magnitude, 10, false), width);
        break;
      }
      case L'u': PutPadded(text, Digits(va_arg(args, unsigned), 10, false), width); break;
      case L'x':
      case L'X': PutPadded(text, Digits(va_arg(args, unsigned), 16, *p == L'X'), width); break;
      case L'c': PutChar(text, static_cast<uint32_t>(va_arg(args, int))); break;
      case L's': {
        const WCHAR* s = va_arg(args, const WCHAR*);
        std::string piece;
        for (; s != nullptr && *s != 0; ++s) PutChar(&piece, static_cast<uint32_t>(*s));
        if (s == nullptr) piece = "(null)";
        PutPadded(text, piece, width);
        break;
      }
      case L'%': text->push_back('%'); break;
      default: {
        std::string conversion;
        for (const WCHAR* q = start; q <= p && *q != 0; ++q)
          PutChar(&conversion, static_cast<uint32_t>(*q));
        *reason = "conversion \"" + conversion + "\" is not in the kernel's formatter";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

namespace {
host::ConsoleListener listener = nullptr;
void* listenerContext = nullptr;
}  // namespace

void NKDbgPrintfW(LPCWSTR format, ...) {
  std::string text;
  std::string reason;
  va_list args;
  va_start(args, format);
  const bool formatted = Format(format, args, &text, &reason);
  va_end(args);
  if (!formatted) {
    sim::Fault("NKDbgPrintfW: %s: \"%s\"", reason.c_str(), text.c_str());
    return;
  }
  if (text.size() >= kMessageLimit) {
    sim::Fault("NKDbgPrintfW: a message of %zu characters; the kernel takes fewer than %zu: \"%s\"",
               text.size(), kMessageLimit, text.c_str());
    return;
  }
  if (listener) listener(text, listenerContext);
  if (std::string* capture = hostlib::ConsoleCapture()) {
    capture->append(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stderr);
  }
}

namespace host {
void CaptureConsole(std::string* sink) { hostlib::CaptureConsole(sink); }
void ListenToConsole(ConsoleListener l, void* context) {
  listener = l;
  listenerContext = context;
}
}  // namespace host
