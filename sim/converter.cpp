#include "sim/converter.h"

#include <algorithm>
#include <utility>

namespace sim {
namespace {
constexpr uint64_t kNanosecondsPerSecond = 1000000000;
}

Converter::Converter(uint32_t frameRateHz, std::shared_ptr<SignalSource> signal)
    : frameRateHz_(frameRateHz), signal_(std::move(signal)) {
  if (frameRateHz_ != 0) {
    periodWhole_ = kNanosecondsPerSecond / frameRateHz_;
    periodPart_ = kNanosecondsPerSecond % frameRateHz_;
  }
}

void Converter::SetClocked(bool clocked, Nanoseconds now) {
  if (clocked == clocked_) return;
  clocked_ = clocked;
  Restart(now);
}

void Converter::Stall(bool stalled, Nanoseconds now) {
  if (stalled == stalled_) return;
  stalled_ = stalled;
  Restart(now);
}

void Converter::StopAfter(uint64_t frames) {
  limit_ = frames;
  if (made_ >= limit_) next_ = kNever;
  takeBefore_ = std::min(takeBefore_, LastFrame());  // the codes in hand stay as they are
}

void Converter::Restart(Nanoseconds now) {
  runStart_ = now;
  runFirst_ = made_;
  const bool making =
      clocked_ && !stalled_ && made_ < limit_ && frameRateHz_ != 0 && signal_ && signal_->Sends();
  if (making) {
    SetNext();
  } else {
    next_ = kNever;
  }
}

void Converter::SetNext() {
  next_ = FrameTime(RunFrames());
  nextCarry_ = (RunFrames() + 1) % frameRateHz_ * kNanosecondsPerSecond % frameRateHz_;
}

Nanoseconds Converter::FrameTime(uint64_t j) const {
  const uint64_t n = j + 1;
  const uint64_t whole = n / frameRateHz_;
  const uint64_t part = n % frameRateHz_;
  return runStart_ + whole * kNanosecondsPerSecond + part * kNanosecondsPerSecond / frameRateHz_;
}

void Converter::ScheduleBursts(std::vector<Burst> bursts, BurstListener listener, void* context) {
  std::stable_sort(bursts.begin(), bursts.end(),
                   [](const Burst& a, const Burst& b) { return a.frame < b.frame; });
  bursts_ = std::move(bursts);
  burstFrame_ = bursts_.empty() ? kForever : bursts_.front().frame;
  burstListener_ = listener;
  burstContext_ = context;
  DropAhead();
}

bool Converter::Strike(Nanoseconds now) {
  const Burst burst = bursts_.front();
  bursts_.erase(bursts_.begin());
  burstFrame_ = bursts_.empty() ? kForever : bursts_.front().frame;
  DropAhead();  // the next burst may lie in the codes fetched
  uint64_t lost = 0;
  if (burst.count == 0) {
    limit_ = made_;
    next_ = kNever;
  } else {
    const uint64_t count = std::min(burst.count, limit_ - made_);
    const uint64_t room = receiver_ ? std::min<uint64_t>(receiver_->Room(), count) : 0;
    for (uint64_t i = 0; i < room; ++i) receiver_->ReceiveFrame(CodeOf(made_ + i));
    lost = count - room;
    if (receiver_ && lost > 0) receiver_->LoseFrames(lost);
    made_ += count;
    runFirst_ += count - 1;  // the burst came where one frame was due; the clock goes on
    if (made_ < limit_) {
      SetNext();
    } else {
      next_ = kNever;
    }
  }
  if (burstListener_) burstListener_(burst, lost, burstContext_);
  if (now >= next_) Deliver(now);
  return true;
}

bool Converter::Deliver(Nanoseconds now) {
  if (made_ == BurstFrame()) return Strike(now);
  // A poller sees the frames one at a time: this one due, the next not yet.
  // A full FIFO drops it; its number is used up all the same.
  uint32_t code;
  if (made_ - aheadFirst_ >= kAhead) CodeOf(made_);
  if (TakeOnlyFrame(now, &code)) {
    if (receiver_) {
      if (receiver_->Room() != 0) {
        receiver_->ReceiveFrame(code);
      } else {
        receiver_->LoseFrames(1);
      }
    }
    return true;
  }
  // Frames (j+1) with FrameTime(j) <= now, counted without walking them:
  // floor(n * 1e9 / rate) <= d  <=>  n <= ((d + 1) * rate - 1) / 1e9. Whole
  // seconds of d are split off first so the product stays within 64 bits on
  // the 32-bit board build as on the host.
  const uint64_t d = now - runStart_;
  const uint64_t seconds = d / kNanosecondsPerSecond;
  const uint64_t rest = d % kNanosecondsPerSecond;
  uint64_t due = seconds * frameRateHz_ + ((rest + 1) * frameRateHz_ - 1) / kNanosecondsPerSecond -
                 RunFrames();
  if (due > limit_ - made_) due = limit_ - made_;
  if (due > BurstFrame() - made_) due = BurstFrame() - made_;  // the frames before a burst first
  if (due == 0) return false;
  uint64_t pushed = 0;
  if (receiver_) {
    const uint64_t room = receiver_->Room();
    pushed = due < room ? due : room;
    for (uint64_t i = 0; i < pushed; ++i) receiver_->ReceiveFrame(CodeOf(made_ + i));
    // A full FIFO drops the rest; their numbers are used up all the same.
    if (due > pushed) receiver_->LoseFrames(due - pushed);
  }
  made_ += due;
  if (made_ < limit_) {
    SetNext();
  } else {
    next_ = kNever;
  }
  if (made_ == BurstFrame() && now >= next_) Strike(now);
  return true;
}

}  // namespace sim

namespace sim {

uint32_t Converter::CodeOf(uint64_t k) {
  if (k - aheadFirst_ >= kAhead) {
    // The codes end just before a burst, so the poller's take stops there.
    const uint64_t burst = BurstFrame();
    const bool near = burst - k - 1 < kAhead - 1;  // 1 to kAhead - 1 frames ahead
    aheadFirst_ = near ? burst - kAhead : k;       // may wrap below 0: only k on is used
    const uint64_t n = near ? burst - k : kAhead;
    uint32_t* first = ahead_ + (k - aheadFirst_);
    signal_->Codes(k, first, n);  // 24-bit codes, as the wire carries them
    SetTakeBefore();
  }
  return ahead_[k - aheadFirst_];
}

}  // namespace sim
