#include "image/big_allocator.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace {
constexpr std::size_t huge_page = std::size_t(2) << 20;
// Below this, ordinary allocation is cheaper than a mapping of its own.
constexpr std::size_t mapping_threshold = std::size_t(1) << 20;

std::size_t mapped_size(std::size_t bytes) { return (bytes + huge_page - 1) / huge_page * huge_page; }

// Released blocks kept for the next allocation of the same size: the leveling operations
// build the same tables for every channel, and a kept block is already backed by memory.
class BlockCache {
 public:
  void* take(std::size_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it)
      if (it->second == size) {
        void* block = it->first;
        blocks_.erase(it);
        return block;
      }
    return nullptr;
  }
  void release() {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& block : blocks_) ::munmap(block.first, block.second);
    blocks_.clear();
  }
  bool keep(void* block, std::size_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    if (blocks_.size() >= capacity) return false;
    blocks_.emplace_back(block, size);
    return true;
  }

 private:
  static constexpr std::size_t capacity = 8;
  std::mutex lock_;
  std::vector<std::pair<void*, std::size_t>> blocks_;
};

BlockCache& cache() {
  static BlockCache* blocks = new BlockCache;  // never destroyed: blocks may be freed at exit
  return *blocks;
}

}  // namespace

void* map_big_block(std::size_t bytes) {
  if (bytes < mapping_threshold) {
    // calloc, so that small blocks read as zero like mapped ones.
    void* p = std::calloc(bytes ? bytes : 1, 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  const std::size_t size = mapped_size(bytes);
  if (void* kept = cache().take(size)) return kept;
  // Map one huge page more than needed, then trim both ends to a 2 MiB boundary.
  void* raw = ::mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + huge_page - 1) / huge_page * huge_page;
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::size_t tail = (start + size + huge_page) - (aligned + size);
  if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
  ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void unmap_big_block(void* block, std::size_t bytes) {
  if (bytes < mapping_threshold) std::free(block);
  else if (!cache().keep(block, mapped_size(bytes))) ::munmap(block, mapped_size(bytes));
}

void release_kept_blocks() { cache().release(); }
