// The simulated PXA27x physical bus: device models at fixed physical ranges,
// deterministic virtual time, and an optional trace of every access.
//
// Time advances only through register accesses: each one costs accessCost
// nanoseconds of virtual time and the device sees it at the end of that span.
// A model that does things on its own clock (the converter behind SSP3, the
// AC97 codec) catches up to Now() whenever it is accessed.
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
};

class Bus {
 public:
  explicit Bus(Nanoseconds accessCost = kDefaultAccessCost) : accessCost_(accessCost) {}

  // Decodes [base, base + size) to the block; ranges must not overlap.
  void Attach(uint32_t base, uint32_t size, RegisterBlock* block);

  // The register hot path: inline, one compare to find the block when the
  // access falls in the same block as the last one.
  uint32_t Read32(uint32_t address) {
    now_ += accessCost_;
    ++accesses_;
    const Region* r = Hit(address, nullptr);
    if (!r) return 0xFFFFFFFFu;
    uint32_t value = 0;
    if (!r->block->Read(address - r->base, now_, &value)) return Refused(address, nullptr);
    if (trace_) Trace(false, address, value, r);
    return value;
  }
  void Write32(uint32_t address, uint32_t value) {
    now_ += accessCost_;
    ++accesses_;
    const Region* r = Hit(address, &value);
    if (!r) return;
    if (trace_) Trace(true, address, value, r);
    if (!r->block->Write(address - r->base, now_, value)) Refused(address, &value);
  }

  Nanoseconds Now() const { return now_; }
  Nanoseconds AccessCost() const { return accessCost_; }
  // Lets virtual time pass with no access (tests, and the host's idle paths).
  void Advance(Nanoseconds span) { now_ += span; }

  void SetTrace(TraceSink* sink) { trace_ = sink; }
  uint64_t AccessCount() const { return accesses_; }

  // "GPIO.GPDR2"-style name of a physical address, for traces and faults.
  std::string Describe(uint32_t address) const;

 private:
  struct Region {
    uint32_t base;
    uint32_t size;
    RegisterBlock* block;
  };
  const Region* Find(uint32_t address) const;
  const Region* Hit(uint32_t address, const uint32_t* written) const {
    const Region* r = last_;
    if (r && address - r->base < r->size && (address & 3u) == 0) return r;
    return Decode(address, written);
  }
  // Find with the faults of an unmapped or misaligned access (a write's value
  // in `written`); nullptr then.
  const Region* Decode(uint32_t address, const uint32_t* written) const;
  uint32_t Refused(uint32_t address, const uint32_t* written) const;
  void Trace(bool write, uint32_t address, uint32_t value, const Region* r) const;

  std::vector<Region> regions_;
  mutable const Region* last_ = nullptr;  // only ever a mapped region
  Nanoseconds now_ = 0;
  Nanoseconds accessCost_;
  uint64_t accesses_ = 0;
  TraceSink* trace_ = nullptr;
};

}  // namespace sim
