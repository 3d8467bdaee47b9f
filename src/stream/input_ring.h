#pragma once
// The rows of a page in its own samples, read from the source in order and kept in a ring
// while the cursors and the leveling need them; or, where the source holds every row in
// memory, read where they are.
#include <cstddef>
#include <vector>

#include "stream/rows.h"

namespace kelvane {

class InputRing {
 public:
  // Holds `capacity` rows (a run of rows to read included); reading starts at the page's
  // first row.
  InputRing(RowSource& source, std::size_t capacity);

  // Makes rows up to `last` available; rows before `keep_from` may be dropped.
  void fill(long long keep_from, long long last);

  const unsigned char* row(long long t) const {
    if (held_) return held_ + t * held_stride_;
    return rows_.data() + static_cast<std::size_t>(t % capacity_) * row_bytes_;
  }

 private:
  RowSource& source_;
  // Rows the source holds in memory already are read where they are.
  const unsigned char* held_ = nullptr;
  std::ptrdiff_t held_stride_ = 0;
  std::size_t capacity_, row_bytes_, chunk_, height_;
  std::vector<unsigned char> rows_, staging_;
  long long next_ = 0;
};

}  // namespace kelvane
