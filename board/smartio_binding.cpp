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
  if (!bReady) return 0xFFFF;
  if (pfnAnalogConversion) return pfnAnalogConversion(channel);
  NKDbgPrintfW(L"SIOAnalogConversion function not available\r\n");
  return 0xFFFF;
}

uint32_t SmartIoBinding::FirmwareVersion() {
  if (!bReady) return 0xFFFF;
  if (pfnFirmwareVersion) return pfnFirmwareVersion();
  NKDbgPrintfW(L"SIOFirmwareVersion function not available\r\n");
  return 0xFFFF;
}

void SmartIoBinding::InitDDRA(uint8_t directions) {
  if (!bReady) return;
  if (pfnInitDDRA) {
    pfnInitDDRA(directions);
    return;
  }
  NKDbgPrintfW(L"SIOInitDDRA function not available\r\n");
}

void SmartIoBinding::InitDDRB(uint8_t directions) {
  if (!bReady) return;
  if (pfnInitDDRB) {
    pfnInitDDRB(directions);
    return;
  }
  NKDbgPrintfW(L"SIOInitDDRB function not available\r\n");
}

void SmartIoBinding::InitDDRC(uint8_t directions) {
  if (!bReady) return;
  if (pfnInitDDRC) {
    pfnInitDDRC(directions);
    return;
  }
  NKDbgPrintfW(L"SIOInitDDRC function not available\r\n");
}

void SmartIoBinding::InitDDRD(uint8_t directions) {
  if (!bReady) return;
  if (pfnInitDDRD) {
    pfnInitDDRD(directions);
    return;
  }
  NKDbgPrintfW(L"SIOInitDDRD function not available\r\n");
}

uint32_t SmartIoBinding::ReadDevicePartType() {
  if (!bReady) return 0xFFFF;
  if (pfnReadDevicePartType) return pfnReadDevicePartType();
  NKDbgPrintfW(L"SIOReadDevicePartType function not available\r\n");
  return 0xFFFF;
}

uint32_t SmartIoBinding::ReadEEPROM(uint8_t address, uint32_t value) {
  if (!bReady) return 0xFFFF;
  if (pfnReadEEPROM) return pfnReadEEPROM(address, value);
  NKDbgPrintfW(L"SIOReadEEPROM function not available\r\n");
  return 0xFFFF;
}

uint8_t SmartIoBinding::ReadKeypad() {
  if (!bReady) return 0xFF;
  if (pfnReadKeypad) return static_cast<uint8_t>(pfnReadKeypad() & 0xFF);
  NKDbgPrintfW(L"SIOReadKeypad function not available\r\n");
  return 0xFF;
}

// The controller reports more than the port in a read; only the low byte is the port.
uint8_t SmartIoBinding::ReadPortA() {
  if (!bReady) return 0xFF;
  if (pfnReadPortA) return static_cast<uint8_t>(pfnReadPortA() & 0xFF);
  NKDbgPrintfW(L"SIOReadPortA function not available\r\n");
  return 0xFF;
}

uint8_t SmartIoBinding::ReadPortB() {
  if (!bReady) return 0xFF;
  if (pfnReadPortB) return static_cast<uint8_t>(pfnReadPortB() & 0xFF);
  NKDbgPrintfW(L"SIOReadPortB function not available\r\n");
  return 0xFF;
}

uint8_t SmartIoBinding::ReadPortC() {
  if (!bReady) return 0xFF;
  if (pfnReadPortC) return static_cast<uint8_t>(pfnReadPortC() & 0xFF);
  NKDbgPrintfW(L"SIOReadPortC function not available\r\n");
  return 0xFF;
}

uint8_t SmartIoBinding::ReadPortD() {
  if (!bReady) return 0xFF;
  if (pfnReadPortD) return static_cast<uint8_t>(pfnReadPortD() & 0xFF);
  NKDbgPrintfW(L"SIOReadPortD function not available\r\n");
  return 0xFF;
}

void SmartIoBinding::SelectOption(uint8_t option) {
  if (!bReady) return;
  if (pfnSelectOption) {
    pfnSelectOption(option);
    return;
  }
  NKDbgPrintfW(L"SIOSelectOption function not available\r\n");
}

void SmartIoBinding::BackLightPwm(uint8_t level) {
  if (!bReady) return;
  if (pfnBackLightPwm) {
    pfnBackLightPwm(level);
    return;
  }
  NKDbgPrintfW(L"SIOBackLightPwm function not available\r\n");
}

// Unlike the entry points, these two messages spell "Backlight"; they stay as the board prints them.
void SmartIoBinding::SetBackLight(int32_t on) {
  if (!bReady) return;
  if (on) {
    if (pfnBackLightON) {
      pfnBackLightON();
      return;
    }
    NKDbgPrintfW(L"SIOBacklightON function not available\r\n");
  } else {
    if (pfnBackLightOFF) {
      pfnBackLightOFF();
      return;
    }
    NKDbgPrintfW(L"SIOBacklightOFF function not available\r\n");
  }
}

void SmartIoBinding::BackLightVEEPwm(uint8_t level) {
  if (!bReady) return;
  if (pfnBackLightVEEPwm) {
    pfnBackLightVEEPwm(level);
    return;
  }
  NKDbgPrintfW(L"SIOBackLightVEEPwm function not available\r\n");
}

uint32_t SmartIoBinding::SetKeyPadSize(uint8_t first, uint8_t second) {
  if (!bReady) return 0;
  if (pfnSetKeyPadSize) return pfnSetKeyPadSize(first, second);
  NKDbgPrintfW(L"SIOSetKeyPadSize function not available\r\n");
  return 0;
}

uint32_t SmartIoBinding::SetSSPTimeout(uint32_t timeout) {
  if (!bReady) return 0;
  if (pfnSetSSPTimeout) return pfnSetSSPTimeout(timeout);
  NKDbgPrintfW(L"SIOSetSSPTimeout function not available\r\n");
  return 0;
}
