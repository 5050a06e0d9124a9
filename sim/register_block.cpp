#include "sim/register_block.h"

#include "sim/fault.h"

namespace sim {

RegisterBlock::RegisterBlock(const char* blockName, std::vector<RegisterRow> rows) : name_(blockName) {
  registers_.reserve(rows.size());
  for (const RegisterRow& row : rows) {
    const uint32_t i = row.offset >> 2;
    if ((row.offset & 3u) != 0 || row.offset >= 0x10000 || (i < decode_.size() && decode_[i] != 0)) {
      Fault("%s: register %s at offset 0x%x is misaligned, out of the block or a second one there",
            blockName, row.name, row.offset);
      continue;
    }
    if (i >= decode_.size()) decode_.resize(i + 1, 0);
    registers_.push_back(Register{row, row.reset, row.read});
    decode_[i] = static_cast<uint16_t>(registers_.size());
  }
}

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
  return true;
}

void RegisterBlock::SetReadHook(uint32_t offset, ReadHook hook) {
  Register* r = Find(offset);
  if (!r) return;
  r->row.read = hook ? hook : r->tableRead;
}

}  // namespace sim
