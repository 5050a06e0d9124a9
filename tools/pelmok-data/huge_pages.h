// Memory for a picture's megabytes (its pixels, its spectrum columns) in
// 2 MiB pages where the kernel gives them (transparent huge pages on
// madvise). A process's every fresh 4 KiB page costs a page fault, about
// 12 µs of system time on the virtual machines the tools run on: a 1200 × 800
// picture's pixels alone were 940 of them, more than the spectra took to draw.
#pragma once

#include <cstddef>
#include <new>

namespace datatools {

// Zero-filled memory of at least `bytes`, aligned to 2 MiB and advised to
// the kernel as huge pages; throws std::bad_alloc when there is none.
void* AllocateHugePages(size_t bytes);
void FreeHugePages(void* memory, size_t bytes);

// For std::vector: vector<float, HugePageAllocator<float>>.
template <class T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <class U>
  explicit HugePageAllocator(const HugePageAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(AllocateHugePages(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { FreeHugePages(p, n * sizeof(T)); }
  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }
  friend bool operator!=(const HugePageAllocator&, const HugePageAllocator&) { return false; }
};

}  // namespace datatools
