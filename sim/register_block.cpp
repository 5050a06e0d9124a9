#include "sim/register_block.h"

#include "sim/bus.h"
#include "sim/fault.h"

namespace sim {

RegisterBlock::RegisterBlock(const char* blockName, const std::vector<RegisterRow>& rows)
    : name_(blockName), undecoded_{RegisterRow{0, nullptr, 0, 0, 0, Access{}}, 0, 0, nullptr} {
  uint32_t end = 0;
  for (const RegisterRow& row : rows)
    if (row.offset < kSpan && row.offset / 4 + 1 > end) end = row.offset / 4 + 1;
  decode_.assign(end, &undecoded_);
  registers_.reserve(rows.size());
  for (const RegisterRow& row : rows) {
    if ((row.offset & 3u) != 0 || row.offset >= kSpan || decode_[row.offset >> 2] != &undecoded_) {
      Fault("%s: register %s at offset 0x%x is misaligned, out of the block or a second one there",
            blockName, row.name, row.offset);
      continue;
    }
    registers_.push_back(Register{row, row.reset, 0, row.read});
  }
  for (Register& r : registers_) decode_[r.row.offset >> 2] = &r;
}

void RegisterBlock::CatchUp(Nanoseconds) { DueAt(kNever); }

const char* RegisterBlock::Refusal(uint32_t offset) const {
  const Register* r = Find(offset);
  if (!r) return "not decoded";
  return (r->row.access & kReadable) ? "read-only" : "write-only";
}

bool RegisterBlock::Poke(uint32_t offset, uint32_t value) {
  Register* r = Find(offset);
  if (!r) return false;
  const uint32_t before = r->value;
  r->value = value;
  if (r->row.write) r->row.write(*this, *r, before, value);
  ChangedBehindTheBus();
  return true;
}

void RegisterBlock::ChangedBehindTheBus() {
  if (bus_) bus_->EndTraceRun();
}

void RegisterBlock::SetReadHook(uint32_t offset, ReadHook hook) {
  Register* r = Find(offset);
  if (!r) return;
  r->row.read = hook ? hook : r->tableRead;
  r->plainBefore = 0;
  if (bus_) bus_->Recall(*r);
}

void RegisterBlock::DueEarlier(Nanoseconds time) {
  Disarm(time);
  dueAt_ = time;
}

void RegisterBlock::SetTraced(bool traced) {
  traced_ = traced;
  if (traced) Disarm(0);
}

void RegisterBlock::Disarm(Nanoseconds time) {
  for (Register& r : registers_)
    if (r.plainBefore > time) r.plainBefore = time;
  if (bus_) bus_->Settle();
}

}  // namespace sim
