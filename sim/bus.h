// The simulated PXA27x physical bus: register blocks at fixed physical
// ranges, deterministic virtual time, and an optional trace of every access.
//
// Time advances only through register accesses: each one costs accessCost
// nanoseconds of virtual time and the block sees it at the end of that span.
// A model that does things on its own clock (the converter behind SSP3, the
// AC97 codec) catches up to Now() before the access that reaches its next
// event (RegisterBlock::DueAt). Every access reaches its block, in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/register_block.h"
#include "sim/virtual_time.h"

namespace sim {

// An uncached 32-bit access to a peripheral register on the real part takes
// a few hundred nanoseconds; a round 500 ns keeps a 100 kHz converter and a
// polling reader in the same proportion as on the board.
constexpr Nanoseconds kDefaultAccessCost = 500;

struct TraceRecord {
  Nanoseconds time;
  bool write;
  uint32_t address;
  uint32_t value;
  const char* name;  // register name, or nullptr
};

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Record(const TraceRecord& access) = 0;
  // `count` reads like `first`, at first.time, + spacing, + 2 spacing, ...:
  // a poll loop's run, which the bus serves without a call a read. By
  // default each is recorded.
  // (Out of line, in sim/trace.cpp: the bus's call stays one indirect call.)
  virtual void RecordRepeats(const TraceRecord& first, uint64_t count, Nanoseconds spacing);
};

class Bus {
 public:
  // An access takes at least 1 ns (a poll loop would otherwise stop the clock).
  explicit Bus(Nanoseconds accessCost = kDefaultAccessCost);

  // Decodes [base, base + size) to the block; ranges must not overlap.
  void Attach(uint32_t base, uint32_t size, RegisterBlock* block);

  // Any access by physical address, with its faults and trace.
  uint32_t Read32(uint32_t address);
  void Write32(uint32_t address, uint32_t value);

  // A physical range inside one block's registers, found once: what a host
  // window is bound to, clipped to the block's last register. size 0: the
  // range starts misaligned or where no block decodes.
  struct Span {
    RegisterBlock* block = nullptr;
    uint32_t physical = 0;              // the range's first address
    uint32_t blockOffset = 0;           // its offset in the block
    uint32_t size = 0;                  // clipped to the block's last register
    Register* const* decode = nullptr;  // the block's decode table from the first word
  };
  Span Resolve(uint32_t physical, uint32_t size) const;

  // A span's register by word (below span.size / 4: the caller checks), or
  // already decoded: `reg` is *span.decode[offset / 4].
  uint32_t Read32(const Span& span, uintptr_t word) {
    return Read32(span, *span.decode[word], static_cast<uint32_t>(4 * word));
  }
  uint32_t Read32(const Span& span, Register& reg, uint32_t offset);
  void Write32(const Span& span, uintptr_t word, uint32_t value);

