#include "tools/pelmok-data/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace datatools {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t Rounded(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* AllocateHugePages(size_t bytes) {
  const size_t length = Rounded(bytes == 0 ? 1 : bytes);
  // A mapping one huge page longer, trimmed to the aligned part.
  void* mapped =
      mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  char* const start = static_cast<char*>(mapped);
  const size_t head = (kHugePage - reinterpret_cast<uintptr_t>(start) % kHugePage) % kHugePage;
  char* const aligned = start + head;
  if (head > 0) munmap(start, head);
  munmap(aligned + length, kHugePage - head);
  // Advice only: without huge pages the memory is the same, in 4 KiB pages.
  madvise(aligned, length, MADV_HUGEPAGE);
  return aligned;
}

void FreeHugePages(void* memory, size_t bytes) {
  if (memory != nullptr) munmap(memory, Rounded(bytes == 0 ? 1 : bytes));
}

}  // namespace datatools
