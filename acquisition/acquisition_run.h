// The program's entry: one acquisition run from start-up to shutdown.
#pragma once

#include "platform/kernel.h"

// Prints the banner, reads the configuration, maps and programs SSP3, reads
// filesPerUsbWrite x recordsPerFile records, writes the last record of each
// file iteration when sleepSeconds > 0, releases the windows. Returns 0.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                   int showCommand);
