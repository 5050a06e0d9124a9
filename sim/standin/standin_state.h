// What a stand-in vendor I/O library (SMARTIO.DLL / KEYBDDR.DLL built from
// smartio_standin.cpp) simulates of the board, as tests see it through the
// library's extra export StandinState. The state lives in the library and
// starts afresh each time the library is loaded.
#pragma once

#include <cstdint>

namespace standin {

constexpr int kPortCount = 4;     // A to D
constexpr int kAnalogInputs = 8;  // selected by the low 3 bits of the channel
constexpr int kCallLogSize = 2048;

struct BoardState {
  char libraryName[16];  // "SMARTIO.DLL" or "KEYBDDR.DLL", as built
  uint32_t calls;        // vendor entry points called since load

  int backlightOn;          // 1 at load: the display is lit
  uint8_t backlightPwm;     // brightness
  uint8_t backlightVeePwm;  // contrast (VEE)
  uint8_t selectedOption;

  // Per port: direction (bit set = output), output latch, and the word a
  // read returns for the input pins. The board's controller reports more
  // than the port byte in a read, so `pins` may carry bits above bit 7.
  uint8_t ddr[kPortCount];
  uint8_t latch[kPortCount];
  uint32_t pins[kPortCount];

  uint8_t keypadCode;  // next key, 0 = none; a read consumes it
  uint8_t keypadRows;
  uint8_t keypadColumns;

  uint32_t analog[kAnalogInputs];  // 10-bit conversions, per input
  uint32_t firmwareVersion;
  uint32_t deviceVersion;
  uint32_t partType;

  // "Name(args) " for every call, in order; truncated when full.
  char callLog[kCallLogSize];
};

}  // namespace standin

extern "C" {
typedef standin::BoardState* (*StandinStateProc)();
}
