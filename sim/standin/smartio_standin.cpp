// A stand-in for the board vendor's I/O library: the SIO entry points with the
// vendor's argument and result shapes, over a simulated board state. Built
// several times; STANDIN_LIBRARY_NAME names the file and each
// STANDIN_OMIT_<entry point> leaves that export out, as an older or trimmed
// library would.
#include <cstdio>
#include <cstring>

#include "sim/standin/standin_state.h"

#ifndef STANDIN_LIBRARY_NAME
#error STANDIN_LIBRARY_NAME must name the library being built
#endif

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

standin::BoardState MakeInitialState() {
  standin::BoardState s;
  std::memset(&s, 0, sizeof s);
  std::snprintf(s.libraryName, sizeof s.libraryName, "%s", STANDIN_LIBRARY_NAME);
  s.backlightOn = 1;
  s.backlightPwm = 0xFF;
  s.backlightVeePwm = 0x80;
  for (int p = 0; p < standin::kPortCount; ++p) s.pins[p] = 0xFF;  // pulled up
  s.keypadRows = 4;
  s.keypadColumns = 4;
  for (int i = 0; i < standin::kAnalogInputs; ++i) s.analog[i] = 0x200;  // mid-scale
  s.firmwareVersion = 0x0102;
  s.deviceVersion = 0x0003;
  s.partType = 0x2313;
  return s;
}

standin::BoardState state = MakeInitialState();

void Log(const char* format, unsigned a = 0, unsigned b = 0) {
  ++state.calls;
  const size_t used = std::strlen(state.callLog);
  if (used + 1 >= sizeof state.callLog) return;
  std::snprintf(state.callLog + used, sizeof state.callLog - used, format, a, b);
}

uint32_t ReadPort(int port) {
  const uint8_t outputs = state.ddr[port];
  const uint32_t low = (state.pins[port] & ~outputs & 0xFFu) | (state.latch[port] & outputs);
  return (state.pins[port] & ~0xFFu) | low;
}

}  // namespace

STANDIN_EXPORT standin::BoardState* StandinState() { return &state; }

#ifndef STANDIN_OMIT_SIOSelectOption
STANDIN_EXPORT void SIOSelectOption(uint8_t option) {
  Log("SIOSelectOption(%u) ", option);
  state.selectedOption = option;
}
#endif

#define STANDIN_PORT(X, index)                            \
  STANDIN_EXPORT void SIOInitDDR##X(uint8_t directions) { \
    Log("SIOInitDDR" #X "(0x%02x) ", directions);         \
    state.ddr[index] = directions;                        \
  }                                                       \
  STANDIN_EXPORT void SIOWritePort##X(uint8_t value) {    \
    Log("SIOWritePort" #X "(0x%02x) ", value);            \
    state.latch[index] = value;                           \
  }                                                       \
  STANDIN_EXPORT uint32_t SIOReadPort##X() {              \
    Log("SIOReadPort" #X "() ");                          \
    return ReadPort(index);                               \
  }

STANDIN_PORT(A, 0)
STANDIN_PORT(B, 1)
STANDIN_PORT(C, 2)
STANDIN_PORT(D, 3)

#ifndef STANDIN_OMIT_SIOBackLightON
STANDIN_EXPORT void SIOBackLightON() {
  Log("SIOBackLightON() ");
  state.backlightOn = 1;
}
#endif

#ifndef STANDIN_OMIT_SIOBackLightOFF
STANDIN_EXPORT void SIOBackLightOFF() {
  Log("SIOBackLightOFF() ");
  state.backlightOn = 0;
}
#endif

STANDIN_EXPORT void SIOBackLightPwm(uint8_t level) {
  Log("SIOBackLightPwm(%u) ", level);
  state.backlightPwm = level;
}

STANDIN_EXPORT void SIOBackLightVEEPwm(uint8_t level) {
  Log("SIOBackLightVEEPwm(%u) ", level);
  state.backlightVeePwm = level;
}

#ifndef STANDIN_OMIT_SIOReadKeypad
STANDIN_EXPORT uint8_t SIOReadKeypad() {
  Log("SIOReadKeypad() ");
  const uint8_t key = state.keypadCode;
  state.keypadCode = 0;
  return key;
}
#endif

STANDIN_EXPORT uint32_t SIOSetKeyPadSize(uint8_t rows, uint8_t columns) {
  Log("SIOSetKeyPadSize(%u,%u) ", rows, columns);
  if (rows == 0 || columns == 0 || rows > 8 || columns > 8) return 0;
  state.keypadRows = rows;
  state.keypadColumns = columns;
  return 1;
}

#ifndef STANDIN_OMIT_SIOAnalogConversion
STANDIN_EXPORT uint32_t SIOAnalogConversion(uint8_t channel) {
  Log("SIOAnalogConversion(%u) ", channel);
  return state.analog[channel & (standin::kAnalogInputs - 1)];
}
#endif

#ifndef STANDIN_OMIT_SIOFirmwareVersion
STANDIN_EXPORT uint32_t SIOFirmwareVersion() {
  Log("SIOFirmwareVersion() ");
  return state.firmwareVersion;
}
#endif

STANDIN_EXPORT uint32_t SIOReadDeviceVersion() {
  Log("SIOReadDeviceVersion() ");
  return state.deviceVersion;
}

STANDIN_EXPORT uint32_t SIOReadDevicePartType() {
  Log("SIOReadDevicePartType() ");
  return state.partType;
}

// The binding never looks these two up; they are here because the vendor's
// library has them.
STANDIN_EXPORT uint32_t SIOReadEEPROM(uint8_t address, uint32_t length) {
  Log("SIOReadEEPROM(%u,%u) ", address, length);
  return 0;
}

STANDIN_EXPORT uint32_t SIOSetSSPTimeout(uint32_t timeout) {
  Log("SIOSetSSPTimeout(%u) ", timeout);
  return 0;
}
