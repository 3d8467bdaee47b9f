#pragma once
// Leveling one row of a plane (a channel, or the gray of a colour picture) from the rows of
// its summed-area tables. Windows enter only as half windows r = window >> 1; the power
// exponent p of the soft statistics is 10.0 from the command line.
#include <cstddef>
#include <cstdint>

#include "window_stats/box_stats.h"

namespace kelvane {

enum class Family { mean, std, minmax, range };

// The summed-area tables an algorithm family reads: of the values (mean, std, range), of
// their squares (std), of v^p and of (1 - v)^p (minmax, range).
enum class Table { values, squares, powers, complements };
struct TableSet {
  bool values, squares, powers, complements;
};
TableSet tables_of(Family family);

// For one window of one row: the two rows of each table that its sums read.
struct WindowTables {
  WindowRows values, squares, powers, complements;
};

// Sums over the whole plane (the tables' last entries) and the pixel count: the reference of
// the one-window forms.
struct PlaneTotals {
  double values = 0, squares = 0, powers = 0, complements = 0;
  double pixels = 1;
};

// How the rows of a plane are leveled: the family, one window or two with their half
// windows, the power exponent of the soft statistics and the gain cap (infinity: none).
struct RowLeveling {
  Family family;
  int windows;
  std::uint32_t radius[2];
  double p;
  double max_gain;
};

// The columns of one row (`width` wide): `in` holds the plane's values of those columns, `out`
// receives the leveled ones (it may be `in`, but no table row or part of `scratch`), in[0] and
// out[0] for column columns.begin.
// With one window the reference is the plane's totals; with two, the second window.
// `scratch` holds 6 * columns.count() doubles.
void level_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns, const WindowTables tables[2],
               const PlaneTotals& totals, double* scratch);

// The same, family by family.
void level_mean_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                    const WindowTables tables[2], const PlaneTotals& totals, double* scratch);
void level_std_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                   const WindowTables tables[2], const PlaneTotals& totals, double* scratch);
void level_minmax_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                      const WindowTables tables[2], const PlaneTotals& totals, double* scratch);
void level_range_row(const RowLeveling& how, const double* in, double* out, std::size_t width, Columns columns,
                     const WindowTables tables[2], const PlaneTotals& totals, double* scratch);

}  // namespace kelvane
