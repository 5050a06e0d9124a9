// Kernel calls the program makes whose prototypes a CE 5.0 application SDK
// does not ship: they live in Platform Builder's <pkfuncs.h>, which an
// application build does not have. COREDLL exports them all the same.
#pragma once

#include <windows.h>

extern "C" {
// VirtualCopy (Windows CE 5.0 reference, "VirtualCopy"; Pkfuncs.h,
// Coredll.lib). With PAGE_PHYSICAL, lpvSrc is the physical address shifted
// right by 8 bits.
BOOL VirtualCopy(LPVOID lpvDest, LPVOID lpvSrc, DWORD cbSize, DWORD fdwProtect);
}
