// Stand-in for the CE 5.0 SDK's <dbgapi.h>: declarations only, the debug
// output call the program uses.
#pragma once

#include <windows.h>

extern "C" {
void NKDbgPrintfW(LPCWSTR lpszFmt, ...);
}
