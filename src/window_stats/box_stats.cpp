#include "window_stats/box_stats.h"

#include <algorithm>

#include "image/vector_clones.h"

namespace kelvane {

// Along a row, the clipped window of column x has x0 = 0 while x <= r and x1 = W - 1 once
// x + r >= W. That splits the row into stretches in which the window sum has one formula
// and the area a simple expression of x, so that each stretch compiles to vector
// instructions; every lane performs the plain formula's IEEE operations in its order:
//   x0 = 0,     x1 = x + r:  S(x + r) [- above]                                  cols x + r + 1
//   x0 = 0,     x1 = W - 1:  S(W - 1) [- above]                                  cols W
//   x0 = x - r, x1 = x + r:  ((S(x + r) - S(x - r - 1)) [- above(x + r)]) [+ above(x - r - 1)]   cols 2r + 1
//   x0 = x - r, x1 = W - 1:  the same with W - 1 for x + r                       cols W - x + r
KELVANE_VECTOR_CLONES
void box_mean_row(const WindowRows& w, std::size_t width, std::uint32_t r, Columns columns, double* __restrict out) {
  const std::size_t W = width, R = r;
  const double rows = w.rows;
  const double* __restrict B = w.bottom;
  const double* __restrict A = w.above;
  const std::size_t last = W - 1;
  const std::size_t left_end = std::min(W, R + 1);           // x < left_end: x0 = 0
  const std::size_t right_begin = W > R ? W - R : 0;          // x >= right_begin: x1 = W - 1
  const std::size_t both_clipped_end = std::max(left_end, right_begin);
  // Each stretch is run over its columns within [begin, end); column x goes to out[x - begin].
  const std::size_t begin = columns.begin, end = columns.end;
  const auto from = [&](std::size_t x) { return std::max(x, begin); };
  const auto to = [&](std::size_t x) { return std::min(x, end); };
  double* __restrict mean = out;

  // x0 = 0, x1 = x + r
  const std::size_t first_end = std::min(left_end, right_begin);
  if (A)
    for (std::size_t x = from(0); x < to(first_end); ++x) mean[x - begin] = (B[x + R] - A[x + R]) / (rows * double(x + R + 1));
  else
    for (std::size_t x = from(0); x < to(first_end); ++x) mean[x - begin] = B[x + R] / (rows * double(x + R + 1));

  // x0 = 0, x1 = W - 1: the whole width (read only where such columns are asked for: the
  // rows may hold only the columns the others read)
  if (from(right_begin) < to(left_end)) {
    const double whole = (A ? B[last] - A[last] : B[last]) / (rows * double(W));
    for (std::size_t x = from(right_begin); x < to(left_end); ++x) mean[x - begin] = whole;
  }

  // x0 = x - r, x1 = x + r
  const double area = rows * double(2 * R + 1);
  if (A)
    for (std::size_t x = from(left_end); x < to(right_begin); ++x)
      mean[x - begin] = (((B[x + R] - B[x - R - 1]) - A[x + R]) + A[x - R - 1]) / area;
  else
    for (std::size_t x = from(left_end); x < to(right_begin); ++x) mean[x - begin] = (B[x + R] - B[x - R - 1]) / area;

  // x0 = x - r, x1 = W - 1
  if (A)
    for (std::size_t x = from(both_clipped_end); x < to(W); ++x)
      mean[x - begin] = (((B[last] - B[x - R - 1]) - A[last]) + A[x - R - 1]) / (rows * double(W - x + R));
  else
    for (std::size_t x = from(both_clipped_end); x < to(W); ++x) mean[x - begin] = (B[last] - B[x - R - 1]) / (rows * double(W - x + R));
}

KELVANE_VECTOR_CLONES
void box_mean_std_row(const WindowRows& values, const WindowRows& squares, std::size_t width, std::uint32_t r,
                      Columns columns, double* __restrict mean, double* __restrict std) {
  box_mean_row(values, width, r, columns, mean);
  box_mean_row(squares, width, r, columns, std);  // the mean of the squares, for now
  for (std::size_t x = 0; x < columns.count(); ++x) std[x] = deviation_from(std[x], mean[x]);
}

}  // namespace kelvane
