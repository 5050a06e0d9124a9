// What a record's samples show of the faults of the field, found from the
// words alone: the converter codes' statistics, the zero words a read that
// timed out leaves at its end, data lines stuck at 0 or 1, and jumps the
// signal's own course does not predict, as frames lost to a receive
// overrun leave them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/formats/data_file.h"

namespace datatools {

class SampleChecks {
 public:
  // The words of one record, in order, block after block.
  void Add(const std::vector<uint32_t>& words);
  void Finish();

  const CodeStats& Stats() const { return stats_; }
  uint64_t ZeroTail() const { return zeroTail_; }  // zero words ending the record
  uint64_t Jumps() const { return jumps_; }
  uint64_t FirstJump() const { return firstJump_; }  // sample index, when Jumps() > 0
  // Code bits that never changed while a bit above them did (a sign bit
  // that never changes cannot be told from a one-sided signal).
  uint32_t StuckAtZero() const { return stuck0_; }
  uint32_t StuckAtOne() const { return stuck1_; }
  // "bit 5 stuck at 1" ..., "a jump at sample 50016 ...", "the last 150000 of
  // 200000 words zero ...": one line each, empty when nothing shows.
  std::vector<std::string> Findings() const;

 private:
  CodeStats stats_;
  uint64_t zeroRun_ = 0, zeroTail_ = 0, jumps_ = 0, firstJump_ = 0;
  uint32_t stuck0_ = 0, stuck1_ = 0;
  int32_t before_[2] = {0, 0};  // the two codes before the block
  bool jumping_ = false;        // the last residual was a jump's
};

}  // namespace datatools
