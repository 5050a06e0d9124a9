// The host side of the platform layer: what a host program or a test sets up
// before it calls into the system, and the back doors the tests use. The
// system itself never includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {
class Board;
}

namespace host {

// The platform's register accessors and clock rest on this board. nullptr
// detaches it; a register access with no board attached is a fault.
void AttachBoard(sim::Board* board);
sim::Board* AttachedBoard();

// The folder that stands for the device: "\Hard Disk\x" opens
// "<root>/Hard Disk/x".
void SetDeviceRoot(const std::string& root);
const std::string& DeviceRoot();

// Debug console text goes to standard error unless captured here; nullptr
// ends the capture.
void CaptureConsole(std::string* sink);

// Makes the call after the next `successes` successful calls fail; -1 never.
void FailVirtualAllocAfter(int successes);
void FailVirtualCopyAfter(int successes);

struct Reservation {
  uintptr_t start;
  size_t size;
  bool bound;
  uint32_t physicalBase;  // valid when bound
};
// Reservations currently held, in the order they were made.
std::vector<Reservation> Reservations();

// Frees every reservation and clears injected failures, for a clean test.
void ResetKernel();

}  // namespace host
