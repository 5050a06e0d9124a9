#include "tools/pelmok-data/sample_checks.h"

#include <cmath>
#include <cstdlib>

namespace datatools {
namespace {

// A residual this many times the block's mean, and at least kJumpFloor
// codes, is a jump: a tone's or a ramp's residual stays within a few codes
// of its mean, and Gaussian noise's never reaches 32 times it.
constexpr double kJumpFactor = 32;
constexpr int32_t kJumpFloor = 16;

// The second difference in the converter's 24-bit arithmetic, so a ramp
// that wraps from +full scale to -full scale runs on.
int32_t Residual(int32_t x0, int32_t x1, int32_t x2) {
  const uint32_t e =
      static_cast<uint32_t>(x0) - 2u * static_cast<uint32_t>(x1) + static_cast<uint32_t>(x2);
  return CodeOf(e);
}

}  // namespace

void SampleChecks::Add(const std::vector<uint32_t>& words) {
  std::vector<int32_t> residual(words.size());
  double sum = 0;
  const uint64_t first = stats_.samples;
  for (size_t i = 0; i < words.size(); ++i) {
    const int32_t x0 = CodeOf(words[i]);
    residual[i] = first + i >= 2 ? Residual(x0, before_[1], before_[0]) : 0;
    sum += std::abs(static_cast<double>(residual[i]));
    before_[0] = before_[1];
    before_[1] = x0;
    stats_.Add(words[i]);
    zeroRun_ = words[i] == 0 ? zeroRun_ + 1 : 0;
  }
  const double limit =
      std::max<double>(kJumpFloor, kJumpFactor * sum / std::max<size_t>(1, words.size()));
  for (size_t i = 0; i < words.size(); ++i) {
    // A zero word is passed over: the zeros a time-out leaves are counted apart.
    const bool jump = words[i] != 0 && std::abs(static_cast<double>(residual[i])) > limit;
    if (jump && !jumping_) {
      if (jumps_++ == 0) firstJump_ = first + i;
    }
    jumping_ = jump;
  }
}

void SampleChecks::Finish() {
  zeroTail_ = zeroRun_ >= kZeroRunMinimum ? zeroRun_ : 0;
  stats_.Finish();
  const uint64_t read = stats_.samples - zeroTail_;  // the tail's zeros set no bit
  if (read == 0) return;
  uint32_t changing = 0;
  for (int b = 0; b < 24; ++b)
    if (stats_.ones[b] != 0 && stats_.ones[b] != read) changing |= 1u << b;
  for (int b = 0; b < 23; ++b) {
    if ((changing >> (b + 1)) == 0) continue;  // nothing above it changed
    if (stats_.ones[b] == 0) stuck0_ |= 1u << b;
    if (stats_.ones[b] == read) stuck1_ |= 1u << b;
  }
}

std::vector<std::string> SampleChecks::Findings() const {
  std::vector<std::string> out;
  for (int b = 23; b >= 0; --b) {
    if ((stuck0_ | stuck1_) >> b & 1u)
      out.push_back("bit " + std::to_string(b) + " stuck at " + ((stuck1_ >> b & 1u) ? "1" : "0") +
                    " (a data line held while the bits above it change)");
  }
  if (jumps_)
    out.push_back(std::to_string(jumps_) + " jump" + (jumps_ == 1 ? "" : "s") +
                  " the signal's course does not predict, the first at sample " +
                  std::to_string(firstJump_) +
                  " (frames lost to a receive overrun, or an impulse)");
  if (zeroTail_ == stats_.samples && zeroTail_ > 0) {
    out.push_back(
        "all " + std::to_string(zeroTail_) +
        " words zero: every read timed out (a converter that stopped), or a silent input");
  } else if (zeroTail_) {
    out.push_back("the last " + std::to_string(zeroTail_) + " of " +
                  std::to_string(stats_.samples) + " words zero: a read timed out after " +
                  std::to_string(stats_.samples - zeroTail_) + " and the rest was zero-filled");
  }
  return out;
}

}  // namespace datatools
