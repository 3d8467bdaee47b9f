#pragma once
// An allocator for picture-sized blocks. Each block is mapped on its own, aligned to 2 MiB
// and marked for transparent huge pages: a fresh block otherwise costs one page fault per
// 4 KiB, which on virtual machines takes longer than the arithmetic done on the page.
// Released blocks are kept for reuse, so elements are not initialised: a block's values are
// whatever it held last, and every user writes each element before reading it.
#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

void* map_big_block(std::size_t bytes);
void unmap_big_block(void* block, std::size_t bytes);

// Returns the blocks kept for reuse to the system: at the end of every call that levels a
// picture, so that nothing picture-sized outlives it.
void release_kept_blocks();

template <class T>
struct BigAllocator {
  static_assert(std::is_trivial<T>::value, "blocks hold plain numbers");
  using value_type = T;
  BigAllocator() = default;
  template <class U>
  BigAllocator(const BigAllocator<U>&) {}

  T* allocate(std::size_t n) { return static_cast<T*>(map_big_block(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) { unmap_big_block(p, n * sizeof(T)); }

  // Elements are written by their users before they are read; zeroing them first would
  // only touch every page once more.
  template <class U>
  void construct(U*) {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) { ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...); }

  template <class U>
  bool operator==(const BigAllocator<U>&) const { return true; }
  template <class U>
  bool operator!=(const BigAllocator<U>&) const { return false; }
};
