#include "sim/fault.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

void DefaultHandler(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "simulated board fault: %s\n", message.c_str());
  std::abort();
}

FaultHandler handler = DefaultHandler;

}  // namespace

FaultHandler SetFaultHandler(FaultHandler h) {
  FaultHandler old = handler;
  handler = h ? h : DefaultHandler;
  return old;
}

void Fault(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  handler(buf);
}

}  // namespace sim
