// The folder a fuzz target writes its inputs into, as a file per run: on a
// memory file system where there is one (/dev/shm), since a disk-backed
// temporary folder makes such a target some fifty times slower; removed
// with all it holds when the target exits.
#pragma once

#include <filesystem>

namespace fuzz {

// Makes a new folder NAME-XXXXXX and has it removed at exit. For
// LLVMFuzzerInitialize: one per process. A folder that cannot be made ends
// the target with perror's line.
std::filesystem::path MakeScratchFolder(const char* name);

}  // namespace fuzz
