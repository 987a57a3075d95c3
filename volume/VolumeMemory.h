// Storage for voxel blocks.
//
// A fresh volume would otherwise be mapped one page fault at a time as it is
// first written, and on a virtual machine each fault costs far more than the
// memory it maps. So, where the system offers it (Linux: mmap, madvise, large
// pages), the pages of a block of 64 KiB or more are mapped in one call when
// it is allocated, and a block of 8 MiB or more is a mapping of its own on
// large pages (2 MiB); a few freed ones are kept, for any thread, for the next
// volume of the same size. Elsewhere a block is plain heap memory.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace volume {

void* AllocateBytes(std::size_t bytes);
void FreeBytes(void* block, std::size_t bytes) noexcept;

// The allocator of voxel blocks. Elements are default-initialised (not
// zeroed) when a block grows: the volume classes zero-fill every block they
// hand out, except for a reader that writes every voxel itself.
template <typename T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <typename U>
  constexpr BlockAllocator(const BlockAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateBytes(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { FreeBytes(p, n * sizeof(T)); }
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const BlockAllocator<U>&) const noexcept {
    return true;
  }
};
template <typename T>
using Block = std::vector<T, BlockAllocator<T>>;

// Keeps freed blocks of volume size in the process's heap. A program that
// allocates and frees volumes of the same few sizes again and again (a
// correction reading its references, a cohort of cases) otherwise has each
// block mapped and unmapped every time and faulted in page by page, which can
// cost more than the work done on it. Programs call this once at start-up.
// Where the C library has no such setting it does nothing.
void ReuseVolumeMemory();

}  // namespace volume
