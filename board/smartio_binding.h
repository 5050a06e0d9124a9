// The binding to the board vendor's I/O library ("ADSmartIO"): SMARTIO.DLL,
// or KEYBDDR.DLL when that cannot be loaded. Every operation is guarded: with
// no library it returns its fallback silently; with a library that lacks the
// entry point it says so and returns the same fallback. Create with new,
// destroy with delete.
#pragma once

#include "platform/kernel.h"
#include "platform/types.h"

// The vendor's entry points, in the shapes the binding hands over to them.
typedef void (*PFN_SIOSelectOption)(uint8_t option);
typedef void (*PFN_SIOInitDDR)(uint8_t directions);
typedef uint32_t (*PFN_SIOReadPort)();  // the port is the low 8 bits
typedef void (*PFN_SIOWritePort)(uint8_t value);
typedef uint8_t (*PFN_SIOReadKeypad)();
typedef void (*PFN_SIOBackLight)();
typedef void (*PFN_SIOBackLightLevel)(uint8_t level);
typedef uint32_t (*PFN_SIOSetKeyPadSize)(uint8_t first, uint8_t second);
typedef uint32_t (*PFN_SIOAnalogConversion)(uint8_t channel);
typedef uint32_t (*PFN_SIOReadWord)();  // firmware, device version, part type
typedef uint32_t (*PFN_SIOReadEEPROM)(uint8_t address, uint32_t value);
typedef uint32_t (*PFN_SIOSetSSPTimeout)(uint32_t timeout);

class SmartIoBinding {
 public:
  SmartIoBinding();
  ~SmartIoBinding();

  uint32_t AnalogConversion(uint8_t channel);
  uint32_t FirmwareVersion();
  void InitDDRA(uint8_t directions);
  void InitDDRB(uint8_t directions);
  void InitDDRC(uint8_t directions);
  void InitDDRD(uint8_t directions);
  uint32_t ReadDevicePartType();
  uint32_t ReadEEPROM(uint8_t address, uint32_t value);
  uint8_t ReadKeypad();
  uint8_t ReadPortA();
  uint8_t ReadPortB();
  uint8_t ReadPortC();
  uint8_t ReadPortD();
  void SelectOption(uint8_t option);
  void BackLightPwm(uint8_t level);
  void SetBackLight(int32_t on);
  void BackLightVEEPwm(uint8_t level);
  uint32_t SetKeyPadSize(uint8_t first, uint8_t second);
  uint32_t SetSSPTimeout(uint32_t timeout);

  // Plain record: the fields are the binding's whole state, in this order.
  HMODULE hLibrary;
  int32_t bReady;                         // a library is loaded and its look-up has run
  PFN_SIOSetSSPTimeout pfnSetSSPTimeout;  // never looked up
  PFN_SIOReadWord pfnFirmwareVersion;
  PFN_SIOReadKeypad pfnReadKeypad;
  PFN_SIOSetKeyPadSize pfnSetKeyPadSize;
  PFN_SIOAnalogConversion pfnAnalogConversion;
  PFN_SIOSelectOption pfnSelectOption;
  PFN_SIOBackLightLevel pfnBackLightVEEPwm;
  PFN_SIOBackLightLevel pfnBackLightPwm;
  PFN_SIOBackLight pfnBackLightON;
  PFN_SIOBackLight pfnBackLightOFF;
  PFN_SIOReadWord pfnReadDeviceVersion;
  PFN_SIOReadWord pfnReadDevicePartType;
  PFN_SIOWritePort pfnWritePortA;
  PFN_SIOWritePort pfnWritePortB;
  PFN_SIOWritePort pfnWritePortC;
  PFN_SIOWritePort pfnWritePortD;
  PFN_SIOInitDDR pfnInitDDRA;
  PFN_SIOInitDDR pfnInitDDRB;
  PFN_SIOInitDDR pfnInitDDRC;
  PFN_SIOInitDDR pfnInitDDRD;
  PFN_SIOReadPort pfnReadPortA;
  PFN_SIOReadPort pfnReadPortB;
  PFN_SIOReadPort pfnReadPortC;
  PFN_SIOReadPort pfnReadPortD;
  PFN_SIOReadEEPROM pfnReadEEPROM;  // never looked up

 private:
  // One binding owns one library handle: not copied, so never freed twice.
  SmartIoBinding(const SmartIoBinding&);
  SmartIoBinding& operator=(const SmartIoBinding&);
};
