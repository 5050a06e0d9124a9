// The 24-bit converter wired to SSP3 as a PSP frame master: while the port
// clocks it, it makes one frame a frame period on its own clock and shifts it
// into the port's receive side.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/bus.h"
#include "sim/signal.h"

namespace sim {

// The port side of the wire.
class FrameReceiver {
 public:
  virtual ~FrameReceiver() = default;
  // Entries the receive FIFO can still take.
  virtual unsigned Room() const = 0;
  virtual void ReceiveFrame(uint32_t word) = 0;
  // `count` frames arrived at a full FIFO.
  virtual void LoseFrames(uint64_t count) = 0;
};

class Converter {
 public:
  static constexpr Nanoseconds kNever = ~Nanoseconds{0};

  Converter(uint32_t frameRateHz, std::shared_ptr<SignalSource> signal);

  void Connect(FrameReceiver* receiver) { receiver_ = receiver; }

  // A converter that dies part-way: after `frames` frames in all it makes no
  // more, whatever the port does. kForever (the default) never stops.
  static constexpr uint64_t kForever = ~uint64_t{0};
  void StopAfter(uint64_t frames);

  // The bench's converter faults, at the frame (counted as FramesMade counts)
  // where they strike: a burst of `count` frames all at once where one was
  // due, faster than any reader (count 0: the converter dies there, as
  // StopAfter). The listener hears each as it strikes, with the frames the
  // full FIFO lost to it. Off the hot path: the frames before one are fetched
  // so that the poller's inline take stops at it.
  struct Burst {
    uint64_t frame;
    uint64_t count;
  };
  using BurstListener = void (*)(const Burst& burst, uint64_t lost, void* context);
  void ScheduleBursts(std::vector<Burst> bursts, BurstListener listener, void* context);

  // The port's start conditions came (or went) at `now`. Frames due before
  // must have been delivered already (CatchUp). With the clock on, the first
  // frame follows one period after `now`.
  void SetClocked(bool clocked, Nanoseconds now);
  // Test backdoor: a stalled converter makes no frames; released, it starts
  // afresh one period after `now`.
  void Stall(bool stalled, Nanoseconds now);

  // Delivers every frame due by `now`; returns whether any was. On the
  // register hot path: one compare when nothing is due.
  bool CatchUp(Nanoseconds now) { return now >= next_ ? Deliver(now) : false; }
  // The poller's case, for the port to take without a call through
  // FrameReceiver: exactly one frame due by `now` (the next one not yet).
  // True: that frame is made and its code is in *code, for the port to
  // receive. False: none or several are due, nothing changed (CatchUp).
  bool TakeOnlyFrame(Nanoseconds now, uint32_t* code) {
    if (now < next_) return false;
    Nanoseconds following = next_ + periodWhole_;
    uint64_t carry = nextCarry_;
    if (periodPart_ != 0) {  // a period with a fraction of a nanosecond
      carry += periodPart_;
      if (carry >= frameRateHz_) {
        carry -= frameRateHz_;
        ++following;
      }
    }
    if (following <= now) return false;
    // Codes to fetch, or the converter's last frame (no next one): Deliver.
    if (made_ >= takeBefore_) return false;
    *code = ahead_[made_ - aheadFirst_];
    ++made_;
    next_ = following;
    nextCarry_ = carry;  // as it was with a whole period: a store, no test
    return true;
  }

  uint64_t FramesMade() const { return made_; }
  uint32_t FrameRateHz() const { return frameRateHz_; }
  Nanoseconds NextFrameAt() const { return next_; }
  bool Clocked() const { return clocked_; }
  bool Stalled() const { return stalled_; }
  SignalSource& Signal() { return *signal_; }

 private:
  void Restart(Nanoseconds now);
  // Arrival of the (j+1)-th frame of the current run, from its start: exact
  // integer nanoseconds, so a long run does not drift.
  Nanoseconds FrameTime(uint64_t j) const;
  // Frames made since runStart_.
  uint64_t RunFrames() const { return made_ - runFirst_; }
  // next_ = FrameTime(RunFrames()), with the carry that steps it to the next.
  void SetNext();
  bool Deliver(Nanoseconds now);
  // The code of frame k (k >= made_), from the codes fetched ahead.
  uint32_t CodeOf(uint64_t k);
  // The burst due at made_ strikes; true. Out of line, off the frame path.
  __attribute__((noinline, cold)) bool Strike(Nanoseconds now);
  uint64_t BurstFrame() const { return burstFrame_; }

  uint32_t frameRateHz_;
  std::shared_ptr<SignalSource> signal_;
  FrameReceiver* receiver_ = nullptr;
  bool clocked_ = false;
  bool stalled_ = false;
  Nanoseconds runStart_ = 0;
  uint64_t runFirst_ = 0;  // made_ at runStart_, less the frames of bursts past one
  uint64_t made_ = 0;      // frames made since reset: the signal's frame number
  uint64_t limit_ = kForever;
  Nanoseconds next_ = kNever;
  // A frame period is periodWhole_ + periodPart_ / frameRateHz_ ns; nextCarry_
  // is next_'s fraction of a nanosecond, in 1 / frameRateHz_. Stepping next_
  // by these is exactly FrameTime of the next frame, with no division.
  uint64_t periodWhole_ = 0;
  uint64_t periodPart_ = 0;
  uint64_t nextCarry_ = 0;
  // The signal's codes of frames aheadFirst_ .. + kAhead - 1, masked, fetched
  // a batch at a time so that a frame costs no call into the signal.
  static constexpr uint64_t kAhead = 256;
  uint32_t ahead_[kAhead];
  uint64_t aheadFirst_ = ~uint64_t{0} - kAhead;  // none yet
  // TakeOnlyFrame takes the frames below this one: those whose codes are
  // fetched, short of the last frame before limit_ (0: none).
  uint64_t takeBefore_ = 0;
  uint64_t LastFrame() const { return limit_ != 0 ? limit_ - 1 : 0; }
  // After the codes were fetched.
  void SetTakeBefore() { takeBefore_ = std::min(aheadFirst_ + kAhead, LastFrame()); }
  // The codes fetched are no longer to be used.
  void DropAhead() {
    aheadFirst_ = ~uint64_t{0} - kAhead;
    takeBefore_ = 0;
  }
  std::vector<Burst> bursts_;       // in frame order, the next first
  uint64_t burstFrame_ = kForever;  // the next one's frame, one compare on the frame path
  BurstListener burstListener_ = nullptr;
  void* burstContext_ = nullptr;
};

}  // namespace sim
