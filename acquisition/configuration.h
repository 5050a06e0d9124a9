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

// How the reader took one line piece: a line of at most 79 characters, or
// each 79-character piece of a longer one. For a host tool that checks a file
// before it goes onto the board; the run observes nothing.
struct ConfigurationPiece {
  int32_t number;     // from 1, in file order
  const char* text;   // the piece as read, its line end included
  const char* key;    // the key piece; NULL when the piece has none
  int32_t keyIndex;   // the known key it equals, in field order; -1 for none
  const char* value;  // the value piece; NULL when there is none
  int32_t stored;     // the number stored, when a value was taken
};

typedef void (*ConfigurationObserver)(const ConfigurationPiece* piece, void* context);

// Every piece ReadConfiguration takes goes to `observer` after it is applied;
// NULL (the default) observes nothing.
void ObserveConfiguration(ConfigurationObserver observer, void* context);

// The known keys in field order; NULL after the last.
const char* ConfigurationKey(int32_t index);
