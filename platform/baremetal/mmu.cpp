// Virtual memory as the board program needs it: flat (identity-mapped) RAM,
// and a window area where VirtualAlloc reserves pages that fault until
// VirtualCopy binds them, uncached, to their physical pages. An access
// outside a bound window is a data abort (see console.cpp), as on the board.
#include <string.h>

#include "platform/baremetal/baremetal.h"
#include "platform/kernel.h"

namespace {

const uint32_t kPage = 0x1000;
const uint32_t kSection = 0x100000;
// The window area: 16 MB of virtual space, 64 KB granules as CE reserves.
const uint32_t kWindowBase = 0x10000000;
const uint32_t kWindowSections = 16;
const uint32_t kReserveGranule = 0x10000;
const uint32_t kRamBase = 0xA0000000;
const uint32_t kRamSections = 64;
const uint32_t kFfuart = 0x40100000;
const uint32_t kHighVectors = 0xFFFF0000;

// First level: section and coarse-table descriptors, domain 0, bit 4 set as
// the XScale wants. AP 11: read-write. C and B: cached, write-back.
const uint32_t kSectionRw = (3u << 10) | (1u << 4) | 0x2;
const uint32_t kCached = 0xC;
const uint32_t kCoarse = (1u << 4) | 0x1;
// Second level: a small page, all four subpages read-write, no C, no B.
const uint32_t kSmallPageRwUncached = 0xFF0 | 0x2;
const uint32_t kSmallPageRwCached = 0xFF0 | kCached | 0x2;

uint32_t translationTable[4096] __attribute__((aligned(16384)));
uint32_t windowTables[kWindowSections][256] __attribute__((aligned(1024)));
uint32_t vectorTable[256] __attribute__((aligned(1024)));

struct Reservation {
  uint32_t start;
  uint32_t size;  // 0: slot free
};
Reservation reservations[64];

uint32_t* PageEntry(uint32_t address) {
  const uint32_t offset = address - kWindowBase;
  return &windowTables[offset / kSection][(offset % kSection) / kPage];
}

void FlushTlb() {
  const uint32_t zero = 0;
  __asm__ volatile("mcr p15, 0, %0, c8, c7, 0" : : "r"(zero) : "memory");
}

Reservation* ReservationAt(uint32_t start) {
  for (size_t i = 0; i < sizeof reservations / sizeof reservations[0]; ++i)
    if (reservations[i].size != 0 && reservations[i].start == start) return &reservations[i];
  return NULL;
}

bool Overlaps(uint32_t start, uint32_t size) {
  for (size_t i = 0; i < sizeof reservations / sizeof reservations[0]; ++i) {
    const Reservation& r = reservations[i];
    if (r.size != 0 && start < r.start + r.size && r.start < start + size) return true;
  }
  return false;
}

}  // namespace

extern "C" char pelmok_vectors[];

extern "C" void PelmokStartMmu() {
  for (uint32_t s = 0; s < kRamSections; ++s) {
    const uint32_t base = kRamBase + s * kSection;
    translationTable[base >> 20] = base | kSectionRw | kCached;
  }
  translationTable[kFfuart >> 20] = kFfuart | kSectionRw;  // uncached
  for (uint32_t s = 0; s < kWindowSections; ++s) {
    translationTable[(kWindowBase >> 20) + s] =
        reinterpret_cast<uint32_t>(windowTables[s]) | kCoarse;
  }
  translationTable[kHighVectors >> 20] = reinterpret_cast<uint32_t>(vectorTable) | kCoarse;
  vectorTable[(kHighVectors % kSection) / kPage] =
      reinterpret_cast<uint32_t>(pelmok_vectors) | kSmallPageRwCached;

  const uint32_t table = reinterpret_cast<uint32_t>(translationTable);
  const uint32_t clientDomain0 = 0x1;
  uint32_t control;
  __asm__ volatile(
      "mcr p15, 0, %1, c2, c0, 0\n"  // translation table base
      "mcr p15, 0, %2, c3, c0, 0\n"  // domain 0: client, permissions checked
      "mcr p15, 0, %3, c8, c7, 0\n"  // TLBs invalidated
      "mrc p15, 0, %0, c1, c0, 0\n"
      : "=r"(control)
      : "r"(table), "r"(clientDomain0), "r"(0)
      : "memory");
  // MMU on, alignment faults on (a misaligned access faults as on the board),
  // high vectors.
  control |= (1u << 0) | (1u << 1) | (1u << 13);
  __asm__ volatile(
      "mcr p15, 0, %0, c1, c0, 0\n"
      "mrc p15, 0, r0, c2, c0, 0\n"  // wait for the write to take effect
      "mov r0, r0\n"
      "sub pc, pc, #4\n"
      :
      : "r"(control)
      : "r0", "memory");
}

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
  if (address != NULL || allocationType != MEM_RESERVE || protect != PAGE_NOACCESS || size == 0 ||
      size > kWindowSections * kSection) {
    SetKernelError(87);  // ERROR_INVALID_PARAMETER
    return NULL;
  }
  const uint32_t rounded = (size + kPage - 1) & ~(kPage - 1);
  for (uint32_t start = kWindowBase; start + rounded <= kWindowBase + kWindowSections * kSection;
       start += kReserveGranule) {
    if (Overlaps(start, rounded)) continue;
    for (size_t i = 0; i < sizeof reservations / sizeof reservations[0]; ++i) {
      if (reservations[i].size == 0) {
        reservations[i].start = start;
        reservations[i].size = rounded;
        return reinterpret_cast<LPVOID>(start);
      }
    }
    break;
  }
  SetKernelError(8);  // ERROR_NOT_ENOUGH_MEMORY
  return NULL;
}

// Binds [dest, dest + size) of one reservation to the physical pages from
// (source << 8) on, read-write and uncached; only physical bindings exist here.
BOOL VirtualCopy(LPVOID dest, LPVOID source, DWORD size, DWORD protect) {
  const uint32_t start = reinterpret_cast<uint32_t>(dest);
  const uint32_t physical = reinterpret_cast<uint32_t>(source) << 8;
  const DWORD required = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;
  bool inside = false;
  for (size_t i = 0; i < sizeof reservations / sizeof reservations[0]; ++i) {
    const Reservation& r = reservations[i];
    if (r.size != 0 && start >= r.start && start + size <= r.start + r.size) inside = true;
  }
  if (!inside || protect != required || (start | physical | size) % kPage != 0 || size == 0) {
    SetKernelError(87);
    return FALSE;
  }
  for (uint32_t offset = 0; offset < size; offset += kPage)
    *PageEntry(start + offset) = (physical + offset) | kSmallPageRwUncached;
  FlushTlb();
  return TRUE;
}

BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType) {
  Reservation* r = ReservationAt(reinterpret_cast<uint32_t>(address));
  if (r == NULL || size != 0 || freeType != MEM_RELEASE) {
    SetKernelError(87);
    return FALSE;
  }
  for (uint32_t offset = 0; offset < r->size; offset += kPage) *PageEntry(r->start + offset) = 0;
  FlushTlb();
  r->size = 0;
  return TRUE;
}
