// The board's storage volumes and clock, as the program sees them.
//
// Paths are the board's own ("\Hard Disk\Pelmok\Data\..."). On the board they
// go to the file system unchanged; on the host each volume is a folder under
// the simulated device's root.
#pragma once

#include <cstdio>
#include <ctime>

FILE* OpenDeviceFile(const char* devicePath, const char* mode);

// Seconds since 1 January 1970 UTC from the device's system clock.
time_t DeviceTime();
