// A deliberate fault for the bare-metal image: SSP3's window binds one page
// (24 bytes asked for), SSCR0 is read through it, then a register one page
// further on. The second access must stop the run with a data abort at that
// address; the line after it is never printed.
#include "hardware/pxa27x_ssp_regs.h"
#include "hardware/register_windows.h"
#include "platform/baremetal/baremetal.h"
#include "platform/kernel.h"

int RunImage() {
  RegisterWindow ssp = MapPhysicalAddr(kSsp3Phys, 24);
  if (ssp == NULL) return 1;
  NKDbgPrintfW(L"window 0x%x SSCR0 0x%x\r\n",
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(ssp)),
               static_cast<unsigned>(RegRead(ssp, SSCR0)));
  NKDbgPrintfW(L"beyond 0x%x\r\n", static_cast<unsigned>(RegRead(ssp, 0x1000 + SSCR0)));
  return 0;
}
