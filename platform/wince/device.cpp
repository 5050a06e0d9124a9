// The board's side of platform/device.h: the file system is the kernel's
// own, so the call passes straight through. Built only with the
// Windows CE toolchain (UNDER_CE); the kernel calls of platform/kernel.h and
// the register accessors need no code here.
#include "platform/device.h"

FILE* OpenDeviceFile(const char* devicePath, const char* mode) { return fopen(devicePath, mode); }
