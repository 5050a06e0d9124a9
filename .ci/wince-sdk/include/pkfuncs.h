// Stand-in for the CE 5.0 SDK's <pkfuncs.h>: declarations only, the two
// kernel calls the program uses.
#pragma once

#include <windows.h>

extern "C" {
// With PAGE_PHYSICAL, lpvSrc is the physical address shifted right by 8 bits.
BOOL VirtualCopy(LPVOID lpvDest, LPVOID lpvSrc, DWORD cbSize, DWORD fdwProtect);
void NKDbgPrintfW(LPCWSTR lpszFmt, ...);
}
