#include "window_stats/table_rows.h"

namespace kelvane {

namespace {

void fill_row(const double* in, const double* above, double* row, std::size_t width) {
  if (width == 0) return;
  row[0] = above ? in[0] + above[0] : in[0];
  if (above)
    for (std::size_t x = 1; x < width; ++x) row[x] = ((row[x - 1] + above[x]) - above[x - 1]) + in[x];
  else
    for (std::size_t x = 1; x < width; ++x) row[x] = in[x] + row[x - 1];
}

}  // namespace

// A full group of rows below an existing one goes skewed by one column a row: row k is
// filled at column s - k in step s, after rows k - 1 and k have passed the columns it reads.
// The operands of every entry are those of the plain row loop, so are the bits.
void fill_table_rows(const double* above, const double* const* in, double* const* out, std::size_t count,
                     std::size_t width) {
  constexpr std::size_t K = table_group;
  if (count != K || !above || width < 2) {
    for (std::size_t k = 0; k < count; ++k) fill_row(in[k], k == 0 ? above : out[k - 1], out[k], width);
    return;
  }
  const double* up[K];
  for (std::size_t k = 0; k < K; ++k) {
    up[k] = k == 0 ? above : out[k - 1];
    out[k][0] = in[k][0] + up[k][0];
  }
  const auto cell = [&](std::size_t k, std::size_t x) {
    out[k][x] = ((out[k][x - 1] + up[k][x]) - up[k][x - 1]) + in[k][x];
  };
  const auto partial_step = [&](std::size_t s) {
    for (std::size_t k = 0; k < K; ++k)
      if (s >= 1 + k && s - k < width) cell(k, s - k);
  };
  std::size_t s = 1;
  for (; s < K; ++s) partial_step(s);
  if (s < width) {
    // Every row has a cell in each step. The newest entry of each row stays in a register:
    // read back from memory it would wait for its own store on every step. Rows go from the
    // last up, so that left[k - 1] is still the entry of row k - 1 above the new cell.
    double left[K];
    for (std::size_t k = 0; k < K; ++k) left[k] = out[k][s - 1 - k];
    for (; s < width; ++s) {
#pragma GCC unroll 8
      for (std::size_t k = K; k-- > 0;) {
        const std::size_t x = s - k;
        const double up_here = k == 0 ? above[x] : left[k - 1];
        left[k] = ((left[k] + up_here) - up[k][x - 1]) + in[k][x];
        out[k][x] = left[k];
      }
    }
  }
  for (; s < width + K - 1; ++s) partial_step(s);
}

}  // namespace kelvane
