// Extremum stretch: every window's soft range [soft min, soft max] is stretched onto the
// reference soft range, which evens out local contrast.
#include "gray/gray_methods.h"
#include "leveling/soft_stats.h"

namespace kelvane {

namespace {

// Maps v from the source range onto the target range where the source range L passes the
// guard: target.min + ((v - source.min) / L) * target.range; else the target's midpoint.
inline double stretch(double v, const SoftRange& source, const SoftRange& target) {
  const double L = source.range();
  const double moved = target.min + ((v - source.min) / L) * target.range();
  return passes_guard(L) ? moved : target.midpoint();
}

}  // namespace

void level_minmax_row(const double* in, double* out, std::size_t width, int windows, const std::uint32_t radius[2],
                      const WindowTables tables[2], const PlaneTotals& totals, double p, double* scratch) {
  const double q = 1.0 / p;
  double* min1 = scratch;
  double* max1 = scratch + width;
  soft_range_row(tables[0], width, radius[0], q, min1, max1);
  if (windows == 1) {
    const SoftRange global = global_soft_range(totals, q);
    for (std::size_t x = 0; x < width; ++x) out[x] = stretch(in[x], SoftRange{min1[x], max1[x]}, global);
    return;
  }
  double* min2 = scratch + 2 * width;
  double* max2 = scratch + 3 * width;
  soft_range_row(tables[1], width, radius[1], q, min2, max2);
  for (std::size_t x = 0; x < width; ++x)
    out[x] = stretch(in[x], SoftRange{min1[x], max1[x]}, SoftRange{min2[x], max2[x]});
}

}  // namespace kelvane
