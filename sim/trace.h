// A bus trace as text, one line an access, for laying a run's register
// set-up beside the manual's tables:
//
//   <virtual time in ns> <R|W> 0x<physical address> <BLOCK.REGISTER> 0x<value>
//   1500 W 0x41900000 SSP3.SSCR0 0x00000000
//
// The time is the end of the access (what the device saw), the value the one
// read or written. An address without a register name shows as "BLOCK+0xNN".
#pragma once

#include <cstdio>

#include "sim/bus.h"

namespace sim {

class TextTrace : public TraceSink {
 public:
  // Neither the bus nor the file is owned; both must outlive the trace.
  TextTrace(const Bus& bus, FILE* out) : bus_(bus), out_(out) {}
  void Record(const TraceRecord& access) override;

 private:
  const Bus& bus_;
  FILE* out_;
};

}  // namespace sim
