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
#include <string>
#include <vector>

#include "sim/bus.h"

namespace sim {

// A traced run makes tens of millions of lines: each is put together by hand
// in a large buffer, with the register's "BLOCK.REGISTER" text looked up in
// a small cache by address rather than formatted afresh.
class TextTrace : public TraceSink {
 public:
  // Neither the bus nor the file is owned; both must outlive the trace.
  TextTrace(const Bus& bus, FILE* out);
  ~TextTrace() override;  // flushes
  TextTrace(const TextTrace&) = delete;
  TextTrace& operator=(const TextTrace&) = delete;

  void Record(const TraceRecord& access) override;
  // Hands the buffered lines to the file (not fflush). Returns false if the
  // file refused them.
  bool Flush();

 private:
  struct Name {
    uint32_t address = 1;  // never an aligned access's address: empty
    std::string text;
  };
  const std::string& NameOf(uint32_t address);

  const Bus& bus_;
  FILE* out_;
  std::vector<char> buffer_;
  size_t used_ = 0;
  std::vector<Name> names_;
};

}  // namespace sim
