// LoadLibraryW, GetProcAddressW, FreeLibrary and GetLastError over the host's
// dynamic loader.

#include "platform/host/loader.h"

#include <dirent.h>
#include <dlfcn.h>
#include <strings.h>

#include <algorithm>
#include <vector>

#include "platform/kernel.h"

namespace {

// Not among the codes the system names, but what the kernel reports for a
// null handle and for a file that is no loadable image.
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorBadExeFormat = 193;

std::string libraryDirectory;
DWORD lastError = 0;

// Library and entry-point names are plain ASCII on the board.
std::string Narrow(LPCWSTR wide) {
  std::string s;
  if (wide == nullptr) return s;
  for (; *wide; ++wide) s.push_back(*wide > 0 && *wide < 0x80 ? static_cast<char>(*wide) : '?');
  return s;
}

// The file LoadLibraryW would open for `name` ("SMARTIO.dll"), or an empty
// string when the folder holds no such file.
std::string FindLibraryFile(const std::string& name) {
  // A path in the name would reach past the one folder the board searches.
  if (libraryDirectory.empty() || name.empty() || name.find_first_of("/\\") != std::string::npos) {
    return std::string();
  }
  DIR* dir = opendir(libraryDirectory.c_str());
  if (dir == nullptr) return std::string();
  std::vector<std::string> matches;
  while (dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) matches.push_back(entry->d_name);
  }
  closedir(dir);
  if (matches.empty()) return std::string();
  // Names that differ only in case cannot both exist on the board; prefer the
  // exact one, else the first in order, so the choice does not depend on readdir.
  std::sort(matches.begin(), matches.end());
  const auto exact = std::find(matches.begin(), matches.end(), name);
  return libraryDirectory + "/" + (exact != matches.end() ? *exact : matches.front());
}

}  // namespace

namespace host {

void SetLibraryDirectory(const std::string& directory) { libraryDirectory = directory; }
const std::string& LibraryDirectory() { return libraryDirectory; }

}  // namespace host

HMODULE LoadLibraryW(LPCWSTR fileName) {
  const std::string path = FindLibraryFile(Narrow(fileName));
  if (path.empty()) {
    lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    lastError = kErrorBadExeFormat;
    return nullptr;
  }
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
  if (module == nullptr) {
    lastError = kErrorInvalidHandle;
    return nullptr;
  }
  void* symbol = dlsym(static_cast<void*>(module), Narrow(procName).c_str());
  if (symbol == nullptr) {
    lastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr || dlclose(static_cast<void*>(module)) != 0) {
    lastError = kErrorInvalidHandle;
    return FALSE;
  }
  return TRUE;
}

DWORD GetLastError() { return lastError; }
