#include "sim/bus.h"

#include <cstdio>

#include "sim/fault.h"

namespace sim {

Bus::Bus(Nanoseconds accessCost) : accessCost_(accessCost) {
  if (accessCost_ == 0) {
    Fault("bus: an access costs at least 1 ns");
    accessCost_ = 1;
  }
}

void Bus::Attach(uint32_t base, uint32_t size, RegisterBlock* block) {
  if (size == 0 || size > RegisterBlock::kSpan || base + (size - 1) < base) {
    Fault("bus: %s at 0x%08x: a block spans 1 to 0x%x bytes", block->BlockName(), base,
          RegisterBlock::kSpan);
    return;
  }
  for (const Region& r : regions_) {
    if (base < r.base + r.size && r.base < base + size) {
      Fault("bus: %s at 0x%08x overlaps %s at 0x%08x", block->BlockName(), base,
            r.block->BlockName(), r.base);
      return;
    }
  }
  regions_.push_back(Region{base, size, block});
  block->bus_ = this;
  block->SetTraced(trace_ != nullptr);
}

const Bus::Region* Bus::Find(uint32_t address) const {
  for (const Region& r : regions_)
    if (address - r.base < r.size) return &r;
  return nullptr;
}

void Bus::SetTrace(TraceSink* sink) {
  Settle();
  EndTraceRun(0);
  trace_ = sink;
  Watch();
  for (const Region& r : regions_) r.block->SetTraced(sink != nullptr);
}

Bus::Span Bus::Resolve(uint32_t physical, uint32_t size) const {
  Span span;
  const Region* r = Find(physical);
  if (!r || size == 0 || (physical & 3u) != 0) return span;
  // Past the block's last register nothing is decoded: the full path faults.
  const uint32_t offset = physical - r->base;
  const uint32_t extent = r->block->Extent() < r->size ? r->block->Extent() : r->size;
  if (offset >= extent) return span;
  span.block = r->block;
  span.physical = physical;
  span.blockOffset = offset;
  const uint32_t room = extent - offset;
  span.size = size < room ? size : room;
  span.decode = r->block->Decoding(span.blockOffset);
  return span;
}

uint32_t Bus::Read32(uint32_t address) {
  Settle();
  now_ += accessCost_;
  return Serve32(address, nullptr);
}

void Bus::Write32(uint32_t address, uint32_t value) {
  Settle();
  now_ += accessCost_;
  Serve32(address, &value);
}

uint32_t Bus::Read32(const Span& span, Register& reg, uint32_t offset) {
  Settle();
  return ReadSettled(span, reg, offset);
}

// The register lent has no read hook: one that gains one is recalled.
uint32_t Bus::ReadLeasedCaughtUp() {
  leaseBlock_->ArmUnwatched(*leased_);
  return RelendPlain();
}

uint32_t Bus::ReadLeasedApart(Register& reg) {
  // A register lent has no read hook, unless it gained one since (Recall).
  if (trace_ && !reg.row.read && now_ < alarmAt_) return ReadLeasedTraced(reg);
  return ReadLeasedWatched(reg);
}

uint32_t Bus::ReadLeasedWatched(Register& reg) {
  CheckAlarm();
  const uint32_t value = trace_ ? ServeTracedRead32(*leaseSpan_, reg, leaseOffset_)
                                : ServeUnwatchedRead32(*leaseSpan_, reg, leaseOffset_);
  if (&reg == leased_) Relend();
  return value;
}

// A traced poll loop's read that reaches its block's event: the run of the
// reads lent before ends, the model catches up, and the read, recorded,
// opens the next run, whose reads are lent (the FIFO's with them).
uint32_t Bus::ReadLeasedTraced(Register& reg) {
  EndTraceRun(1);
  RegisterBlock& block = *leaseBlock_;
  block.Reach(now_);
  // Recorded from where the run's first read is kept (the run before has
  // ended), as in ServeTracedRead32.
  runFirst_ =
      TraceRecord{now_, false, leaseSpan_->physical + leaseOffset_, reg.value, reg.row.name};
  trace_->Record(runFirst_);
  if (block.ArmTraceRun(reg)) {
    runRegister_ = &reg;
    runFirst_.time += accessCost_;
    RelendTraced();
  }
  return reg.value;
}

// The reads of one register between two events of its block (a poll loop's)
// are lent out after each that reaches the bus; a read that finds the block
// due, a hook, a refusal or a trace is served on the full path.
inline uint32_t Bus::ReadSettled(const Span& span, Register& reg, uint32_t offset) {
  const Nanoseconds now = now_ += accessCost_;
  const uint32_t value = now < reg.plainBefore ? reg.value
                         : now >= watchAt_     ? ServeWatchedRead32(span, reg, offset)
                                               : ServeUnwatchedRead32(span, reg, offset);
  if (&reg == leased_) Relend();
  return value;
}

void Bus::Write32(const Span& span, uintptr_t word, uint32_t value) {
  Settle();
  now_ += accessCost_;
  ServeWrite32(span, *span.decode[word], static_cast<uint32_t>(4 * word), value);
}

// Once a frame (a hook or an event), or every access while traced. The
// refusal is decided first: a refused read changes nothing, and the model
// catches up to the same frames at the next access.
inline uint32_t Bus::ServeUnwatchedRead32(const Span& span, Register& reg, uint32_t offset) {
  if (!RegisterBlock::Readable(reg)) return Refused(span.physical + offset, nullptr);
  RegisterBlock& block = *span.block;
  block.Reach(now_);
  return block.ReadReached(reg);
}

uint32_t Bus::ServeWatchedRead32(const Span& span, Register& reg, uint32_t offset) {
  CheckAlarm();
  if (trace_) return ServeTracedRead32(span, reg, offset);
  return ServeUnwatchedRead32(span, reg, offset);
}

// Inline in both of its callers: a traced frame takes three reads.
inline uint32_t Bus::ServeTracedRead32(const Span& span, Register& reg, uint32_t offset) {
  EndTraceRun(1);
  RegisterBlock& block = *span.block;
  block.Reach(now_);
  if (!RegisterBlock::Readable(reg)) return Refused(span.physical + offset, nullptr);
  const uint32_t value = block.ReadReached(reg);
  // Kept where a run's first read is (the run before has ended): the reads
  // that repeat it inline are a run from the next access on.
  runFirst_ = TraceRecord{now_, false, span.physical + offset, value, reg.row.name};
  trace_->Record(runFirst_);
  if (block.ArmTraceRun(reg)) {
    runRegister_ = &reg;
    runFirst_.time += accessCost_;
  } else if (leased_ != nullptr) {
    LendTraced();
  }
  return value;
}

// After a traced read of another register (a poll loop's FIFO read), the
// reads of the register lent go on inline, a run of their own that the trace
// hears of only when it ends.
void Bus::LendTraced() {
  Register& reg = *leased_;
  const Nanoseconds first = now_ + accessCost_;
  // At a high frame rate the next read is the frame's: nothing to lend.
  if (leaseBlock_->dueAt_ <= first || !leaseBlock_->ArmTraceRun(reg)) return;
  RelendTraced();
  OpenLentRun(first);
}

void Bus::OpenLentRun(Nanoseconds first) {
  Register& reg = *leased_;
  runRegister_ = &reg;
  runFirst_ =
      TraceRecord{first, false, leaseSpan_->physical + leaseOffset_, reg.value, reg.row.name};
}

// The FIFO's read on a traced poll loop: the hook is the access, as when
// untraced; the reads lent are not given back. The run open is the register
// lent's, and after this read it goes on as a run with the value the hook
// left (a run with no read yet only moves on).
uint32_t Bus::ReadLentTraced(const Span& span, Register& reg, uint32_t offset) {
  const uintptr_t after = --lease_.left;  // the reads lent after this one
  const Nanoseconds at = now_ - after * accessCost_;
  if (runRegister_ != leased_ || at != runFirst_.time) EndTraceRun(after + 1);
  // Put together in a member: little is kept across the hook's call.
  hookedRead_ = TraceRecord{at, false, span.physical + offset, 0, reg.row.name};
  hookedRead_.value = reg.row.read(*span.block, reg);
  trace_->Record(hookedRead_);
  Register& lent = *leased_;
  // The hook may have ended what is lent (an earlier event): the next read
  // of the register lent then comes to the bus, and the run is empty.
  if (!leaseBlock_->ArmTraceRun(lent)) {
    Settle();
    EndTraceRun(1);
  } else if (runRegister_ == nullptr) {
    OpenLentRun(hookedRead_.time + accessCost_);
  } else {  // the empty run moves on: its register and address are the same
    runFirst_.time = hookedRead_.time + accessCost_;
    runFirst_.value = lent.value;
  }
  return hookedRead_.value;
}

void Bus::TellTraceRun(uint64_t pending) {
  Register& reg = *runRegister_;
  RegisterBlock::DisarmTraceRun(reg);
  runRegister_ = nullptr;
  // The run's reads are the accesses from its first on to the last before
  // the `pending` one, each an access cost apart (an idle span ends the run
  // first).
  const Nanoseconds last = now_ - pending * accessCost_;
  if (last < runFirst_.time) return;
  const uint64_t count = (last - runFirst_.time) / accessCost_ + 1;
  // Only an access changes a register: a value that moved during the run
  // moved behind the bus's back (a backdoor), and the run's lines would lie.
  if (reg.value != runFirst_.value) {
    Fault("bus: %s changed from 0x%08x to 0x%08x with no access during a traced run of reads",
          Describe(runFirst_.address).c_str(), runFirst_.value, reg.value);
  }
  trace_->RecordRepeats(runFirst_, count, accessCost_);
}

void Bus::ServeWrite32(const Span& span, Register& reg, uint32_t offset, uint32_t value) {
  CheckAlarm();
  EndTraceRun(1);
  if (trace_) Trace(true, span.physical + offset, value, reg.row.name);
  if (!span.block->Write(reg, now_, value)) Refused(span.physical + offset, &value);
}

void Bus::RingAlarm() {
  // Cleared first: the call may set the next one.
  void (*ring)(void*) = ring_;
  alarmAt_ = ~Nanoseconds{0};
  ring_ = nullptr;
  Watch();
  ring(ringContext_);
}

uint32_t Bus::Serve32(uint32_t address, const uint32_t* written) {
  CheckAlarm();
  EndTraceRun(1);
  const Region* r = Decode(address, written);
  if (!r) return 0xFFFFFFFFu;
  const uint32_t at = address - r->base;
  if (!written) {
    uint32_t value = 0;
    if (!r->block->Read(at, now_, &value)) return Refused(address, nullptr);
    if (trace_) Trace(false, address, value, r->block->RegisterName(at));
    return value;
  }
  if (trace_) Trace(true, address, *written, r->block->RegisterName(at));
  if (!r->block->Write(at, now_, *written)) Refused(address, written);
  return 0;
}

const Bus::Region* Bus::Decode(uint32_t address, const uint32_t* written) const {
  const Region* r = Find(address);
  if (!r) {
    if (written) {
      Fault("bus: write of 0x%08x to unmapped physical address 0x%08x", *written, address);
    } else {
      Fault("bus: read of unmapped physical address 0x%08x", address);
    }
    return nullptr;
  }
  if (address & 3u) {
    Fault("bus: misaligned %s at 0x%08x (%s)", written ? "write" : "read", address,
          Describe(address).c_str());
    return nullptr;
  }
  return r;
}

uint32_t Bus::Refused(uint32_t address, const uint32_t* written) const {
  const Region* r = Find(address);
  const char* why = r->block->Refusal(address - r->base);
  if (written) {
    Fault("bus: write of 0x%08x to %s (0x%08x) refused: %s", *written, Describe(address).c_str(),
          address, why);
  } else {
    Fault("bus: read of %s (0x%08x) refused: %s", Describe(address).c_str(), address, why);
  }
  return 0xFFFFFFFFu;
}

std::string Bus::Describe(uint32_t address) const {
  const Region* r = Find(address);
  if (!r) return "unmapped";
  std::string s = r->block->BlockName();
  const char* name = r->block->RegisterName(address - r->base);
  char buf[32];
  if (name) {
    s += ".";
    s += name;
  } else {
    std::snprintf(buf, sizeof buf, "+0x%x", address - r->base);
    s += buf;
  }
  return s;
}

}  // namespace sim
