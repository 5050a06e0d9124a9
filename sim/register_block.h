// A peripheral's register block declared as a table: one row a register, with
// the manual's name, reset value, writable and write-1-to-clear bits, access,
// and a hook only where the register does something. Decoding, masks, reset,
// names for traces and faults, and the refusal of an undecoded offset or of a
// forbidden access all come from the rows; a model is its table plus hooks.
//
// Accesses are aligned words (the bus checks alignment). Decoding is a direct
// index by offset / 4 into a small array, so an access costs no search.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/virtual_time.h"

namespace sim {

class Bus;
class RegisterBlock;

enum Access : uint8_t {
  kReadable = 1,
  kWritable = 2,
  kReadWrite = kReadable | kWritable,
  kReadOnly = kReadable,
  kWriteOnly = kWritable,
};

struct Register;

// A read hook returns the value read (the stored one is there to use); a
// write hook runs after the row's masks have stored the value, with the value
// before the write and the word as written (bits outside the masks included,
// for command bits that are not stored).
using ReadHook = uint32_t (*)(RegisterBlock& block, Register& reg);
using WriteHook = void (*)(RegisterBlock& block, Register& reg, uint32_t before, uint32_t written);

struct RegisterRow {
  uint32_t offset;
  const char* name;
  uint32_t reset;
  uint32_t writable;  // bits a write stores
  uint32_t w1c;       // bits a write of 1 clears
  Access access;
  ReadHook read = nullptr;    // nullptr: the stored value
  WriteHook write = nullptr;  // nullptr: the store is all
  unsigned index = 0;         // which of a set of like registers (a GPIO bank)
};

// A row as the running block holds it.
struct Register {
  RegisterRow row;
  uint32_t value;
  // The poll loops' fast path: a read before this time is the stored value
  // (Bus::Read32 on a span). Never later than the block's next event, and 0
  // while the register has a read hook, is not readable or the bus is
  // traced (but for the register of a traced run of reads); only
  // RegisterBlock sets it (Arm, DueAt, SetTraced, SetReadHook, ArmTraceRun).
  Nanoseconds plainBefore;
  ReadHook tableRead;  // the row's own read hook while row.read is swapped
};

// Turns a model's member function into a hook:
//   ReadBy<&Pxa27xSsp::ReadSsdr>, with uint32_t ReadSsdr(Register&);
//   WriteBy<&Pxa27xSsp::WriteSscr0>, with void WriteSscr0(Register&, uint32_t before, uint32_t
//   written).
template <class T>
struct MemberOf;
template <class M, class R, class... A>
struct MemberOf<R (M::*)(A...)> {
  using type = M;
};
template <auto Method>
uint32_t ReadBy(RegisterBlock& block, Register& reg) {
  using Model = typename MemberOf<decltype(Method)>::type;
  return (static_cast<Model&>(block).*Method)(reg);
}
template <auto Method>
void WriteBy(RegisterBlock& block, Register& reg, uint32_t before, uint32_t written) {
  using Model = typename MemberOf<decltype(Method)>::type;
  (static_cast<Model&>(block).*Method)(reg, before, written);
}

class RegisterBlock {
 public:
  // A block decodes at most 64 KB; the bus maps no more to it.
  static constexpr uint32_t kSpan = 0x10000;

  // `rows` is copied; offsets must be distinct, aligned and below kSpan.
  RegisterBlock(const char* blockName, const std::vector<RegisterRow>& rows);
  virtual ~RegisterBlock() = default;
  RegisterBlock(const RegisterBlock&) = delete;
  RegisterBlock& operator=(const RegisterBlock&) = delete;

  const char* BlockName() const { return name_; }
  // The manual's name of the register at `offset`, nullptr if none.
  const char* RegisterName(uint32_t offset) const {
    const Register* r = Find(offset);
    return r ? r->row.name : nullptr;
  }

  // The decode table from the aligned `offset` (below Extent()) on, one
  // entry a word: entry k is the register at offset + 4k (an undecoded one
  // refuses everything).
  Register* const* Decoding(uint32_t offset) const { return decode_.data() + (offset >> 2); }
  // The bytes the table covers: up to the last register's end.
  uint32_t Extent() const { return static_cast<uint32_t>(4 * decode_.size()); }

