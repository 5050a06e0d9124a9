// The run's parameters and the reader of the configuration file
// "\FlashFX Disk\Pelmok\PelmokConfig.txt": lines of key, ':' and a decimal
// integer, six known keys, anything else ignored.
#pragma once

#include "platform/types.h"

struct AcquisitionConfig {
  int32_t sampleRate;        // echoed only
  int32_t samplesPerRecord;  // words per record
  int32_t hydrophoneCount;   // echoed only
  int32_t recordsPerFile;    // records read per file iteration
  int32_t filesPerUsbWrite;  // file iterations
  int32_t sleepSeconds;      // write switch: above 0 writes; nothing ever sleeps
};

// Sets the fields of the keys found in the file, echoing each on the debug
// console; other fields keep their values. Returns true.
bool ReadConfiguration(AcquisitionConfig& config);
