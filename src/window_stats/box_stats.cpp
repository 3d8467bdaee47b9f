#include "window_stats/box_stats.h"

Plane& box_mean(const Plane& table, Plane& mean, std::uint32_t r) {
  for (std::size_t y = 0; y < table.height; ++y) {
    const WindowRows rows = window_rows(table, y, r);
    double* out = mean.row(y);
    for (std::size_t x = 0; x < table.width; ++x) out[x] = window_mean(rows, x, r, table.width);
  }
  return mean;
}

Plane& box_mean_std(const Plane& values, const Plane& squares, Plane& mean, Plane& std,
                    std::uint32_t r) {
  for (std::size_t y = 0; y < values.height; ++y) {
    const WindowRows v = window_rows(values, y, r), q = window_rows(squares, y, r);
    double* m = mean.row(y);
    double* s = std.row(y);
    for (std::size_t x = 0; x < values.width; ++x) {
      const MeanStd stats = window_mean_std(v, q, x, r, values.width);
      m[x] = stats.mean;
      s[x] = stats.std;
    }
  }
  return mean;
}
