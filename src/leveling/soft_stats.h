#pragma once
// Soft minimum and soft maximum: power means of order p that stand in for a window's true
// extremes. With q = 1 / p,
//   soft max = (mean of v^p)^q        soft min = 1 - (mean of (1 - v)^p)^q
// Local ones are box means of summed-area tables of v^p and (1 - v)^p; global ones come from
// the tables' last entries.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "leveling/row_leveling.h"

namespace kelvane {

// The values the power tables sum: v^p and (1 - v)^p, with 1 - v formed as (v * -1.0) + 1.0.
inline double power_of(double v, double p) { return std::pow(v, p); }
inline double complement_power_of(double v, double p) { return std::pow((v * -1.0) + 1.0, p); }

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

// The soft minimum and maximum of the windows of a row's columns, into min and max.
void soft_range_row(const WindowTables& tables, std::size_t width, std::uint32_t r, Columns columns, double q,
                    double* min, double* max);

// The soft range of the whole plane, from its totals.
SoftRange global_soft_range(const PlaneTotals& totals, double q);

}  // namespace kelvane
