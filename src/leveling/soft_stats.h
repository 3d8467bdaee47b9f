#pragma once
// Soft minimum and soft maximum: power means of order p that stand in for a window's true
// extremes. With q = 1 / p,
//   soft max = (mean of v^p)^q        soft min = 1 - (mean of (1 - v)^p)^q
// Local ones are box means of summed-area tables of v^p and (1 - v)^p; global ones come from
// the tables' last entries.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "leveling/plane_pass.h"
#include "window_stats/box_stats.h"

// A mean of non-negative powers that cancellation in the table pushed below zero counts as
// zero, so that its root is 0 rather than NaN.
inline double soft_root(double mean_of_powers, double q) {
  return std::pow(mean_of_powers < 0.0 ? 0.0 : mean_of_powers, q);
}

struct SoftRange {
  double min;
  double max;
  double range() const { return max - min; }
  double midpoint() const { return min + range() * 0.5; }
};

// The tables of v^p and of (1 - v)^p of one plane.
struct PowerTables {
  Plane power;
  Plane complement_power;
};

PowerTables power_tables(const PlanePass& pass, double p);

// The soft minimum and maximum of the window of every pixel of row y, into min and max.
void soft_range_row(const PowerTables& t, std::size_t y, std::uint32_t r, double q, double* min, double* max);

// The soft range of the whole plane, from the tables' last entries.
SoftRange global_soft_range(const PowerTables& t, double q);
