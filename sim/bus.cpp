#include "sim/bus.h"

#include <cstdio>

#include "sim/fault.h"

namespace sim {

void Bus::Attach(uint32_t base, uint32_t size, Device* device) {
  for (const Region& r : regions_) {
    if (base < r.base + r.size && r.base < base + size) {
      Fault("bus: %s at 0x%08x overlaps %s at 0x%08x", device->BlockName(), base,
            r.device->BlockName(), r.base);
      return;
    }
  }
  regions_.push_back(Region{base, size, device});
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

uint32_t Bus::Read32(uint32_t address) {
  now_ += accessCost_;
  ++accesses_;
  const Region* r = Find(address);
  if (!r) {
    Fault("bus: read of unmapped physical address 0x%08x", address);
    return 0xFFFFFFFFu;
  }
  if (address & 3u) {
    Fault("bus: misaligned read at 0x%08x (%s)", address, Describe(address).c_str());
    return 0xFFFFFFFFu;
  }
  uint32_t value = 0;
  if (!r->device->Read(address - r->base, &value)) {
    Fault("bus: read of %s (0x%08x) is not served by the device", Describe(address).c_str(),
          address);
    return 0xFFFFFFFFu;
  }
  if (trace_) trace_->Record(TraceRecord{now_, false, address, value, r->device->RegisterName(address - r->base)});
  return value;
}

void Bus::Write32(uint32_t address, uint32_t value) {
  now_ += accessCost_;
  ++accesses_;
  const Region* r = Find(address);
  if (!r) {
    Fault("bus: write of 0x%08x to unmapped physical address 0x%08x", value, address);
    return;
  }
  if (address & 3u) {
    Fault("bus: misaligned write at 0x%08x (%s)", address, Describe(address).c_str());
    return;
  }
  if (trace_) trace_->Record(TraceRecord{now_, true, address, value, r->device->RegisterName(address - r->base)});
  if (!r->device->Write(address - r->base, value)) {
    Fault("bus: write of 0x%08x to %s (0x%08x) is not served by the device", value,
          Describe(address).c_str(), address);
  }
}

std::string Bus::Describe(uint32_t address) const {
  const Region* r = Find(address);
  if (!r) return "unmapped";
  std::string s = r->device->BlockName();
  const char* name = r->device->RegisterName(address - r->base);
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
