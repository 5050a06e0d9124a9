#include "sim/bus.h"

#include <cstdio>

#include "sim/fault.h"

namespace sim {

void Bus::Attach(uint32_t base, uint32_t size, RegisterBlock* block) {
  for (const Region& r : regions_) {
    if (base < r.base + r.size && r.base < base + size) {
      Fault("bus: %s at 0x%08x overlaps %s at 0x%08x", block->BlockName(), base,
            r.block->BlockName(), r.base);
      return;
    }
  }
  regions_.push_back(Region{base, size, block});
  last_ = nullptr;
}

const Bus::Region* Bus::Find(uint32_t address) const {
  if (last_ && address - last_->base < last_->size) return last_;
  for (const Region& r : regions_) {
    if (address - r.base < r.size) {
      last_ = &r;
      return &r;
    }
  }
  return nullptr;
}

// The access's time and count are taken already: a fault is an access too.
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

void Bus::Trace(bool write, uint32_t address, uint32_t value, const Region* r) const {
  trace_->Record(
      TraceRecord{now_, write, address, value, r->block->RegisterName(address - r->base)});
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
