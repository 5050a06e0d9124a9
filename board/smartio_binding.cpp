#include "board/smartio_binding.h"

namespace {

// A missing entry point is reported once, here; its operation then reports
// "not available" on every call. The failure texts carry no line break, so
// consecutive failures share a console line, as they always have.
template <typename Proc>
void Lookup(HMODULE library, Proc* slot, LPCWSTR name, LPCWSTR failure) {
  const FARPROC address = GetProcAddressW(library, name);
  // FARPROC is only a carrier; going through void (*)() says the real shape
  // is the slot's, which is what the library exports.
  *slot = reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(address));
  if (address == nullptr) NKDbgPrintfW(failure, static_cast<int>(GetLastError()));
}

#define LOOKUP(slot, name) \
  Lookup(hLibrary, &slot, L"" #name, L"  *Failed to load " #name ": %i")

// Every guarded operation takes the same three steps: its fallback, silently,
// while no library is loaded; the entry point when the library has it; else
// the "not available" message and the fallback.
template <typename Result, typename Proc, typename... Args>
Result Guarded(int32_t ready, Proc proc, Result fallback, LPCWSTR missing, Args... args) {
  if (!ready) return fallback;
  if (proc) return static_cast<Result>(proc(args...));
  NKDbgPrintfW(missing);
  return fallback;
}

template <typename Proc, typename... Args>
void GuardedCall(int32_t ready, Proc proc, LPCWSTR missing, Args... args) {
  if (!ready) return;
  if (proc) {
    proc(args...);
    return;
  }
  NKDbgPrintfW(missing);
}

}  // namespace

SmartIoBinding::SmartIoBinding()
    : hLibrary(nullptr),
      bReady(0),
      pfnSetSSPTimeout(nullptr),
      pfnFirmwareVersion(nullptr),
      pfnReadKeypad(nullptr),
      pfnSetKeyPadSize(nullptr),
      pfnAnalogConversion(nullptr),
      pfnSelectOption(nullptr),
      pfnBackLightVEEPwm(nullptr),
      pfnBackLightPwm(nullptr),
      pfnBackLightON(nullptr),
      pfnBackLightOFF(nullptr),
      pfnReadDeviceVersion(nullptr),
      pfnReadDevicePartType(nullptr),
      pfnWritePortA(nullptr),
      pfnWritePortB(nullptr),
      pfnWritePortC(nullptr),
      pfnWritePortD(nullptr),
      pfnInitDDRA(nullptr),
      pfnInitDDRB(nullptr),
      pfnInitDDRC(nullptr),
      pfnInitDDRD(nullptr),
      pfnReadPortA(nullptr),
      pfnReadPortB(nullptr),
      pfnReadPortC(nullptr),
      pfnReadPortD(nullptr),
      pfnReadEEPROM(nullptr) {
  NKDbgPrintfW(L"\r\nLoading SMARTIO.DLL...\r\n");
  hLibrary = LoadLibraryW(L"SMARTIO.dll");
  if (hLibrary != nullptr) {
    NKDbgPrintfW(L"\r\nSMARTIO.DLL Loaded successfully...");
  } else {
    // The library goes by a second file name on some images.
    NKDbgPrintfW(L"\r\nCan't find SMARTIO.DLL\r\n");
    NKDbgPrintfW(L"\r\nLoading KEYBDDR.DLL...\r\n");
    hLibrary = LoadLibraryW(L"KEYBDDR.dll");
    if (hLibrary == nullptr) {
      NKDbgPrintfW(L"\r\nFailed to load ADSmartIO library!\r\n");
      return;
    }
    NKDbgPrintfW(L"\r\nKEYBDDR.DLL Loaded successfully...\r\n");
  }

  NKDbgPrintfW(L"Loading ADSmartIO functions\r\n");
  LOOKUP(pfnSelectOption, SIOSelectOption);
  LOOKUP(pfnInitDDRA, SIOInitDDRA);
  LOOKUP(pfnInitDDRB, SIOInitDDRB);
  LOOKUP(pfnInitDDRC, SIOInitDDRC);
  LOOKUP(pfnInitDDRD, SIOInitDDRD);
  LOOKUP(pfnReadPortA, SIOReadPortA);
  LOOKUP(pfnReadPortB, SIOReadPortB);
  LOOKUP(pfnReadPortC, SIOReadPortC);
  LOOKUP(pfnReadPortD, SIOReadPortD);
  LOOKUP(pfnWritePortA, SIOWritePortA);
  LOOKUP(pfnWritePortB, SIOWritePortB);
  LOOKUP(pfnWritePortC, SIOWritePortC);
  LOOKUP(pfnWritePortD, SIOWritePortD);
  LOOKUP(pfnBackLightON, SIOBackLightON);
  LOOKUP(pfnBackLightOFF, SIOBackLightOFF);
  LOOKUP(pfnBackLightPwm, SIOBackLightPwm);
  LOOKUP(pfnReadKeypad, SIOReadKeypad);
  LOOKUP(pfnBackLightVEEPwm, SIOBackLightVEEPwm);
  LOOKUP(pfnSetKeyPadSize, SIOSetKeyPadSize);
  LOOKUP(pfnAnalogConversion, SIOAnalogConversion);
  LOOKUP(pfnFirmwareVersion, SIOFirmwareVersion);
  LOOKUP(pfnReadDeviceVersion, SIOReadDeviceVersion);
  LOOKUP(pfnReadDevicePartType, SIOReadDevicePartType);
  // A partial library is still worth having: its missing operations fall back.
  NKDbgPrintfW(L".");
  NKDbgPrintfW(L"  ok\r\n");
  bReady = 1;
}

