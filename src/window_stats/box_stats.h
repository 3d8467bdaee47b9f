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

#include "image/picture.h"

// The rows y0..y1 of one window row, as the two table rows the window sum reads.
struct WindowRows {
  const double* bottom;  // table row y1
  const double* above;   // table row y0 - 1, or null when y0 = 0
  double rows;           // y1 - y0 + 1
};

inline std::size_t window_start(std::size_t i, std::uint32_t r) { return i < r ? 0 : i - r; }
inline std::size_t window_end(std::size_t i, std::uint32_t r, std::size_t n) {
  return i + r < n ? i + r : n - 1;
}

inline WindowRows window_rows(const Plane& table, std::size_t y, std::uint32_t r) {
  const std::size_t y0 = window_start(y, r), y1 = window_end(y, r, table.height);
  return WindowRows{table.row(y1), y0 > 0 ? table.row(y0 - 1) : nullptr,
                    static_cast<double>(y1 - y0 + 1)};
}

// A variance that rounding pushed below zero (a flat window) counts as zero, so that its
// square root is 0 rather than NaN.
inline double deviation_from(double mean_of_squares, double mean) {
  const double variance = mean_of_squares - mean * mean;
  return std::sqrt(variance < 0.0 ? 0.0 : variance);
}

// Means of the clipped windows of every pixel of row y: window sum / area.
void box_mean_row(const Plane& table, std::size_t y, std::uint32_t r, double* mean);

// Means and standard deviations of the clipped windows of row y, from the tables of the
// values and of their squares: mean = s / area, then std = sqrt(q / area - mean * mean).
void box_mean_std_row(const Plane& values, const Plane& squares, std::size_t y, std::uint32_t r,
                      double* mean, double* std);

// Whole images of local means (and deviations), row after row.
Plane& box_mean(const Plane& table, Plane& mean, std::uint32_t r);
Plane& box_mean_std(const Plane& values, const Plane& squares, Plane& mean, Plane& std,
                    std::uint32_t r);
