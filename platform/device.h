// The board's storage volumes, as the program sees them.
//
// Paths are the board's own ("\Hard Disk\Pelmok\Data\..."). On the board they
// go to the file system unchanged; on the host each volume is a folder under
// the simulated device's root.
#pragma once

#include <cstdio>

FILE* OpenDeviceFile(const char* devicePath, const char* mode);

// Cuts the file back to `size` bytes. False if it cannot.
bool TruncateDeviceFile(const char* devicePath, long size);
