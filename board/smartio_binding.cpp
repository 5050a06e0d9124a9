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
  if (address == NULL) NKDbgPrintfW(failure, static_cast<int>(GetLastError()));
}

// L ## "text" is the one spelling of a wide literal from a stringized name
// that C++03 defines; a wide literal next to a narrow one is not.
#define WIDE_TEXT(text) WIDE_TEXT_(text)
#define WIDE_TEXT_(text) L##text
#define LOOKUP(slot, name) \
  Lookup(hLibrary, &slot, WIDE_TEXT(#name), L"  *Failed to load " WIDE_TEXT(#name) L": %i")

// Every guarded operation takes the same three steps: its fallback, silently,
// while no library is loaded; the entry point when the library has it; else
// the "not available" message and the fallback. True means call the entry
// point.
bool EntryPointUsable(int32_t ready, bool present, LPCWSTR missing) {
  if (!ready) return false;
  if (present) return true;
  NKDbgPrintfW(missing);
  return false;
}

}  // namespace

SmartIoBinding::SmartIoBinding()
    : hLibrary(NULL),
      bReady(0),
      pfnSetSSPTimeout(NULL),
      pfnFirmwareVersion(NULL),
      pfnReadKeypad(NULL),
      pfnSetKeyPadSize(NULL),
      pfnAnalogConversion(NULL),
      pfnSelectOption(NULL),
      pfnBackLightVEEPwm(NULL),
      pfnBackLightPwm(NULL),
      pfnBackLightON(NULL),
      pfnBackLightOFF(NULL),
      pfnReadDeviceVersion(NULL),
      pfnReadDevicePartType(NULL),
      pfnWritePortA(NULL),
      pfnWritePortB(NULL),
      pfnWritePortC(NULL),
      pfnWritePortD(NULL),
      pfnInitDDRA(NULL),
      pfnInitDDRB(NULL),
      pfnInitDDRC(NULL),
      pfnInitDDRD(NULL),
      pfnReadPortA(NULL),
      pfnReadPortB(NULL),
      pfnReadPortC(NULL),
      pfnReadPortD(NULL),
      pfnReadEEPROM(NULL) {
  NKDbgPrintfW(L"\r\nLoading SMARTIO.DLL...\r\n");
  hLibrary = LoadLibraryW(L"SMARTIO.dll");
  if (hLibrary != NULL) {
    NKDbgPrintfW(L"\r\nSMARTIO.DLL Loaded successfully...");
  } else {
    // The library goes by a second file name on some images.
    NKDbgPrintfW(L"\r\nCan't find SMARTIO.DLL\r\n");
    NKDbgPrintfW(L"\r\nLoading KEYBDDR.DLL...\r\n");
    hLibrary = LoadLibraryW(L"KEYBDDR.dll");
    if (hLibrary == NULL) {
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
#undef WIDE_TEXT_
#undef WIDE_TEXT

SmartIoBinding::~SmartIoBinding() {
  if (hLibrary != NULL) FreeLibrary(hLibrary);
}

uint32_t SmartIoBinding::AnalogConversion(uint8_t channel) {
  if (!EntryPointUsable(bReady, pfnAnalogConversion != NULL,
                        L"SIOAnalogConversion function not available\r\n"))
    return 0xFFFF;
  return pfnAnalogConversion(channel);
}

uint32_t SmartIoBinding::FirmwareVersion() {
  if (!EntryPointUsable(bReady, pfnFirmwareVersion != NULL,
                        L"SIOFirmwareVersion function not available\r\n"))
    return 0xFFFF;
  return pfnFirmwareVersion();
}

void SmartIoBinding::InitDDRA(uint8_t directions) {
  if (EntryPointUsable(bReady, pfnInitDDRA != NULL, L"SIOInitDDRA function not available\r\n"))
    pfnInitDDRA(directions);
}

void SmartIoBinding::InitDDRB(uint8_t directions) {
  if (EntryPointUsable(bReady, pfnInitDDRB != NULL, L"SIOInitDDRB function not available\r\n"))
    pfnInitDDRB(directions);
}

void SmartIoBinding::InitDDRC(uint8_t directions) {
  if (EntryPointUsable(bReady, pfnInitDDRC != NULL, L"SIOInitDDRC function not available\r\n"))
    pfnInitDDRC(directions);
}

void SmartIoBinding::InitDDRD(uint8_t directions) {
  if (EntryPointUsable(bReady, pfnInitDDRD != NULL, L"SIOInitDDRD function not available\r\n"))
    pfnInitDDRD(directions);
}

uint32_t SmartIoBinding::ReadDevicePartType() {
  if (!EntryPointUsable(bReady, pfnReadDevicePartType != NULL,
                        L"SIOReadDevicePartType function not available\r\n"))
    return 0xFFFF;
  return pfnReadDevicePartType();
}

uint32_t SmartIoBinding::ReadEEPROM(uint8_t address, uint32_t value) {
  if (!EntryPointUsable(bReady, pfnReadEEPROM != NULL, L"SIOReadEEPROM function not available\r\n"))
    return 0xFFFF;
  return pfnReadEEPROM(address, value);
}

// The keypad and the ports are the low 8 bits of what the entry point returns.
uint8_t SmartIoBinding::ReadKeypad() {
  if (!EntryPointUsable(bReady, pfnReadKeypad != NULL, L"SIOReadKeypad function not available\r\n"))
    return 0xFF;
  return pfnReadKeypad();
}

uint8_t SmartIoBinding::ReadPortA() {
  if (!EntryPointUsable(bReady, pfnReadPortA != NULL, L"SIOReadPortA function not available\r\n"))
    return 0xFF;
  return static_cast<uint8_t>(pfnReadPortA());
}

uint8_t SmartIoBinding::ReadPortB() {
  if (!EntryPointUsable(bReady, pfnReadPortB != NULL, L"SIOReadPortB function not available\r\n"))
    return 0xFF;
  return static_cast<uint8_t>(pfnReadPortB());
}

uint8_t SmartIoBinding::ReadPortC() {
  if (!EntryPointUsable(bReady, pfnReadPortC != NULL, L"SIOReadPortC function not available\r\n"))
    return 0xFF;
  return static_cast<uint8_t>(pfnReadPortC());
}

uint8_t SmartIoBinding::ReadPortD() {
  if (!EntryPointUsable(bReady, pfnReadPortD != NULL, L"SIOReadPortD function not available\r\n"))
    return 0xFF;
  return static_cast<uint8_t>(pfnReadPortD());
}

void SmartIoBinding::SelectOption(uint8_t option) {
  if (EntryPointUsable(bReady, pfnSelectOption != NULL,
                       L"SIOSelectOption function not available\r\n"))
    pfnSelectOption(option);
}

void SmartIoBinding::BackLightPwm(uint8_t level) {
  if (EntryPointUsable(bReady, pfnBackLightPwm != NULL,
                       L"SIOBackLightPwm function not available\r\n"))
    pfnBackLightPwm(level);
}

// Unlike the entry points, these two messages spell "Backlight"; they stay as
// the board prints them. The slot of the other direction is not consulted.
void SmartIoBinding::SetBackLight(int32_t on) {
  if (on) {
    if (EntryPointUsable(bReady, pfnBackLightON != NULL,
                         L"SIOBacklightON function not available\r\n"))
      pfnBackLightON();
  } else {
    if (EntryPointUsable(bReady, pfnBackLightOFF != NULL,
                         L"SIOBacklightOFF function not available\r\n"))
      pfnBackLightOFF();
  }
}

void SmartIoBinding::BackLightVEEPwm(uint8_t level) {
  if (EntryPointUsable(bReady, pfnBackLightVEEPwm != NULL,
                       L"SIOBackLightVEEPwm function not available\r\n"))
    pfnBackLightVEEPwm(level);
}

uint32_t SmartIoBinding::SetKeyPadSize(uint8_t first, uint8_t second) {
  if (!EntryPointUsable(bReady, pfnSetKeyPadSize != NULL,
                        L"SIOSetKeyPadSize function not available\r\n"))
    return 0;
  return pfnSetKeyPadSize(first, second);
}

uint32_t SmartIoBinding::SetSSPTimeout(uint32_t timeout) {
  if (!EntryPointUsable(bReady, pfnSetSSPTimeout != NULL,
                        L"SIOSetSSPTimeout function not available\r\n"))
    return 0;
  return pfnSetSSPTimeout(timeout);
}
