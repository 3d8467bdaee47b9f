#pragma once
// Memory for picture-sized arrays: mapped on its own, aligned to 2 MiB and marked for
// transparent huge pages. A fresh array otherwise costs a page fault per 4 KiB, which on
// virtual machines takes longer than the arithmetic done on the page. The values are not
// initialised: every user writes each element before reading it.
#include <cstddef>

namespace kelvane {

class BigBlock {
 public:
  BigBlock() = default;
  // Throws std::bad_alloc when the memory cannot be had.
  explicit BigBlock(std::size_t bytes);
  ~BigBlock();
  BigBlock(BigBlock&& other) noexcept;
  BigBlock& operator=(BigBlock&& other) noexcept;
  BigBlock(const BigBlock&) = delete;
  BigBlock& operator=(const BigBlock&) = delete;

  void* data() const { return data_; }
  std::size_t size() const { return bytes_; }

 private:
  void* data_ = nullptr;
  std::size_t bytes_ = 0, mapped_ = 0;
};

}  // namespace kelvane
