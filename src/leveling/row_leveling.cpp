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

void level_row(Family family, const double* in, double* out, std::size_t width, int windows,
               const std::uint32_t radius[2], const WindowTables tables[2], const PlaneTotals& totals, double p,
               double* scratch) {
  switch (family) {
    case Family::mean: return level_mean_row(in, out, width, windows, radius, tables, totals, scratch);
    case Family::std: return level_std_row(in, out, width, windows, radius, tables, totals, scratch);
    case Family::minmax: return level_minmax_row(in, out, width, windows, radius, tables, totals, p, scratch);
    case Family::range: return level_range_row(in, out, width, windows, radius, tables, totals, p, scratch);
  }
}

}  // namespace kelvane
