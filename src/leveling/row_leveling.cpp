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

void level_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
               const WindowTables tables[2], const PlaneTotals& totals, double* scratch) {
  switch (how.family) {
    case Family::mean: return level_mean_row(how, in, out, width, columns, tables, totals, scratch);
    case Family::std: return level_std_row(how, in, out, width, columns, tables, totals, scratch);
    case Family::minmax: return level_minmax_row(how, in, out, width, columns, tables, totals, scratch);
    case Family::range: return level_range_row(how, in, out, width, columns, tables, totals, scratch);
  }
}

}  // namespace kelvane
