#include "fuzz/scratch_folder.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace fuzz {
namespace {

fs::path& Folder() {
  static fs::path folder;
  return folder;
}

void RemoveFolder() {
  std::error_code ignored;
  fs::remove_all(Folder(), ignored);
}

}  // namespace

fs::path MakeScratchFolder(const char* name) {
  std::error_code noShm;
  const fs::path base =
      fs::is_directory("/dev/shm", noShm) ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / (std::string(name) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  Folder() = pattern;
  std::atexit(RemoveFolder);
  return Folder();
}

}  // namespace fuzz
