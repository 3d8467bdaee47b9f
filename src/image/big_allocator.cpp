#include "image/big_allocator.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace {
constexpr std::size_t huge_page = std::size_t(2) << 20;
// Below this, ordinary allocation is cheaper than a mapping of its own.
constexpr std::size_t mapping_threshold = std::size_t(1) << 20;

std::size_t mapped_size(std::size_t bytes) { return (bytes + huge_page - 1) / huge_page * huge_page; }
}  // namespace

void* map_big_block(std::size_t bytes) {
  if (bytes < mapping_threshold) {
    // calloc, so that small blocks read as zero like mapped ones.
    void* p = std::calloc(bytes ? bytes : 1, 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  const std::size_t size = mapped_size(bytes);
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
  else ::munmap(block, mapped_size(bytes));
}
