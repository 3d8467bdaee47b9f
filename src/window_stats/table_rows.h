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

// Fills `count` (at most table_group) consecutive table rows: out[k] from the plane's values
// in[k], each below the one before; `above` is the table row above out[0], or null when
// out[0] is the table's first row.
void fill_table_rows(const double* above, const double* const* in, double* const* out, std::size_t count,
                     std::size_t width);

}  // namespace kelvane
