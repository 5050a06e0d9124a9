// Data files: each write appends one record of raw little-endian 32-bit
// sample words, no header, to a file named from the local time of the write
// ("<year-1900>-<day of year>-<hour>-<minute>-<second>") in a data directory
// that must already exist.
#pragma once

#include "platform/types.h"

// Selects the data directory; only StorageCard selects the storage card.
typedef int DataDestination;
enum { HardDisk = 0, StorageCard = 1 };

static const int kDataPathBuffer = 80;

// Writes the full path of a data file for the current local time into `path`
// (room for kDataPathBuffer characters with the terminator).
void MakeDataFileName(char* path, DataDestination destination);

// Append `count` words to the data file for now on the hard disk (or the
// storage card) and return the number of words that reached the file.
int32_t WriteRecord(const uint32_t* record, int32_t count);
int32_t WriteRecordToStorageCard(const uint32_t* record, int32_t count);
