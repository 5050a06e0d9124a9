// Libraries that few commands need (libsndfile with its codecs, libnetcdf with
// HDF5, curl and TLS behind it) are opened by their soname at first use
// rather than linked: binding them at every start is most of a short run's
// time in the dynamic loader.
#pragma once

#include <dlfcn.h>

#include <string>

namespace hostlib {

// The library with every call bound now, never closed (opening it again
// hands back the same one); nullptr with dlerror's one line in *why.
void* OpenSharedLibrary(const char* soname, std::string* why);

// One call of the library by its C name; false with dlerror's line, or one
// naming the call, in *why.
template <class Function>
bool BindCall(void* library, const char* name, Function* function, std::string* why) {
  *function = reinterpret_cast<Function>(dlsym(library, name));
  if (*function != nullptr) return true;
  const char* error = dlerror();
  *why = error ? error : std::string(name) + " is missing";
  return false;
}

}  // namespace hostlib
