// Accesses the board would fault on (an unmapped physical address, an
// undecoded register, a misaligned access, a touch of a reservation that was
// never bound) are never served silently: they go to the fault handler. The
// host program's handler stops the run with the message; the test suite's
// fails the test.
#pragma once

#include <string>

namespace sim {

using FaultHandler = void (*)(const std::string& message);

// Returns the previous handler. nullptr restores the default (message on
// standard error, then abort).
FaultHandler SetFaultHandler(FaultHandler handler);

void Fault(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
