// Extremum stretch: every window's soft range [soft min, soft max] is stretched onto the
// reference soft range, which evens out local contrast.
#include <algorithm>
#include <cmath>

#include "gray/gray_methods.h"
#include "leveling/soft_stats.h"

namespace kelvane {

namespace {

// Maps v from the source range onto the target range where the source range L passes the
// guard: target.min + ((v - source.min) / L) * D, D the target range; else the target's
// midpoint. With the gain capped at g and D / L > g, the window's range is stretched by g
// only, to g * L, and placed in the target range where the window lies in it, so that blank
// paper stays light and a dark background dark:
//   position = (source.min - target.min) / (D - L), clamped to [0, 1]
//   v <- (target.min + position * (D - g * L)) + (v - source.min) * g
// At D / L = g both give the same value.
template <bool capped>
inline double stretch(double v, const SoftRange& source, const SoftRange& target, double g) {
  const double L = source.range();
  const double D = target.range();
  double moved = target.min + ((v - source.min) / L) * D;
  if (capped && D / L > g) {
    const double position = std::min(std::max((source.min - target.min) / (D - L), 0.0), 1.0);
    moved = (target.min + position * (D - g * L)) + (v - source.min) * g;
  }
  return passes_guard(L) ? moved : target.midpoint();
}

template <bool capped>
void level_minmax_row_as(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                         const WindowTables tables[2], const PlaneTotals& totals, double* scratch) {
  const double q = 1.0 / how.p, g = how.max_gain;
  const std::size_t n = columns.count();
  double* min1 = scratch;
  double* max1 = scratch + n;
  soft_range_row(tables[0], width, how.radius[0], columns, q, min1, max1);
  if (how.windows == 1) {
    const SoftRange global = global_soft_range(totals, q);
    for (std::size_t x = 0; x < n; ++x) out[x] = stretch<capped>(in[x], SoftRange{min1[x], max1[x]}, global, g);
    return;
  }
  double* min2 = scratch + 2 * n;
  double* max2 = scratch + 3 * n;
  soft_range_row(tables[1], width, how.radius[1], columns, q, min2, max2);
  for (std::size_t x = 0; x < n; ++x)
    out[x] = stretch<capped>(in[x], SoftRange{min1[x], max1[x]}, SoftRange{min2[x], max2[x]}, g);
}

}  // namespace

void level_minmax_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                      const WindowTables tables[2], const PlaneTotals& totals, double* scratch) {
  if (std::isinf(how.max_gain)) level_minmax_row_as<false>(how, in, out, width, columns, tables, totals, scratch);
  else level_minmax_row_as<true>(how, in, out, width, columns, tables, totals, scratch);
}

}  // namespace kelvane
