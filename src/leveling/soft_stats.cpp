#include "leveling/soft_stats.h"

namespace kelvane {

void soft_range_row(const WindowTables& tables, std::size_t width, std::uint32_t r, double q, double* min,
                    double* max) {
  box_mean_row(tables.powers, width, r, max);
  box_mean_row(tables.complements, width, r, min);
  for (std::size_t x = 0; x < width; ++x) {
    max[x] = soft_root(max[x], q);
    min[x] = 1.0 - soft_root(min[x], q);
  }
}

SoftRange global_soft_range(const PlaneTotals& totals, double q) {
  return SoftRange{1.0 - soft_root(totals.complements / totals.pixels, q), soft_root(totals.powers / totals.pixels, q)};
}

}  // namespace kelvane
