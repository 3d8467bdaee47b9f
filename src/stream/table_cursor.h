#pragma once
// A cursor down a summed-area table: it computes the table's rows in order, each from the
// one above and the plane's values of that row, and keeps the last few.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "window_stats/table_rows.h"

namespace kelvane {

class TableCursor {
 public:
  // Keeps the last `kept` rows it computed (at least a group and the row above it).
  explicit TableCursor(std::size_t width, std::size_t kept = table_group + 1)
      : width_(width), slots_(static_cast<long long>(std::max(kept, table_group + 1))),
        rows_(static_cast<std::size_t>(slots_) * width) {}

  // The next row it will compute.
  long long next() const { return next_; }

  // One of the rows it keeps.
  const double* row(long long t) const { return rows_.data() + static_cast<std::size_t>(t % slots_) * width_; }

  // Computes rows next() .. last; values(t, out, scratch) writes the values row t of the
  // table sums (scratch: three rows to work in). Nothing happens when last < next().
  template <class Values>
  void advance(long long last, Values values) {
    // A group of the plane's values and three rows to work in, of the calling thread: the
    // cursors of a page take turns on the threads, and need them only while they advance.
    thread_local std::vector<double> work;
    if (next_ <= last && work.size() < (table_group + 3) * width_) work.resize((table_group + 3) * width_);
    double* scratch = work.data() + table_group * width_;
    while (next_ <= last) {
      const std::size_t count = static_cast<std::size_t>(std::min<long long>(table_group, last - next_ + 1));
      const double* in[table_group];
      double* out[table_group];
      for (std::size_t k = 0; k < count; ++k) {
        double* v = work.data() + k * width_;
        values(next_ + static_cast<long long>(k), v, scratch);
        in[k] = v;
        out[k] = const_cast<double*>(row(next_ + static_cast<long long>(k)));
      }
      fill_table_rows(next_ > 0 ? row(next_ - 1) : nullptr, in, out, count, width_);
      next_ += static_cast<long long>(count);
    }
  }

  // The same where the values are codes[sample] of 8- or 16-bit samples T, every `step`-th
  // of a row from sample `first`: rows(t) gives row t's samples. The values are looked up
  // as the entries are computed.
  template <class T, class Rows>
  void advance_coded(long long last, Rows rows, const double* codes, std::size_t step, std::size_t first) {
    while (next_ <= last) {
      const std::size_t count = static_cast<std::size_t>(std::min<long long>(table_group, last - next_ + 1));
      const T* samples[table_group];
      double* out[table_group];
      for (std::size_t k = 0; k < count; ++k) {
        samples[k] = reinterpret_cast<const T*>(rows(next_ + static_cast<long long>(k))) + first;
        out[k] = const_cast<double*>(row(next_ + static_cast<long long>(k)));
      }
      fill_table_rows_from(
          next_ > 0 ? row(next_ - 1) : nullptr,
          [&samples, codes, step](std::size_t k, std::size_t x) { return codes[samples[k][x * step]]; }, out, count, 0,
          width_);
      next_ += static_cast<long long>(count);
    }
  }

 private:
  std::size_t width_;
  long long slots_;
  std::vector<double> rows_;     // row t at slot t % slots_
  long long next_ = 0;
};

}  // namespace kelvane
