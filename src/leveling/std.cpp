// Contrast leveling: every value's distance from the local mean is rescaled by
// (reference deviation / local deviation) and added to the reference mean, so dull regions
// gain contrast and harsh ones lose it.
#include <cmath>

#include "gray/gray_methods.h"
#include "image/vector_clones.h"
#include "leveling/row_leveling.h"

namespace kelvane {

namespace {

// v <- ((v - m) * (T / s)) + M where the local deviation s passes the guard, else M: the
// target mean and deviation M and T are the plane's global ones, or the second window's.
// With the gain capped at g:
// v <- ((v - m) * min(T / s, g)) + M, the same where T / s is at most g (a NaN factor too).
// A row is rescaled everywhere first and then given M where s fails the guard: two loops of
// plain operations and selections, which run in vector instructions (a division under a
// condition would not).
template <bool capped>
inline double rescaled(double v, double m, double s, double M, double T, double g) {
  double factor = T / s;
  if (capped) factor = factor > g ? g : factor;
  return ((v - m) * factor) + M;
}

// Inlined into both copies of level_std_row, so that its loops take their instructions.
template <bool capped>
__attribute__((always_inline)) inline void level_std_row_as(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                      const WindowTables tables[2], const PlaneTotals& totals, double* scratch) {
  const double g = how.max_gain;
  const std::size_t n = columns.count();
  double* mean1 = scratch;
  double* std1 = scratch + n;
  box_mean_std_row(tables[0].values, tables[0].squares, width, how.radius[0], columns, mean1, std1);
  if (how.windows == 1) {
    // The target: the plane's global mean G and deviation S = sqrt(Q / n - G * G).
    const Reference target = reference_of(totals);
    const double G = target.mean, S = target.deviation;
    for (std::size_t x = 0; x < n; ++x) out[x] = rescaled<capped>(in[x], mean1[x], std1[x], G, S, g);
    for (std::size_t x = 0; x < n; ++x) out[x] = passes_guard(std1[x]) ? out[x] : G;
    return;
  }
  // Two windows: the first window's mean and deviation are replaced by the second's.
  double* mean2 = scratch + 2 * n;
  double* std2 = scratch + 3 * n;
  box_mean_std_row(tables[1].values, tables[1].squares, width, how.radius[1], columns, mean2, std2);
  for (std::size_t x = 0; x < n; ++x) out[x] = rescaled<capped>(in[x], mean1[x], std1[x], mean2[x], std2[x], g);
  for (std::size_t x = 0; x < n; ++x) out[x] = passes_guard(std1[x]) ? out[x] : mean2[x];
}

// With the target between `low` and `high`: the value grows with the target mean, and with
// the target deviation where v >= m (shrinks where v < m), each operation rounding
// monotonically; so the least and the greatest value come from the low and the high mean.
// The two divisions by s serve both means.
template <bool capped>
__attribute__((always_inline)) inline void level_std_row_bounds_as(const RowLeveling& how, const double* in, double* lo,
                                                                   double* hi, std::size_t width, Columns columns,
                                                                   const WindowTables& tables, const Reference& low,
                                                                   const Reference& high, double* scratch) {
  const double g = how.max_gain;
  const std::size_t n = columns.count();
  double* mean1 = scratch;
  double* std1 = scratch + n;
  box_mean_std_row(tables.values, tables.squares, width, how.radius[0], columns, mean1, std1);
  // Held apart from the rows written, so that the loops run in vector instructions.
  const double M0 = low.mean, M1 = high.mean, T0 = low.deviation, T1 = high.deviation;
  for (std::size_t x = 0; x < n; ++x) {
    const double a = rescaled<capped>(in[x], mean1[x], std1[x], M0, T0, g);
    const double b = rescaled<capped>(in[x], mean1[x], std1[x], M0, T1, g);
    const double c = rescaled<capped>(in[x], mean1[x], std1[x], M1, T0, g);
    const double d = rescaled<capped>(in[x], mean1[x], std1[x], M1, T1, g);
    lo[x] = a < b ? a : b;
    hi[x] = c > d ? c : d;
  }
  for (std::size_t x = 0; x < n; ++x) {
    lo[x] = passes_guard(std1[x]) ? lo[x] : M0;
    hi[x] = passes_guard(std1[x]) ? hi[x] : M1;
  }
}

}  // namespace

KELVANE_VECTOR_CLONES
void level_std_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                   const WindowTables tables[2], const PlaneTotals& totals, double* scratch) {
  if (std::isinf(how.max_gain)) level_std_row_as<false>(how, in, out, width, columns, tables, totals, scratch);
  else level_std_row_as<true>(how, in, out, width, columns, tables, totals, scratch);
}

KELVANE_VECTOR_CLONES
void level_std_row_bounds(const RowLeveling& how, const double* in, double* lo, double* hi, std::size_t width,
                          Columns columns, const WindowTables& tables, const Reference& low, const Reference& high,
                          double* scratch) {
  if (std::isinf(how.max_gain)) level_std_row_bounds_as<false>(how, in, lo, hi, width, columns, tables, low, high, scratch);
  else level_std_row_bounds_as<true>(how, in, lo, hi, width, columns, tables, low, high, scratch);
}

double std_leveled_pixel(const RowLeveling& how, double v, double m, double s, const Reference& target) {
  if (!passes_guard(s)) return target.mean;
  return std::isinf(how.max_gain) ? rescaled<false>(v, m, s, target.mean, target.deviation, how.max_gain)
                                  : rescaled<true>(v, m, s, target.mean, target.deviation, how.max_gain);
}

}  // namespace kelvane
