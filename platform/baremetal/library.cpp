// The calling thread's last error, and the vendor library's loader: no DLL
// can be loaded here, so the vendor library is absent, as on a board
// without it.
#include "platform/baremetal/baremetal.h"
#include "platform/kernel.h"

namespace {
DWORD lastError = 0;
}

void SetKernelError(DWORD error) { lastError = error; }
DWORD GetLastError() { return lastError; }

HMODULE LoadLibraryW(LPCWSTR) {
  lastError = ERROR_MOD_NOT_FOUND;
  return NULL;
}
FARPROC GetProcAddressW(HMODULE, LPCWSTR) {
  lastError = ERROR_PROC_NOT_FOUND;
  return NULL;
}
BOOL FreeLibrary(HMODULE) { return FALSE; }
