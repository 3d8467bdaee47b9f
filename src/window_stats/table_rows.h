#pragma once
// Summed-area tables, a row at a time: S(x, y) is the sum of the plane over columns 0..x
// and rows 0..y, computed as
//   S(0, 0) = I(0, 0)
//   S(x, 0) = I(x, 0) + S(x - 1, 0)
//   S(0, y) = I(0, y) + S(0, y - 1)
//   S(x, y) = ((S(x - 1, y) + S(x, y - 1)) - S(x - 1, y - 1)) + I(x, y)
// Each entry depends only on its left, upper and upper-left neighbours, so a row needs only
// the row above it and its own values: the tables are never held whole.
#include <cstddef>

namespace kelvane {

// How many rows are filled together: their chains of dependent additions overlap.
constexpr std::size_t table_group = 8;

namespace table_rows_detail {

template <class Input>
void fill_row(Input in, std::size_t k, const double* above, double* row, std::size_t begin, std::size_t end) {
  std::size_t x = begin;
  if (x == 0 && x < end) {
    row[0] = above ? in(k, 0) + above[0] : in(k, 0);
    ++x;
  }
  if (above)
    for (; x < end; ++x) row[x] = ((row[x - 1] + above[x]) - above[x - 1]) + in(k, x);
  else
    for (; x < end; ++x) row[x] = in(k, x) + row[x - 1];
}

}  // namespace table_rows_detail

// Fills columns [begin, end) of `count` (at most table_group) consecutive table rows: out[k]
// from the plane's values in(k, x) of row k at column x, each row below the one before;
// `above` is the table row above out[0], or null when out[0] is the table's first row. The
// columns before `begin` must be filled already. The values are asked for as the entries are
// computed, so that they need not be written out first.
//
// A full group of rows below an existing one goes skewed by one column a row: row k is
// filled at column s - k in step s, after rows k - 1 and k have passed the columns it reads.
// The operands of every entry are those of the plain row loop, so are the bits.
template <class Input>
void fill_table_rows_from(const double* above, Input in, double* const* out, std::size_t count, std::size_t begin,
                          std::size_t end) {
  constexpr std::size_t K = table_group;
  if (count != K || !above || end < begin + 2) {
    for (std::size_t k = 0; k < count; ++k)
      table_rows_detail::fill_row(in, k, k == 0 ? above : out[k - 1], out[k], begin, end);
    return;
  }
  const double* up[K];
  for (std::size_t k = 0; k < K; ++k) up[k] = k == 0 ? above : out[k - 1];
  std::size_t start = begin;
  if (start == 0) {
    for (std::size_t k = 0; k < K; ++k) out[k][0] = in(k, 0) + up[k][0];
    start = 1;
  }
  const auto cell = [&](std::size_t k, std::size_t x) {
    out[k][x] = ((out[k][x - 1] + up[k][x]) - up[k][x - 1]) + in(k, x);
  };
  const auto partial_step = [&](std::size_t s) {
    for (std::size_t k = 0; k < K; ++k)
      if (s >= start + k && s - k < end) cell(k, s - k);
  };
  std::size_t s = start;
  for (; s < start + K - 1; ++s) partial_step(s);
  if (s < end) {
    // Every row has a cell in each step. The newest entry of each row stays in a register:
    // read back from memory it would wait for its own store on every step. Rows go from the
    // last up, so that left[k - 1] is still the entry of row k - 1 above the new cell.
    double left[K];
    for (std::size_t k = 0; k < K; ++k) left[k] = out[k][s - 1 - k];
    for (; s < end; ++s) {
      for (std::size_t k = K; k-- > 0;) {
        const std::size_t x = s - k;
        const double up_here = k == 0 ? above[x] : left[k - 1];
        left[k] = ((left[k] + up_here) - up[k][x - 1]) + in(k, x);
        out[k][x] = left[k];
      }
    }
  }
  for (; s < end + K - 1; ++s) partial_step(s);
}

// The same from rows of values: in[k] is row k's.
inline void fill_table_rows(const double* above, const double* const* in, double* const* out, std::size_t count,
                            std::size_t width) {
  fill_table_rows_from(above, [in](std::size_t k, std::size_t x) { return in[k][x]; }, out, count, 0, width);
}

}  // namespace kelvane
