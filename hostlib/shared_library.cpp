#include "hostlib/shared_library.h"

namespace hostlib {

void* OpenSharedLibrary(const char* soname, std::string* why) {
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* error = dlerror();
    *why = error ? error : std::string("cannot open ") + soname;
  }
  return library;
}

}  // namespace hostlib
