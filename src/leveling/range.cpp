// Range stretch: every value's distance from the local mean is rescaled by
// (reference soft range / local soft range) and added to the reference mean, leveling
// brightness and contrast in one step.
#include <cmath>

#include "gray/gray_methods.h"
#include "leveling/soft_stats.h"

namespace kelvane {

namespace {

// v <- target mean + ((v - source mean) / L) * target range where the source soft range L
// passes the guard, else the target mean. With the gain capped at g:
// v <- target mean + (v - source mean) * g      where target range / L > g.
template <bool capped>
inline double shift_and_stretch(double v, double source_mean, const SoftRange& source, double target_mean,
                                double target_range, double g) {
  const double L = source.range();
  double moved = target_mean + ((v - source_mean) / L) * target_range;
  if (capped && target_range / L > g) moved = target_mean + (v - source_mean) * g;
  return passes_guard(L) ? moved : target_mean;
}

// The soft minimum, soft maximum and mean of the windows of a row's columns, into three
// buffers of columns.count().
void range_stats_row(const WindowTables& tables, std::size_t width, std::uint32_t r, Columns columns, double q,
                     double* stats) {
  const std::size_t n = columns.count();
  soft_range_row(tables, width, r, columns, q, stats, stats + n);
  box_mean_row(tables.values, width, r, columns, stats + 2 * n);
}

template <bool capped>
void level_range_row_as(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                        const WindowTables tables[2], const PlaneTotals& totals, double* s) {
  const double q = 1.0 / how.p, g = how.max_gain;
  const std::size_t w = columns.count();
  range_stats_row(tables[0], width, how.radius[0], columns, q, s);
  if (how.windows == 1) {
    const SoftRange global = global_soft_range(totals, q);
    const double global_mean = totals.values / totals.pixels;
    const double global_range = global.range();
    for (std::size_t x = 0; x < w; ++x)
      out[x] = shift_and_stretch<capped>(in[x], s[2 * w + x], SoftRange{s[x], s[w + x]}, global_mean, global_range, g);
    return;
  }
  double* s2 = s + 3 * w;
  range_stats_row(tables[1], width, how.radius[1], columns, q, s2);
  for (std::size_t x = 0; x < w; ++x)
    out[x] = shift_and_stretch<capped>(in[x], s[2 * w + x], SoftRange{s[x], s[w + x]}, s2[2 * w + x],
                                       SoftRange{s2[x], s2[w + x]}.range(), g);
}

}  // namespace

void level_range_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                     const WindowTables tables[2], const PlaneTotals& totals, double* scratch) {
  if (std::isinf(how.max_gain)) level_range_row_as<false>(how, in, out, width, columns, tables, totals, scratch);
  else level_range_row_as<true>(how, in, out, width, columns, tables, totals, scratch);
}

}  // namespace kelvane