  // The bus's side, at virtual time `now`, for an aligned offset below kSpan.
  // False for an undecoded offset or an access the register refuses; the bus
  // faults then and nothing changed.
  bool Read(uint32_t offset, Nanoseconds now, uint32_t* value) {
    return Read(*Slot(offset), now, value);
  }
  bool Write(uint32_t offset, Nanoseconds now, uint32_t value) {
    return Write(*Slot(offset), now, value);
  }
  // The same for a register from Decoding (a span's access, decoded once),
  // in its steps: the model caught up to `now`, the access checked, the
  // value read. A read leaves the register armed for the fast path until the
  // next event.
  bool Read(Register& r, Nanoseconds now, uint32_t* value) {
    Reach(now);
    if (!Readable(r)) return false;
    *value = ReadReached(r);
    return true;
  }
  void Reach(Nanoseconds now) {
    if (Due(now)) CatchUp(now);
  }
  bool Due(Nanoseconds now) const { return now >= dueAt_; }
  // Reach for a caller that has seen Due(now).
  void ReachDue(Nanoseconds now) { CatchUp(now); }
  static bool Readable(const Register& r) { return (r.row.access & kReadable) != 0; }
  uint32_t ReadReached(Register& r) {
    // A hooked register is never armed (SetReadHook disarms it).
    if (r.row.read) return r.row.read(*this, r);
    Arm(r);
    return r.value;
  }
  // Arm for a bus that is not traced (its blocks are not either).
  void ArmUnwatched(Register& r) const { r.plainBefore = dueAt_; }
  bool Write(Register& r, Nanoseconds now, uint32_t value) {
    Reach(now);
    if (!(r.row.access & kWritable)) return false;
    const uint32_t before = r.value;
    r.value = ((before & ~r.row.writable) | (value & r.row.writable)) & ~(value & r.row.w1c);
    if (r.row.write) r.row.write(*this, r, before, value);
    return true;
  }
  // Why an access was refused, for the fault: "write-only", "read-only" or
  // "not decoded".
  const char* Refusal(uint32_t offset) const;

  // While the bus is traced no read is plain, so that every one reaches the
  // bus's full path and its trace; but the one the bus opens a run on.
  void SetTraced(bool traced);
  // Arms `r` while traced if a read of it now is plain until the next event
  // (true); DisarmTraceRun ends that.
  bool ArmTraceRun(Register& r) const {
    if (r.row.read || !Readable(r) || dueAt_ == 0) return false;
    r.plainBefore = dueAt_;
    return true;
  }
  static void DisarmTraceRun(Register& r) { r.plainBefore = 0; }

 protected:
  // The model's own clock: CatchUp(now) runs before the first access at or
  // after `time`; kNever for no event pending. Never on a plain access.
  static constexpr Nanoseconds kNever = ~Nanoseconds{0};
  // A later event leaves the registers' plainBefore as they are (each is
  // re-armed when next read); an earlier one brings them down to it.
  void DueAt(Nanoseconds time) {
    if (time < dueAt_) return DueEarlier(time);
    dueAt_ = time;
  }
  virtual void CatchUp(Nanoseconds now);

  // The running register at `offset` (a row's offset; the model's own use).
  Register& At(uint32_t offset) { return *Find(offset); }
  const Register& At(uint32_t offset) const { return *Find(offset); }
  // Swaps the read hook of the register at `offset`; nullptr restores the
  // table's own.
  void SetReadHook(uint32_t offset, ReadHook hook);
  // A register changed outside an access (a test's backdoor): the reads the
  // bus lent end, and a traced run of them that saw the value before faults.
  void ChangedBehindTheBus();

 private:
  friend class Bus;  // attaches itself (bus_)
  friend class RegisterBackdoor;
  bool Poke(uint32_t offset, uint32_t value);
  // The entry of an aligned offset, &undecoded_ past the table.
  // The fast path's mirror of dueAt_ for one register, and for all at once.
  // Only ReadReached arms, for a readable register with no read hook.
  void Arm(Register& r) const { r.plainBefore = traced_ ? 0 : dueAt_; }
  void Disarm(Nanoseconds time);
  // DueAt's rare case, out of line so that a model's CatchUp keeps no
  // registers for it.
  __attribute__((noinline)) void DueEarlier(Nanoseconds time);
  Register* Slot(uint32_t offset) {
    const uint32_t i = offset >> 2;
    return i < decode_.size() ? decode_[i] : &undecoded_;
  }
  Register* Find(uint32_t offset) {
    if ((offset & 3u) != 0) return nullptr;
    Register* r = Slot(offset);
    return r == &undecoded_ ? nullptr : r;
  }
  const Register* Find(uint32_t offset) const {
    return const_cast<RegisterBlock*>(this)->Find(offset);
  }

  const char* name_;
  // The bus the block is attached to, whose lent reads a lowered plainBefore
  // recalls; nullptr while on none.
  Bus* bus_ = nullptr;
  Nanoseconds dueAt_ = kNever;
  bool traced_ = false;
  std::vector<Register> registers_;  // never resized after construction
  Register undecoded_;               // neither readable nor writable
  // offset / 4 -> its register or &undecoded_, up to the last register.
  std::vector<Register*> decode_;
};

// The test backdoor of any register block, apart from its bus side. Poke
// stores `value` as given, past masks and access, then runs the row's write
// hook as a bus write would (so wired lines follow); no virtual time passes.
// False for an undecoded offset.
class RegisterBackdoor {
 public:
  explicit RegisterBackdoor(RegisterBlock& block) : block_(block) {}
  bool Poke(uint32_t offset, uint32_t value) { return block_.Poke(offset, value); }

 private:
  RegisterBlock& block_;
};

}  // namespace sim
