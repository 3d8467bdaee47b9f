// Mean leveling: every value is shifted by (reference mean - local mean), which removes slow
// changes of brightness and keeps local detail.
#include "image/vector_clones.h"
#include "leveling/row_leveling.h"

namespace kelvane {

// One window:  v <- (v - local mean) + g, with g the plane's global mean.
// Two windows: v <- (v - mean over window 1) + mean over window 2.
// Nothing is stretched, so the gain cap has nothing to bound.
KELVANE_VECTOR_CLONES
void level_mean_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                    const WindowTables tables[2], const PlaneTotals& totals, double* scratch) {
  const std::size_t n = columns.count();
  double* mean1 = scratch;
  box_mean_row(tables[0].values, width, how.radius[0], columns, mean1);
  if (how.windows == 1) {
    const Reference g = reference_of(totals);
    for (std::size_t x = 0; x < n; ++x) out[x] = mean_leveled_pixel(in[x], mean1[x], g);
    return;
  }
  double* mean2 = scratch + n;
  box_mean_row(tables[1].values, width, how.radius[1], columns, mean2);
  for (std::size_t x = 0; x < n; ++x) out[x] = (in[x] - mean1[x]) + mean2[x];
}

// Adding the reference rounds monotonically: the bounds' values bound every reference's.
KELVANE_VECTOR_CLONES
void level_mean_row_bounds(const RowLeveling& how, const double* in, double* lo, double* hi, std::size_t width,
                           Columns columns, const WindowTables& tables, const Reference& low, const Reference& high,
                           double* scratch) {
  const std::size_t n = columns.count();
  double* mean1 = scratch;
  box_mean_row(tables.values, width, how.radius[0], columns, mean1);
  const Reference L = low, H = high;  // held apart from the rows written, for vector instructions
  for (std::size_t x = 0; x < n; ++x) {
    lo[x] = mean_leveled_pixel(in[x], mean1[x], L);
    hi[x] = mean_leveled_pixel(in[x], mean1[x], H);
  }
}

}  // namespace kelvane
