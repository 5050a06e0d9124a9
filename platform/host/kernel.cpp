// VirtualAlloc, VirtualCopy and VirtualFree over real address space, and the
// register accessors over the simulated bus.
//
// A reservation is mmap'd with no access, so a stray direct load or store
// through a window crashes as it would on an unbound page of the board.
// VirtualCopy records the physical pages bound to it; the accessors translate
// a window address through that binding and go to the bus.
#include <sys/mman.h>

#include <cinttypes>
#include <vector>

#include "platform/host/host.h"
#include "platform/kernel.h"
#include "platform/registers.h"
#include "sim/board.h"
#include "sim/fault.h"

namespace {

constexpr uintptr_t kPageSize = 0x1000;

std::vector<host::Reservation> reservations;
// The window of the last register access, straight to its bus: the
// program's accesses come in long runs through one window, and its poll
// loops read one register over and over. words 0: none. The span is the part
// of the window's binding inside one register block. The last register with
// no read hook read through it is the one whose plain reads the bus lends
// (hostRegisterLease); one with a hook leaves the inline path on every read
// anyway, and kept it would only push out the register a loop polls.
struct Hit {
  uintptr_t start = 0;
  uintptr_t words = 0;  // the span's size in words
  sim::Bus::Span span;
  sim::Bus* bus = nullptr;
  sim::Register* leased = nullptr;
  // The last register with a read hook read through it (SSDR), by its
  // address (1: none, never an access's).
  uintptr_t hookedAddress = 1;
  sim::Register* hooked = nullptr;
  sim::Bus::Lease* lent = nullptr;  // the lease, while one is held
};
Hit hit;
uintptr_t noReadsLeft = 0;
sim::Bus::Lease noLease;

}  // namespace

HostRegisterLease hostRegisterLease = {nullptr, &noReadsLeft, nullptr};

namespace {

// Forgets the registers kept; the bus's lease stays as it is: a lease nobody
// reads from costs it nothing.
void DropLease() {
  hit.hookedAddress = 1;
  hit.leased = nullptr;
  hit.lent = &noLease;
  hostRegisterLease.reg = nullptr;
  hostRegisterLease.left = &noReadsLeft;
}

void ForgetHit() {
  hit.words = 0;
  DropLease();
}

// The word index of an offset into the hit window, rotated so that a
// misaligned offset comes out huge: one compare checks bound and alignment.
inline uintptr_t WordIndex(uintptr_t offset) {
  return (offset >> 2) | (offset << (8 * sizeof offset - 2));
}
int allocSuccessesLeft = -1;
int copySuccessesLeft = -1;
sim::Board* board = nullptr;

bool InjectedFailure(int* successesLeft) {
  if (*successesLeft < 0) return false;
  if (*successesLeft == 0) {
    *successesLeft = -1;
    return true;
  }
  --*successesLeft;
  return false;
}

host::Reservation* FindStart(uintptr_t start) {
  for (auto& r : reservations)
    if (r.start == start) return &r;
  return nullptr;
}

// The reservation that holds a window address, or a fault; a bound one
// becomes the hit window.
const host::Reservation* Lookup(uintptr_t a) {
  for (const auto& candidate : reservations) {
    if (a - candidate.start < candidate.size) {
      if (!candidate.bound) {
        sim::Fault("register access at 0x%" PRIxPTR " in a reservation that was never bound", a);
        return nullptr;
      }
      if (!board) {
        sim::Fault("register access with no simulated board attached");
        return nullptr;
      }
      hit.bus = &board->bus();
      // Reservations come from a DWORD size: the cast loses nothing.
      hit.span = hit.bus->Resolve(candidate.physicalBase, static_cast<uint32_t>(candidate.size));
      hit.start = candidate.start;
      hit.words = hit.span.size / 4;
      DropLease();
      return &candidate;
    }
  }
  sim::Fault("register access at 0x%" PRIxPTR " outside every reservation", a);
  return nullptr;
}

inline uint32_t PhysicalOf(const host::Reservation* r, volatile uint32_t* reg) {
  return r->physicalBase + static_cast<uint32_t>(reinterpret_cast<uintptr_t>(reg) - r->start);
}

__attribute__((noinline)) uint32_t SlowRead(volatile uint32_t* reg) {
  const host::Reservation* r = Lookup(reinterpret_cast<uintptr_t>(reg));
  return r ? board->bus().Read32(PhysicalOf(r, reg)) : 0xFFFFFFFFu;
}

__attribute__((noinline)) void SlowWrite(volatile uint32_t* reg, uint32_t value) {
  if (const host::Reservation* r = Lookup(reinterpret_cast<uintptr_t>(reg)))
    board->bus().Write32(PhysicalOf(r, reg), value);
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
  if (address != nullptr || allocationType != MEM_RESERVE || protect != PAGE_NOACCESS) {
    sim::Fault("VirtualAlloc(%p, 0x%x, 0x%x, 0x%x): only reservations are simulated", address, size,
               allocationType, protect);
    return nullptr;
  }
  if (size == 0 || InjectedFailure(&allocSuccessesLeft)) return nullptr;
  const size_t bytes = (static_cast<size_t>(size) + kPageSize - 1) & ~(kPageSize - 1);
  void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  reservations.push_back(host::Reservation{reinterpret_cast<uintptr_t>(p), bytes, false, 0});
  ForgetHit();
  return p;
}

BOOL VirtualCopy(LPVOID dest, LPVOID source, DWORD size, DWORD protect) {
  if (protect != (PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL)) {
    sim::Fault("VirtualCopy(..., 0x%x): only uncached read-write physical bindings are simulated",
               protect);
    return FALSE;
  }
  if (InjectedFailure(&copySuccessesLeft)) return FALSE;
  const uintptr_t d = reinterpret_cast<uintptr_t>(dest);
  host::Reservation* r = FindStart(d);
  if (!r || size == 0 || size > r->size || (size & (kPageSize - 1)) != 0 || r->bound) return FALSE;
  // PAGE_PHYSICAL: the source is the physical page address shifted right by 8.
  const uint64_t physical = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(source)) << 8;
  if ((physical & (kPageSize - 1)) != 0 || physical + size > (uint64_t{1} << 32)) return FALSE;
  r->bound = true;
  r->physicalBase = static_cast<uint32_t>(physical);
  return TRUE;
}

BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(address);
  if (freeType != MEM_RELEASE || size != 0) {
    sim::Fault("VirtualFree(%p, 0x%x, 0x%x): only whole releases are simulated", address, size,
               freeType);
    return FALSE;
  }
  for (auto it = reservations.begin(); it != reservations.end(); ++it) {
    if (it->start == a) {
      munmap(address, it->size);
      reservations.erase(it);
      ForgetHit();
      return TRUE;
    }
  }
  return FALSE;  // as the kernel does for an address that starts no reservation
}

namespace {

// A read of the register with a read hook that the lease does not call
// untraced: the bus records it on the lease, or serves it.
__attribute__((noinline)) uint32_t ReadHookedByBus(uintptr_t address) {
  const auto offset = static_cast<uint32_t>(address - hit.start);
  if (hit.lent->hooks == sim::Bus::Lease::kTraced && hit.lent->left != 0)
    return hit.bus->ReadLentTraced(hit.span, *hit.hooked, offset);
  return hit.bus->Read32(hit.span, *hit.hooked, offset);
}

}  // namespace

uint32_t ReadRegister32PastLease() { return hit.bus->ReadLeased(); }

uint32_t ReadRegister32ByBus(volatile uint32_t* reg) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(reg);
  if (address == hit.hookedAddress) {
    // A read with a hook served on the lease (the block is not due, nothing
    // watches): the hook's call is the access.
    sim::Bus::Lease& lent = *hit.lent;
    if (lent.hooks == sim::Bus::Lease::kCalled && lent.left != 0) {
      --lent.left;
      return hit.hooked->row.read(*hit.span.block, *hit.hooked);
    }
    return ReadHookedByBus(address);
  }
  const auto offset = static_cast<uint32_t>(address - hit.start);
  const uintptr_t word = WordIndex(address - hit.start);
  if (word >= hit.words) return SlowRead(reg);
  sim::Register& r = *hit.span.decode[word];
  if (!sim::RegisterBlock::Readable(r)) return hit.bus->Read32(hit.span, r, offset);  // refused
  if (r.row.read) {
    hit.hookedAddress = address;
    hit.hooked = &r;
  } else {
    sim::Bus::Lease& lent = hit.bus->LendPlainReads(hit.span, r, offset);
    HostRegisterLease& lease = hostRegisterLease;
    lease.reg = reg;
    lease.left = &lent.left;
    lease.value = lent.value;
    hit.leased = &r;
    hit.lent = &lent;
  }
  return hit.bus->Read32(hit.span, r, offset);
}

void WriteRegister32(volatile uint32_t* reg, uint32_t value) {
  const uintptr_t word = WordIndex(reinterpret_cast<uintptr_t>(reg) - hit.start);
  if (word < hit.words) {
    hit.bus->Write32(hit.span, word, value);
    return;
  }
  SlowWrite(reg, value);
}

namespace host {

void AttachBoard(sim::Board* b) {
  board = b;
  ForgetHit();
}
sim::Board* AttachedBoard() { return board; }

void FailVirtualAllocAfter(int successes) { allocSuccessesLeft = successes; }
void FailVirtualCopyAfter(int successes) { copySuccessesLeft = successes; }

std::vector<Reservation> Reservations() { return reservations; }

void ResetKernel() {
  // Reservations are kept as addresses: the board's windows are numbers.
  for (const auto& r : reservations)
    munmap(reinterpret_cast<void*>(r.start), r.size);  // NOLINT(performance-no-int-to-ptr)
  reservations.clear();
  ForgetHit();
  allocSuccessesLeft = -1;
  copySuccessesLeft = -1;
  ClearFileFaults();
}

}  // namespace host
