#include "hardware/pxa27x_clock_regs.h"
#include "hardware/pxa27x_gpio_regs.h"
#include "hardware/pxa27x_ssp_regs.h"
#include "hardware/register_windows.h"
#include "hardware/ssp3.h"
#include "platform/kernel.h"

void MapSspRegisters() {
  GpioRegPtr = MapPhysicalAddr(kGpioPhys, kGpioWindowSize);
  if (GpioRegPtr == NULL) NKDbgPrintfW(L" Error 'cause GpioRegPtr == NULL \r\n");
  SspRegPtr = MapPhysicalAddr(kSsp3Phys, kSspWindowSize);
  if (SspRegPtr == NULL) NKDbgPrintfW(L" Error 'cause SspRegPtr == NULL \r\n");
  // Mapped so the run owns the clock manager like the other two blocks;
  // nothing is read or written through it.
  v_pClkRegs = MapPhysicalAddr(kClockManagerPhys, 12);
  if (v_pClkRegs == NULL) NKDbgPrintfW(L" Error 'cause v_pClkRegs == NULL \r\n");

  NKDbgPrintfW(L" InitNSSP: + \r\n");
  NKDbgPrintfW(L"Initial Register values before InitNSP \r\n");
  // The GPIO lines carry the "SspRegPtr->" label too; tools that read the
  // console key on these texts.
  if (GpioRegPtr != NULL) {
    NKDbgPrintfW(L" SspRegPtr->GAFR2_U= 0x%x \r\n", RegRead(GpioRegPtr, GAFR2_U));
    NKDbgPrintfW(L" SspRegPtr->GPDR_2= 0x%x \r\n", RegRead(GpioRegPtr, GPDR2));
  } else {
    NKDbgPrintfW(L" GAFR2_U and GPDR_2 not read: no GPIO register window \r\n");
  }
  if (SspRegPtr != NULL) {
    NKDbgPrintfW(L" SspRegPtr->SSCR0= 0x%x \r\n", RegRead(SspRegPtr, SSCR0));
    NKDbgPrintfW(L" SspRegPtr->SSCR1= 0x%x \r\n", RegRead(SspRegPtr, SSCR1));
    NKDbgPrintfW(L" SspRegPtr->SSPSP= 0x%x \r\n", RegRead(SspRegPtr, SSPSP));
  } else {
    NKDbgPrintfW(L" SSCR0, SSCR1 and SSPSP not read: no SSP3 register window \r\n");
  }
}

namespace {

// GPIO 81..84 to alternate function 1 (SSP3), one pin at a time.
void SelectSsp3PinFunctions(RegisterWindow gpio) {
  for (unsigned pin = kSsp3PinFirst; pin <= kSsp3PinLast; ++pin) {
    RegClear(gpio, GAFR2_U, GafrMask(pin));
    RegSet(gpio, GAFR2_U, GafrFunction(pin, 1));
  }
  NKDbgPrintfW(L"GAFR2_U = 0x%8x \r\n", RegRead(gpio, GAFR2_U));
}

// 24-bit PSP words, serial clock = internal clock / 4; SSE stays clear here.
void ProgramSsp3(RegisterWindow ssp) {
  RegWrite(ssp, SSCR0, 0);
  RegSet(ssp, SSCR0, SSCR0_FRF_PSP);
  RegSet(ssp, SSCR0, SSCR0_EDSS);
  RegClear(ssp, SSCR0, SSCR0_SCR);
  RegSet(ssp, SSCR0, SSCR0_SCR_DIV4);
  RegClear(ssp, SSCR0, SSCR0_DSS);
  RegSet(ssp, SSCR0, SSCR0_DSS_24);
  NKDbgPrintfW(L"SSCR0_3 = 0x%8x \r\n", RegRead(ssp, SSCR0));

  // The converter drives the frame; the port drives the serial clock.
  RegWrite(ssp, SSCR1, 0);
  RegSet(ssp, SSCR1, SSCR1_SCFR);
  RegSet(ssp, SSCR1, SSCR1_SFRMDIR);
  RegSet(ssp, SSCR1, SSCR1_TTE);
  NKDbgPrintfW(L"SSCR1_3 = 0x%8x \r\n", RegRead(ssp, SSCR1));

  RegWrite(ssp, SSPSP, 0);
  RegSet(ssp, SSPSP, SSPSP_SFRMWDTH_1);
  NKDbgPrintfW(L"SSPSP_3 = 0x%8x \r\n", RegRead(ssp, SSPSP));

  RegWrite(ssp, SSRSA, 0);
  RegSet(ssp, SSRSA, SSRSA_SLOTS_0_1);
  NKDbgPrintfW(L"SSRSA_3 = 0x%8x \r\n", RegRead(ssp, SSRSA));
}

// 81 (clock) and 84 (transmit) out, 82 (frame) and 83 (receive) in.
void SetSsp3PinDirections(RegisterWindow gpio) {
  RegSet(gpio, GPDR2, GpdrBit(81));
  RegClear(gpio, GPDR2, GpdrBit(82));
  RegClear(gpio, GPDR2, GpdrBit(83));
  RegSet(gpio, GPDR2, GpdrBit(84));
  NKDbgPrintfW(L"GPDR2 = 0x%8x \r\n", RegRead(gpio, GPDR2));
}

// Clears a pending overrun (ROR is write-1-to-clear), then starts the port.
void StartSsp3(RegisterWindow ssp) {
  RegSet(ssp, SSSR, SSSR_ROR);
  NKDbgPrintfW(L"SSSR_3 = 0x%8x \r\n", RegRead(ssp, SSSR));
  RegSet(ssp, SSCR0, SSCR0_SSE);
  NKDbgPrintfW(L"SSCR0_3 = 0x%8x \r\n", RegRead(ssp, SSCR0));
}

}  // namespace

// The port is programmed with its unit clock off, enabled while the clock is
// still off, and clocked last. A window that failed to map skips the steps
// that need it, with a message; the others still run in their order.
void InitNSSP() {
  RegisterWindow ssp = MapRegisterPage(kSsp3Phys);
  RegisterWindow cken = MapRegisterPage(kCkenPhys);
  RegisterWindow gpio = MapRegisterPage(kGpioPhys);

  if (cken != NULL) {
    RegClear(cken, 0, CKEN_SSP3);
  } else {
    NKDbgPrintfW(L"InitNSSP: no CKEN window, SSP3 unit clock not switched \r\n");
  }
  if (gpio != NULL) {
    SelectSsp3PinFunctions(gpio);
  } else {
    NKDbgPrintfW(L"InitNSSP: no GPIO window, GPIO 81 to 84 not set up \r\n");
  }
  if (ssp != NULL) {
    ProgramSsp3(ssp);
  } else {
    NKDbgPrintfW(L"InitNSSP: no SSP3 window, port not programmed \r\n");
  }
  if (gpio != NULL) SetSsp3PinDirections(gpio);
  if (ssp != NULL) StartSsp3(ssp);
  if (cken != NULL) RegSet(cken, 0, CKEN_SSP3);

  UnmapRegisterWindow(ssp);
  UnmapRegisterWindow(cken);
  UnmapRegisterWindow(gpio);
  NKDbgPrintfW(L" InitNSSP: - \r\n");
}