  // The register hot path, served by the caller: the bus lends out the reads
  // of one register that are plain (before its block's next event, no hook,
  // see Register::plainBefore), and the caller serves each itself, counting
  // lease.left down by one and reading *lease.value. Each is an access like
  // any other: the bus counts what was used at its next access (or when asked
  // the time); what is left then is given back. It lends at each read of the
  // register that reaches it, so at left 0 the next read of the register
  // comes to the bus.
  //
  // With `hooks` kCalled the reads lent may go to other registers of the
  // same block too: a read of one with a read hook (a FIFO's data register)
  // is the hook's call, each counted down like the others; set only while
  // nothing watches the bus (no trace, no alarm) before the reads lent end.
  // kTraced: the same while traced (and no alarm before they end), each such
  // read served by ReadLentTraced, which records it.
  struct Lease {
    enum Hooks : uint8_t { kNone, kCalled, kTraced };
    uintptr_t left = 0;
    const uint32_t* value = nullptr;
    Hooks hooks = kNone;
  };
  // Lends the plain reads of the span's readable register `reg` at `offset`
  // from the next plain read of it the bus serves on. The span stays where
  // it is while lent.
  Lease& LendPlainReads(const Span& span, Register& reg, uint32_t offset) {
    Settle();
    Watch();  // a register recalled before is no longer the one lent
    leased_ = &reg;
    leaseSpan_ = &span;
    leaseBlock_ = span.block;
    leaseOffset_ = offset;
    lease_.value = &reg.value;
    return lease_;
  }
  // A read of the leased register by the holder that has used every read
  // lent (lease.left is 0). Once a frame on a poll loop: the block is due.
  // The model catches up in its own CatchUp; the rest (a hook, the alarm,
  // the trace) is off this path. Inline: the holder's call is the only one.
  uint32_t ReadLeased() {
    Register& reg = *leased_;
    const Nanoseconds now = now_ += accessCost_;
    lease_.left = 0;  // the holder counted it below 0: every read lent was used
    if (now < reg.plainBefore) return RelendPlain();
    if (now >= watchAt_) return ReadLeasedApart(reg);
    leaseBlock_->Reach(now);
    return ReadLeasedCaughtUp();
  }
  // A read lent (lease.left not 0, hooks kTraced) of the span's register
  // `reg` with a read hook: counted down, the hook called and the read
  // recorded; the run of the register lent ends before it and opens after.
  uint32_t ReadLentTraced(const Span& span, Register& reg, uint32_t offset);
  // A register whose read hook changed (a test's backdoor): what is lent
  // ends, and while it is the register lent its reads leave the leased path
  // for the watched one (which calls a hook), until the bus lends afresh.
  void Recall(const Register& reg) {
    Settle();
    if (&reg == leased_) watchAt_ = 0;
  }
  // Ends what is lent now: a block lowered a register's plainBefore outside
  // an access (a test's backdoor), so reads lent before may not be plain.
  void Settle() {
    if (lease_.left == 0) return;
    now_ -= lease_.left * accessCost_;
    lease_.left = 0;
  }

  Nanoseconds Now() const { return now_ - lease_.left * accessCost_; }
  Nanoseconds AccessCost() const { return accessCost_; }
  // Lets virtual time pass with no access (tests, and the host's idle paths).
  void Advance(Nanoseconds span) {
    Settle();
    EndTraceRun(0);
    now_ += span;
    idle_ += span;
  }

  // While traced, the reads that repeat a plain read of one register before
  // its block's next event stay on the inline path too, and so do the reads
  // of the register lent after a traced read of another one; the trace hears
  // of them (RecordRepeats) at the next access that leaves it, at Advance, at
  // SetTrace and here. A read of the lent register's block with a read hook
  // (the FIFO's) is one of the reads lent, recorded in ReadLentTraced.
  void SetTrace(TraceSink* sink);
  void EndTraceRun() {
    Settle();
    EndTraceRun(0);
  }
  // Calls `ring` once, at the first access at or after `at` that leaves the
  // hot path (every due event, hook, write and traced access does; a poll
  // loop reaches one every converter frame). For a tool's progress: the
  // alarm costs the plain reads nothing. nullptr: none.
  void SetAlarm(Nanoseconds at, void (*ring)(void* context), void* context) {
    Settle();  // reads lent with their hooks may not pass it
    alarmAt_ = ring ? at : ~Nanoseconds{0};
    ring_ = ring;
    ringContext_ = context;
    Watch();
  }
  // Every access costs the same span, so the count needs no counter of its own.
  uint64_t AccessCount() const { return (Now() - idle_) / accessCost_; }

  // "GPIO.GPDR2"-style name of a physical address, for traces and faults.
  std::string Describe(uint32_t address) const;

