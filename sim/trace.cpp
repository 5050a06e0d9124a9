#include "sim/trace.h"

#include <cinttypes>

namespace sim {

void TextTrace::Record(const TraceRecord& access) {
  std::fprintf(out_, "%" PRIu64 " %c 0x%08x %s 0x%08x\n", access.time, access.write ? 'W' : 'R',
               access.address, bus_.Describe(access.address).c_str(), access.value);
}

}  // namespace sim
