// The board's side of platform/device.h: the file system is the kernel's
// own, so the call passes straight through. Built only with the
// Windows CE toolchain (UNDER_CE); the kernel calls of platform/kernel.h and
// the register accessors need no code here.
#include "platform/device.h"

#include <windows.h>

#ifndef INVALID_SET_FILE_POINTER
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#endif

FILE* OpenDeviceFile(const char* devicePath, const char* mode) { return fopen(devicePath, mode); }

// The C runtime has no truncation; the file API does. Device paths are ASCII.
bool TruncateDeviceFile(const char* devicePath, long size) {
  wchar_t path[MAX_PATH];
  int i = 0;
  for (; devicePath[i] != '\0' && i < MAX_PATH - 1; ++i)
    path[i] = static_cast<wchar_t>(static_cast<unsigned char>(devicePath[i]));
  if (devicePath[i] != '\0' || size < 0) return false;
  path[i] = L'\0';
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool cut = SetFilePointer(file, size, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                   SetEndOfFile(file);
  return CloseHandle(file) != FALSE && cut;
}
