#include "sim/board_clock.h"

#include <chrono>

namespace sim {

int64_t HostClockNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace sim
