#include "image/big_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace kelvane {

namespace {

constexpr std::size_t huge_page = std::size_t(2) << 20;

}  // namespace

BigBlock::BigBlock(std::size_t bytes) : bytes_(bytes) {
  if (bytes == 0) return;
  // A huge page more than needed is mapped, and what lies outside the aligned part let go.
  const std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
  void* mapping = ::mmap(nullptr, rounded + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                         -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(mapping);
  const std::uintptr_t aligned = (start + huge_page - 1) / huge_page * huge_page;
  const std::size_t before = aligned - start, after = huge_page - before;
  if (before > 0) ::munmap(mapping, before);
  if (after > 0) ::munmap(reinterpret_cast<void*>(aligned + rounded), after);
  data_ = reinterpret_cast<void*>(aligned);
  mapped_ = rounded;
  ::madvise(data_, mapped_, MADV_HUGEPAGE);
}

BigBlock::~BigBlock() {
  if (data_) ::munmap(data_, mapped_);
}

BigBlock::BigBlock(BigBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), bytes_(std::exchange(other.bytes_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

BigBlock& BigBlock::operator=(BigBlock&& other) noexcept {
  if (this != &other) {
    if (data_) ::munmap(data_, mapped_);
    data_ = std::exchange(other.data_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

}  // namespace kelvane
