#include "leveling/row_leveling.h"

namespace kelvane {

TableSet tables_of(Family family) {
  switch (family) {
    case Family::mean: return {true, false, false, false};
    case Family::std: return {true, true, false, false};
    case Family::minmax: return {false, false, true, true};
    case Family::range: return {true, false, true, true};
  }
  return {};
}

Reference reference_of(const PlaneTotals& totals) {
  const double mean = totals.values / totals.pixels;
  return Reference{mean, deviation_from(totals.squares / totals.pixels, mean)};
}

void reference_bounds(const PlaneTotals& lo, const PlaneTotals& hi, Reference& low, Reference& high) {
  low.mean = lo.values / lo.pixels;
  high.mean = hi.values / hi.pixels;
  // The deviation grows with the mean of the squares and shrinks as the mean grows.
  low.deviation = deviation_from(lo.squares / lo.pixels, high.mean);
  high.deviation = deviation_from(hi.squares / hi.pixels, low.mean);
}

void level_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
               const WindowTables tables[2], const PlaneTotals& totals, double* scratch) {
  switch (how.family) {
    case Family::mean: return level_mean_row(how, in, out, width, columns, tables, totals, scratch);
    case Family::std: return level_std_row(how, in, out, width, columns, tables, totals, scratch);
    case Family::minmax: return level_minmax_row(how, in, out, width, columns, tables, totals, scratch);
    case Family::range: return level_range_row(how, in, out, width, columns, tables, totals, scratch);
  }
}

void level_row_bounds(const RowLeveling& how, const double* in, double* lo, double* hi, std::size_t width,
                      Columns columns, const WindowTables& tables, const Reference& low, const Reference& high,
                      double* scratch) {
  if (how.family == Family::std) return level_std_row_bounds(how, in, lo, hi, width, columns, tables, low, high, scratch);
  level_mean_row_bounds(how, in, lo, hi, width, columns, tables, low, high, scratch);
}

double leveled_pixel(const RowLeveling& how, double v, double m, double s, const Reference& reference) {
  return how.family == Family::std ? std_leveled_pixel(how, v, m, s, reference) : mean_leveled_pixel(v, m, reference);
}

}  // namespace kelvane
