// The kernel debug console on the FFUART, NKDbgPrintfW with the kernel's own
// format subset (%d %i %u, %x %X with a field width, %s of a wide string, %c,
// %%; a message below 128 characters), the exception reports, and the
// semihosting exit.
#include <stdarg.h>
#include <stdio.h>

#include "platform/baremetal/baremetal.h"
#include "platform/kernel.h"

namespace {

// FFUART registers (a 16550 with 32-bit spacing) and the PXA's unit enable.
volatile uint32_t* const kFfuart = reinterpret_cast<volatile uint32_t*>(0x40100000);
const uint32_t THR = 0x00 / 4, IER = 0x04 / 4, FCR = 0x08 / 4, LSR = 0x14 / 4;
const uint32_t IER_UUE = 1u << 6;
const uint32_t FCR_TRFIFOE = 0x7;   // FIFOs on and reset
const uint32_t LSR_TDRQ = 1u << 5;  // transmit FIFO half empty or emptier
const size_t kHalfFifo = 32;
bool consoleUp = false;

const size_t kMessageLimit = 128;

void AppendDigits(char* text, size_t* n, uint32_t value, unsigned base, bool upper, unsigned width,
                  bool negative) {
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[12];
  size_t count = 0;
  do {
    digits[count++] = symbols[value % base];
    value /= base;
  } while (value != 0);
  if (negative) digits[count++] = '-';
  for (size_t k = count; k < width && *n < kMessageLimit; ++k) text[(*n)++] = ' ';
  while (count > 0 && *n < kMessageLimit) text[(*n)++] = digits[--count];
}

void AppendChar(char* text, size_t* n, uint32_t c) {
  if (*n < kMessageLimit) text[(*n)++] = c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
}

// Semihosting call (ARM state, privileged mode).
int Semihost(int operation, uint32_t argument) {
  register int r0 __asm__("r0") = operation;
  register uint32_t r1 __asm__("r1") = argument;
  __asm__ volatile("svc 0x123456" : "+r"(r0) : "r"(r1) : "memory");
  return r0;
}

void Hex(char* text, uint32_t value) {
  for (int i = 0; i < 8; ++i) text[i] = "0123456789abcdef"[(value >> (28 - 4 * i)) & 0xF];
}

}  // namespace

void ConsoleWrite(const char* text, size_t length) {
  if (!consoleUp) {
    kFfuart[IER] = IER_UUE;
    kFfuart[FCR] = FCR_TRFIFOE;
    consoleUp = true;
  }
  // One status read per half FIFO, so the console costs few bus accesses.
  for (size_t i = 0; i < length; i += kHalfFifo) {
    while ((kFfuart[LSR] & LSR_TDRQ) == 0) {
    }
    for (size_t k = i; k < length && k < i + kHalfFifo; ++k)
      kFfuart[THR] = static_cast<uint8_t>(text[k]);
  }
}

void SemihostExit(bool ok) {
  fflush(stdout);
  const uint32_t kApplicationExit = 0x20026, kRunTimeErrorUnknown = 0x20023;
  Semihost(0x18, ok ? kApplicationExit : kRunTimeErrorUnknown);  // SYS_EXIT
  for (;;) {
  }
}

void Halt(const char* line) {
  size_t n = 0;
  while (line[n] != '\0') ++n;
  ConsoleWrite(line, n);
  SemihostExit(false);
}

void NKDbgPrintfW(LPCWSTR format, ...) {
  char text[kMessageLimit + 1];
  size_t n = 0;
  va_list args;
  va_start(args, format);
  for (const WCHAR* p = format; *p != 0; ++p) {
    if (*p != L'%') {
      AppendChar(text, &n, static_cast<uint32_t>(*p));
      continue;
    }
    ++p;
    // A width, but no flags: a leading 0 is a flag the kernel does not know.
    const bool flagged = *p == L'0';
    unsigned width = 0;
    while (*p >= L'0' && *p <= L'9') width = width * 10 + static_cast<unsigned>(*p++ - L'0');
    switch (flagged ? L'0' : *p) {
      case L'd':
      case L'i': {
        const int v = va_arg(args, int);
        const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        AppendDigits(text, &n, magnitude, 10, false, width, v < 0);
        break;
      }
      case L'u': AppendDigits(text, &n, va_arg(args, unsigned), 10, false, width, false); break;
      case L'x':
      case L'X':
        AppendDigits(text, &n, va_arg(args, unsigned), 16, *p == L'X', width, false);
        break;
      case L'c': AppendChar(text, &n, static_cast<uint32_t>(va_arg(args, int))); break;
      case L's': {
        const WCHAR* s = va_arg(args, const WCHAR*);
        size_t length = 0;
        while (s != NULL && s[length] != 0) ++length;
        for (size_t k = s == NULL ? 6 : length; k < width; ++k) AppendChar(text, &n, ' ');
        if (s == NULL) s = L"(null)";
        for (; *s != 0; ++s) AppendChar(text, &n, static_cast<uint32_t>(*s));
        break;
      }
      case L'%': AppendChar(text, &n, '%'); break;
      default:
        va_end(args);
        Halt("\r\nNKDbgPrintfW: a conversion the kernel's formatter lacks\r\n");
    }
  }
  va_end(args);
  if (n >= kMessageLimit) Halt("\r\nNKDbgPrintfW: a message of 128 characters or more\r\n");
  ConsoleWrite(text, n);
}

extern "C" void PelmokDataAbort(uint32_t address, uint32_t pc, uint32_t status) {
  // "Data abort at 0x10001000, status 0x007, pc 0xa0101234"
  char line[] = "\r\nData abort at 0x00000000, status 0x000, pc 0x00000000\r\n";
  Hex(line + 18, address);
  char statusDigits[8];
  Hex(statusDigits, status & 0xFFF);
  line[37] = statusDigits[5];
  line[38] = statusDigits[6];
  line[39] = statusDigits[7];
  Hex(line + 47, pc);
  Halt(line);
}

extern "C" void PelmokPrefetchAbort(uint32_t pc) {
  char line[] = "\r\nPrefetch abort at pc 0x00000000\r\n";
  Hex(line + 25, pc);
  Halt(line);
}

extern "C" void PelmokUndefined(uint32_t pc) {
  char line[] = "\r\nUndefined instruction or SWI at pc 0x00000000\r\n";
  Hex(line + 39, pc);
  Halt(line);
}
