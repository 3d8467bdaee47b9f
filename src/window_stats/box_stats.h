#pragma once
// Means and standard deviations of clipped square windows, read from summed-area tables.
//
// The window of pixel (x, y) with half window r spans columns x0..x1 and rows y0..y1:
//   x0 = x < r ? 0 : x - r      x1 = x + r < W ? x + r : W - 1      (rows alike)
// so near the borders fewer pixels are averaged, never padded ones. Its sum takes a column
// or row term only where that column or row exists:
//   ((S(x1, y1) - S(x0 - 1, y1)) - S(x1, y0 - 1)) + S(x0 - 1, y0 - 1)
// and its mean is that sum / ((x1 - x0 + 1) * (y1 - y0 + 1)), an exact count.
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace kelvane {

// The rows y0..y1 of the windows of one picture row, as the two table rows their sums read.
struct WindowRows {
  const double* bottom;  // table row y1
  const double* above;   // table row y0 - 1, or null when y0 = 0
  double rows;           // y1 - y0 + 1
};

inline std::size_t window_start(std::size_t i, std::uint32_t r) { return i < r ? 0 : i - r; }
inline std::size_t window_end(std::size_t i, std::uint32_t r, std::size_t n) {
  return i + r < n ? i + r : n - 1;
}

// A variance that rounding pushed below zero (a flat window) counts as zero, so that its
// square root is 0 rather than NaN.
inline double deviation_from(double mean_of_squares, double mean) {
  const double variance = mean_of_squares - mean * mean;
  return std::sqrt(variance < 0.0 ? 0.0 : variance);
}

// Columns [begin, end) of a row: a row is leveled a stretch of columns at a time, so that
// every buffer a stretch goes through stays in the core's nearest cache.
struct Columns {
  std::size_t begin, end;
  std::size_t count() const { return end - begin; }
};

// Means of the clipped windows of the row's pixels in `columns` (a row `width` wide), column
// x into mean[x - begin]: window sum / area.
void box_mean_row(const WindowRows& table, std::size_t width, std::uint32_t r, Columns columns, double* mean);
inline void box_mean_row(const WindowRows& table, std::size_t width, std::uint32_t r, double* mean) {
  box_mean_row(table, width, r, Columns{0, width}, mean);
}

// Means and standard deviations of the clipped windows of a row's columns, from the tables
// of the values and of their squares: mean = s / area, then std = sqrt(q / area - mean * mean).
void box_mean_std_row(const WindowRows& values, const WindowRows& squares, std::size_t width, std::uint32_t r,
                      Columns columns, double* mean, double* std);
inline void box_mean_std_row(const WindowRows& values, const WindowRows& squares, std::size_t width,
                             std::uint32_t r, double* mean, double* std) {
  box_mean_std_row(values, squares, width, r, Columns{0, width}, mean, std);
}

}  // namespace kelvane
