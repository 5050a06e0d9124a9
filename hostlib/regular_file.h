// The host files that stand in for the board's (device files, configuration
// files, WAV signals) are regular files only: a FIFO would block the open or
// the read, a device node such as /dev/zero never ends a read, and a folder
// is no file. One check for all of them, made on the descriptor that is then
// read, so a name swapped in between changes nothing.
#pragma once

#include <cstdint>
#include <string>

namespace hostlib {

// open(2) of `path` with `flags` (O_CREAT creates a missing file), never
// blocking on a FIFO and truncating (O_TRUNC) only once the name is known to
// be a regular file. The descriptor is blocking and close-on-exec; -1 with
// errno EISDIR for a folder, ENODEV for anything else that is not a regular
// file, or open's own.
int OpenRegularFile(const std::string& path, int flags);

// "is a folder", "is not a regular file" or strerror's text, for errno `error`
// as OpenRegularFile leaves it.
std::string OpenErrorText(int error);

// The whole of a regular file; false with "PATH: reason" in *error. A file
// of more than `limit` bytes is refused before any of it is read ("PATH: N
// bytes, more than LIMIT"), or once the read passes the limit as it grows.
bool ReadRegularFile(const std::string& path, std::string* content, std::string* error,
                     uint64_t limit = UINT64_MAX);

}  // namespace hostlib
