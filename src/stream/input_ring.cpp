#include "stream/input_ring.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kelvane {

InputRing::InputRing(RowSource& source, std::size_t capacity)
    : source_(source), capacity_(std::max<std::size_t>(1, capacity)), row_bytes_(source.layout().row_bytes()),
      chunk_(std::max<std::size_t>(1, source.chunk_rows())), height_(source.layout().height) {
  held_ = source.held_rows(held_stride_);
  if (held_) return;
  rows_.resize(capacity_ * row_bytes_);
  staging_.resize(chunk_ * row_bytes_);
}

void InputRing::fill(long long keep_from, long long last) {
  if (held_) return;
  last = std::min<long long>(last, static_cast<long long>(height_) - 1);
  while (next_ <= last) {
    // A whole run of rows from a multiple of the run's length, as the source prefers.
    const std::size_t count = std::min<std::size_t>(chunk_ - static_cast<std::size_t>(next_) % chunk_,
                                                    height_ - static_cast<std::size_t>(next_));
    if (next_ + static_cast<long long>(count) - keep_from > static_cast<long long>(capacity_))
      throw std::logic_error("the ring of rows is too small");
    source_.read_rows(static_cast<std::size_t>(next_), count, staging_.data());
    for (std::size_t r = 0; r < count; ++r)
      std::memcpy(rows_.data() + static_cast<std::size_t>((next_ + static_cast<long long>(r)) % capacity_) * row_bytes_,
                  staging_.data() + r * row_bytes_, row_bytes_);
    next_ += static_cast<long long>(count);
  }
}

}  // namespace kelvane
