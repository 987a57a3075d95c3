#include "volume/VolumeMemory.h"

#include <cstdint>
#include <cstdlib>

// Large-page mappings where the system has them; a test build defines
// CORVANE_PLAIN_VOLUME_MEMORY to check the fallback.
#if !defined(CORVANE_PLAIN_VOLUME_MEMORY) && defined(__linux__)
#include <pthread.h>
#include <sys/mman.h>
#if defined(MADV_HUGEPAGE) && defined(MADV_POPULATE_WRITE) && defined(MAP_ANONYMOUS)
#define CORVANE_MAPPED_VOLUME_MEMORY 1
#endif
#endif
#if !defined(CORVANE_PLAIN_VOLUME_MEMORY) && defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(CORVANE_MAPPED_VOLUME_MEMORY)
#include <mutex>
#endif

namespace volume {

#if defined(CORVANE_MAPPED_VOLUME_MEMORY)

namespace {
constexpr std::size_t kPage = 4096;
constexpr std::size_t kLargePage = std::size_t{2} << 20;
// Blocks from this size on are mapped on their own, on large pages.
constexpr std::size_t kLargeBlock = 4 * kLargePage;
// Smaller blocks from this size on have their pages mapped in one call.
constexpr std::size_t kPopulatedBlock = 16 * kPage;
// How many freed large blocks are kept for the next volume of their size.
constexpr std::size_t kKeptBlocks = 4;

// Freed large blocks, shared by every thread: a program reading volume after
// volume on several threads gets the same few blocks back, with their pages
// mapped already, whichever thread freed them.
struct KeptBlocks {
  std::mutex mutex;
  std::vector<std::pair<void*, std::size_t>> blocks;  // start and mapped length
};
KeptBlocks& Kept();

// A child process made by fork() shares the kept blocks' pages with its
// parent until either writes them; a volume the child placed there would be
// copied page by page as it is written. The child drops them instead, and
// the list is locked across the fork so that no thread leaves it half changed.
void BeforeFork() { Kept().mutex.lock(); }
void AfterForkInParent() { Kept().mutex.unlock(); }
void AfterForkInChild() {
  KeptBlocks& kept = Kept();
  for (const auto& [block, mapped] : kept.blocks) munmap(block, mapped);
  kept.blocks.clear();
  kept.mutex.unlock();
}

KeptBlocks& Kept() {
  // Never destroyed: volumes may still be freed while the program exits.
  static KeptBlocks* kept = [] {
    auto* k = new KeptBlocks;
    k->blocks.reserve(kKeptBlocks);  // so that keeping a block never allocates
    pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild);
    return k;
  }();
  return *kept;
}

std::size_t MappedLength(std::size_t bytes) { return (bytes + kLargePage - 1) / kLargePage * kLargePage; }

// A fresh mapping of `length` bytes (a multiple of the large page) starting
// on a large-page boundary, with every page mapped; null when there is none.
void* MapLarge(std::size_t length) {
  const std::size_t padded = length + kLargePage;
  void* raw = mmap(nullptr, padded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kLargePage - 1) / kLargePage * kLargePage;
  if (aligned > start) munmap(raw, aligned - start);
  const std::uintptr_t tail = aligned + length;
  if (start + padded > tail) munmap(reinterpret_cast<void*>(tail), start + padded - tail);
  void* block = reinterpret_cast<void*>(aligned);
  // Only advice: where the kernel ignores it the block is mapped as it is first written.
  madvise(block, length, MADV_HUGEPAGE);
  madvise(block, length, MADV_POPULATE_WRITE);
  return block;
}
}  // namespace

void* AllocateBytes(std::size_t bytes) {
  if (bytes < kLargeBlock) {
    void* block = ::operator new(bytes);
    // A fresh block would otherwise be mapped one page fault at a time as it
    // is first written, and a fault costs far more than the call that maps them all.
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kPage - 1) / kPage * kPage;
    const std::uintptr_t end = (start + bytes) / kPage * kPage;
    if (bytes >= kPopulatedBlock && end > first)
      madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
    return block;
  }
  if (bytes > std::size_t(-1) - 2 * kLargePage) throw std::bad_alloc();
  const std::size_t length = MappedLength(bytes);
  std::vector<std::pair<void*, std::size_t>> unused;
  {
    KeptBlocks& kept = Kept();
    const std::lock_guard<std::mutex> lock(kept.mutex);
    for (auto it = kept.blocks.begin(); it != kept.blocks.end(); ++it)
      if (it->second == length) {
        void* block = it->first;
        kept.blocks.erase(it);
        return block;
      }
    // None of this size: the kept ones of other sizes would only hold memory.
    // (The list keeps its reserved room, so that FreeBytes never allocates.)
    unused.assign(kept.blocks.begin(), kept.blocks.end());
    kept.blocks.clear();
  }
  for (const auto& [block, mapped] : unused) munmap(block, mapped);
  void* block = MapLarge(length);
  if (!block) throw std::bad_alloc();
  return block;
}

void FreeBytes(void* block, std::size_t bytes) noexcept {
  if (bytes < kLargeBlock) {
    ::operator delete(block);
    return;
  }
  const std::size_t length = MappedLength(bytes);
  {
    KeptBlocks& kept = Kept();
    const std::lock_guard<std::mutex> lock(kept.mutex);
    if (kept.blocks.size() < kKeptBlocks) {
      kept.blocks.emplace_back(block, length);
      return;
    }
  }
  munmap(block, length);
}

#else

// Plain heap memory: pages are mapped as they are first written.
void* AllocateBytes(std::size_t bytes) { return ::operator new(bytes); }
void FreeBytes(void* block, std::size_t /*bytes*/) noexcept { ::operator delete(block); }

#endif

void ReuseVolumeMemory() {
#if !defined(CORVANE_PLAIN_VOLUME_MEMORY) && defined(__GLIBC__) && defined(M_MMAP_THRESHOLD) && \
    defined(M_TRIM_THRESHOLD)
  mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest threshold glibc accepts on 64-bit systems
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

}  // namespace volume
