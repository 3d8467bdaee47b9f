#include "window_stats/box_stats.h"

// Each row runs in three stretches: the columns whose window is clipped on the left, those
// clipped on neither side, and those clipped on the right. The middle stretch, nearly the
// whole row, has one area and one formula, and compiles to vector instructions; every lane
// performs the same IEEE operations in the same order as the plain formula.

namespace {

// The middle stretch [lo, hi): columns with x - r >= 1 and x + r <= W - 1.
struct Stretch {
  std::size_t lo, hi;
};

Stretch unclipped_columns(std::size_t width, std::uint32_t r) {
  const std::size_t lo = std::size_t(r) + 1;
  const std::size_t hi = width > r ? width - r : 0;
  return lo < hi ? Stretch{lo, hi} : Stretch{width, width};
}

}  // namespace

void box_mean_row(const Plane& table, std::size_t y, std::uint32_t r, double* __restrict mean) {
  const WindowRows w = window_rows(table, y, r);
  const std::size_t width = table.width;
  const Stretch middle = unclipped_columns(width, r);
  for (std::size_t x = 0; x < middle.lo; ++x) mean[x] = window_mean(w, x, r, width);
  const double area = w.rows * static_cast<double>(2 * std::size_t(r) + 1);
  const double* __restrict B = w.bottom;
  const double* __restrict A = w.above;
  const std::size_t d = std::size_t(r) + 1;  // the window of x covers columns x - d + 1 .. x + r
  if (A)
    for (std::size_t x = middle.lo; x < middle.hi; ++x)
      mean[x] = (((B[x + r] - B[x - d]) - A[x + r]) + A[x - d]) / area;
  else
    for (std::size_t x = middle.lo; x < middle.hi; ++x) mean[x] = (B[x + r] - B[x - d]) / area;
  for (std::size_t x = middle.hi; x < width; ++x) mean[x] = window_mean(w, x, r, width);
}

void box_mean_std_row(const Plane& values, const Plane& squares, std::size_t y, std::uint32_t r,
                      double* __restrict mean, double* __restrict std) {
  box_mean_row(values, y, r, mean);
  box_mean_row(squares, y, r, std);  // the mean of the squares, for now
  for (std::size_t x = 0; x < values.width; ++x) std[x] = deviation_from(std[x], mean[x]);
}

Plane& box_mean(const Plane& table, Plane& mean, std::uint32_t r) {
  for (std::size_t y = 0; y < table.height; ++y) box_mean_row(table, y, r, mean.row(y));
  return mean;
}

Plane& box_mean_std(const Plane& values, const Plane& squares, Plane& mean, Plane& std,
                    std::uint32_t r) {
  for (std::size_t y = 0; y < values.height; ++y)
    box_mean_std_row(values, squares, y, r, mean.row(y), std.row(y));
  return mean;
}
