#include "leveling/soft_stats.h"

namespace kelvane {

void soft_range_row(const WindowTables& tables, std::size_t width, std::uint32_t r, Columns columns, double q,
                    double* min, double* max) {
  box_mean_row(tables.powers, width, r, columns, max);
  box_mean_row(tables.complements, width, r, columns, min);
  for (std::size_t x = 0; x < columns.count(); ++x) {
    max[x] = soft_root(max[x], q);
    min[x] = 1.0 - soft_root(min[x], q);
  }
}

SoftRange global_soft_range(const PlaneTotals& totals, double q) {
  return SoftRange{1.0 - soft_root(totals.complements / totals.pixels, q), soft_root(totals.powers / totals.pixels, q)};
}

}  // namespace kelvane
