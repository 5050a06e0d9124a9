// The board's side of platform/device.h: the file system and clock are the
// kernel's own, so the calls pass straight through. Built only with the
// Windows CE toolchain (UNDER_CE); the kernel calls of platform/kernel.h and
// the register accessors need no code here.
#include "platform/device.h"

FILE* OpenDeviceFile(const char* devicePath, const char* mode) { return fopen(devicePath, mode); }

time_t DeviceTime() { return time(NULL); }