 private:
  struct Region {
    uint32_t base;
    uint32_t size;
    RegisterBlock* block;
  };
  const Region* Find(uint32_t address) const;
  // Lends the leased register's plain reads from now_ on, a read of it just
  // served (charging their time now; Settle gives back what was not used).
  void Relend() {
    const Nanoseconds before = leased_->plainBefore;
    if (before <= now_) return;
    // Kept within what the accessor's signed test can count (a far event
    // would wrap it on a 32-bit host) by a mask, not a compare: fewer reads
    // lent than are plain is always right, the next one comes to the bus.
    const Nanoseconds reads = (before - now_ - 1) / accessCost_;
    lease_.left = static_cast<uintptr_t>(reads) & static_cast<uintptr_t>(INTPTR_MAX);
    lease_.hooks = static_cast<Lease::Hooks>(watchAt_ >= before);  // kCalled or kNone
    now_ += lease_.left * accessCost_;
  }
  // Relend while traced: the hooks' reads lent are recorded (ReadLentTraced).
  void RelendTraced() {
    Relend();
    if (lease_.left != 0 && alarmAt_ >= leased_->plainBefore) lease_.hooks = Lease::kTraced;
  }
  // An access whose time and count are taken already (a fault is an access
  // too); a write's value in `written`. A block's refusal changed nothing, so
  // this may ask it again.
  uint32_t Serve32(uint32_t address, const uint32_t* written);
  // The leased register's read that is not plain and not the model's due
  // event alone: its time taken already.
  __attribute__((noinline)) uint32_t ReadLeasedApart(Register& reg);
  // Its two ways, each with its own frame: traced (no alarm due, no hook)
  // and watched.
  __attribute__((noinline)) uint32_t ReadLeasedTraced(Register& reg);
  __attribute__((noinline)) uint32_t ReadLeasedWatched(Register& reg);
  // The rest of a leased read once its block caught up: armed, relent.
  uint32_t ReadLeasedCaughtUp();
  // Relends after a plain read of the leased register and returns its value.
  uint32_t RelendPlain() {
    Relend();
    return leased_->value;
  }
  // A span's read with nothing lent out.
  uint32_t ReadSettled(const Span& span, Register& reg, uint32_t offset);
  // A span's read apart from a plain one: the model catches up first; the
  // alarm rings or the trace records.
  uint32_t ServeUnwatchedRead32(const Span& span, Register& reg, uint32_t offset);
  __attribute__((noinline)) uint32_t ServeWatchedRead32(const Span& span, Register& reg,
                                                        uint32_t offset);
  // A read while traced: the run open before ends, the read is recorded and
  // opens a run if the register's next reads before its block's next event
  // can repeat it inline.
  uint32_t ServeTracedRead32(const Span& span, Register& reg, uint32_t offset);
  void LendTraced();
  // Opens the run of the register lent from its read at `first`.
  void OpenLentRun(Nanoseconds first);
  void ServeWrite32(const Span& span, Register& reg, uint32_t offset, uint32_t value);
  // Find with the faults of an unmapped or misaligned access; nullptr then.
  const Region* Decode(uint32_t address, const uint32_t* written) const;
  uint32_t Refused(uint32_t address, const uint32_t* written) const;
  // Records the access now and returns its record.
  TraceRecord Trace(bool write, uint32_t address, uint32_t value, const char* name) const {
    const TraceRecord access{now_, write, address, value, name};
    trace_->Record(access);
    return access;
  }

  // Closes it; `pending` accesses counted already are not the run's.
  void EndTraceRun(uint64_t pending) {
    if (runRegister_) TellTraceRun(pending);
  }
  void TellTraceRun(uint64_t pending);

  void CheckAlarm() {
    if (now_ >= alarmAt_) RingAlarm();
  }
  void RingAlarm();
  // watchAt_: the first time an access must look at the alarm or the trace,
  // so that a span's read asks one question for both.
  void Watch() { watchAt_ = trace_ ? 0 : alarmAt_; }

  std::vector<Region> regions_;
  Nanoseconds alarmAt_ = ~Nanoseconds{0};
  Nanoseconds watchAt_ = ~Nanoseconds{0};
  void (*ring_)(void*) = nullptr;
  void* ringContext_ = nullptr;
  Nanoseconds now_ = 0;
  Nanoseconds accessCost_;
  Nanoseconds idle_ = 0;  // time passed by Advance
  TraceSink* trace_ = nullptr;
  // The reads lent out (their time charged to now_ already) and whose.
  Lease lease_;
  Register* leased_ = nullptr;
  const Span* leaseSpan_ = nullptr;
  RegisterBlock* leaseBlock_ = nullptr;
  uint32_t leaseOffset_ = 0;
  // The traced run of inline reads: its register (nullptr: none) and its
  // first read, which the trace has not heard of yet.
  Register* runRegister_ = nullptr;
  TraceRecord runFirst_{};
  TraceRecord hookedRead_{};  // ReadLentTraced's record
};

}  // namespace sim