#undef LOOKUP

SmartIoBinding::~SmartIoBinding() {
  if (hLibrary != nullptr) FreeLibrary(hLibrary);
}

uint32_t SmartIoBinding::AnalogConversion(uint8_t channel) {
  return Guarded(bReady, pfnAnalogConversion, uint32_t{0xFFFF},
                 L"SIOAnalogConversion function not available\r\n", channel);
}

uint32_t SmartIoBinding::FirmwareVersion() {
  return Guarded(bReady, pfnFirmwareVersion, uint32_t{0xFFFF},
                 L"SIOFirmwareVersion function not available\r\n");
}

void SmartIoBinding::InitDDRA(uint8_t directions) {
  GuardedCall(bReady, pfnInitDDRA, L"SIOInitDDRA function not available\r\n", directions);
}

void SmartIoBinding::InitDDRB(uint8_t directions) {
  GuardedCall(bReady, pfnInitDDRB, L"SIOInitDDRB function not available\r\n", directions);
}

void SmartIoBinding::InitDDRC(uint8_t directions) {
  GuardedCall(bReady, pfnInitDDRC, L"SIOInitDDRC function not available\r\n", directions);
}

void SmartIoBinding::InitDDRD(uint8_t directions) {
  GuardedCall(bReady, pfnInitDDRD, L"SIOInitDDRD function not available\r\n", directions);
}

uint32_t SmartIoBinding::ReadDevicePartType() {
  return Guarded(bReady, pfnReadDevicePartType, uint32_t{0xFFFF},
                 L"SIOReadDevicePartType function not available\r\n");
}

uint32_t SmartIoBinding::ReadEEPROM(uint8_t address, uint32_t value) {
  return Guarded(bReady, pfnReadEEPROM, uint32_t{0xFFFF},
                 L"SIOReadEEPROM function not available\r\n", address, value);
}

// The keypad and the ports are the low 8 bits of what the entry point returns.
uint8_t SmartIoBinding::ReadKeypad() {
  return Guarded(bReady, pfnReadKeypad, uint8_t{0xFF}, L"SIOReadKeypad function not available\r\n");
}

uint8_t SmartIoBinding::ReadPortA() {
  return Guarded(bReady, pfnReadPortA, uint8_t{0xFF}, L"SIOReadPortA function not available\r\n");
}

uint8_t SmartIoBinding::ReadPortB() {
  return Guarded(bReady, pfnReadPortB, uint8_t{0xFF}, L"SIOReadPortB function not available\r\n");
}

uint8_t SmartIoBinding::ReadPortC() {
  return Guarded(bReady, pfnReadPortC, uint8_t{0xFF}, L"SIOReadPortC function not available\r\n");
}

uint8_t SmartIoBinding::ReadPortD() {
  return Guarded(bReady, pfnReadPortD, uint8_t{0xFF}, L"SIOReadPortD function not available\r\n");
}

void SmartIoBinding::SelectOption(uint8_t option) {
  GuardedCall(bReady, pfnSelectOption, L"SIOSelectOption function not available\r\n", option);
}

void SmartIoBinding::BackLightPwm(uint8_t level) {
  GuardedCall(bReady, pfnBackLightPwm, L"SIOBackLightPwm function not available\r\n", level);
}

// Unlike the entry points, these two messages spell "Backlight"; they stay as
// the board prints them. The slot of the other direction is not consulted.
void SmartIoBinding::SetBackLight(int32_t on) {
  if (on) {
    GuardedCall(bReady, pfnBackLightON, L"SIOBacklightON function not available\r\n");
  } else {
    GuardedCall(bReady, pfnBackLightOFF, L"SIOBacklightOFF function not available\r\n");
  }
}

void SmartIoBinding::BackLightVEEPwm(uint8_t level) {
  GuardedCall(bReady, pfnBackLightVEEPwm, L"SIOBackLightVEEPwm function not available\r\n",
              level);
}

uint32_t SmartIoBinding::SetKeyPadSize(uint8_t first, uint8_t second) {
  return Guarded(bReady, pfnSetKeyPadSize, uint32_t{0},
                 L"SIOSetKeyPadSize function not available\r\n", first, second);
}

uint32_t SmartIoBinding::SetSSPTimeout(uint32_t timeout) {
  return Guarded(bReady, pfnSetSSPTimeout, uint32_t{0},
                 L"SIOSetSSPTimeout function not available\r\n", timeout);
}
