// Range stretch: every value's distance from the local mean is rescaled by
// (reference soft range / local soft range) and added to the reference mean, leveling
// brightness and contrast in one step.
#include "gray/gray_methods.h"
#include "leveling/soft_stats.h"

namespace kelvane {

namespace {

// v <- target mean + ((v - source mean) / L) * target range where the source soft range L
// passes the guard, else the target mean.
inline double shift_and_stretch(double v, double source_mean, const SoftRange& source, double target_mean,
                                double target_range) {
  const double L = source.range();
  const double moved = target_mean + ((v - source_mean) / L) * target_range;
  return passes_guard(L) ? moved : target_mean;
}

// The soft minimum, soft maximum and mean of every window of a row, into three buffers.
void range_stats_row(const WindowTables& tables, std::size_t width, std::uint32_t r, double q, double* stats) {
  soft_range_row(tables, width, r, q, stats, stats + width);
  box_mean_row(tables.values, width, r, stats + 2 * width);
}

}  // namespace

void level_range_row(const double* in, double* out, std::size_t width, int windows, const std::uint32_t radius[2],
                     const WindowTables tables[2], const PlaneTotals& totals, double p, double* s) {
  const double q = 1.0 / p;
  const std::size_t w = width;
  range_stats_row(tables[0], w, radius[0], q, s);
  if (windows == 1) {
    const SoftRange global = global_soft_range(totals, q);
    const double global_mean = totals.values / totals.pixels;
    const double global_range = global.range();
    for (std::size_t x = 0; x < w; ++x)
      out[x] = shift_and_stretch(in[x], s[2 * w + x], SoftRange{s[x], s[w + x]}, global_mean, global_range);
    return;
  }
  double* s2 = s + 3 * w;
  range_stats_row(tables[1], w, radius[1], q, s2);
  for (std::size_t x = 0; x < w; ++x)
    out[x] = shift_and_stretch(in[x], s[2 * w + x], SoftRange{s[x], s[w + x]}, s2[2 * w + x],
                               SoftRange{s2[x], s2[w + x]}.range());
}

}  // namespace kelvane
