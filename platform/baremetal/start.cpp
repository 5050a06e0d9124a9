// After the MMU: the C library's handles and constructors, the image's run,
// and the exit; and the C++ runtime pieces the board's C runtime provides
// (no libstdc++ here: no exceptions, operator new over malloc).
#include <stdio.h>
#include <stdlib.h>

#include <new>

#include "platform/baremetal/baremetal.h"

extern "C" void initialise_monitor_handles();
extern "C" void __libc_init_array();

// No crti/crtn objects: the constructors come from .init_array alone.
extern "C" void _init() {}

extern "C" void PelmokStart() {
  initialise_monitor_handles();
  __libc_init_array();
  SemihostExit(RunImage() == 0);
}

namespace std {
const nothrow_t nothrow = nothrow_t();
}

void* operator new(size_t size, const std::nothrow_t&) throw() { return malloc(size); }
void operator delete(void* p) throw() { free(p); }
void operator delete(void* p, const std::nothrow_t&) throw() { free(p); }
