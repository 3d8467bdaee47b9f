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

// The reference of the one-window forms, from a plane's totals: its global mean G = values / n
// and deviation S = sqrt(squares / n - G * G) (0 where the plane has no table of squares).
struct Reference {
  double mean, deviation;
};
Reference reference_of(const PlaneTotals& totals);

// The references of every totals between lo and hi lie between `low` and `high`: each
// operation that makes them rounds monotonically (the mean never negative).
void reference_bounds(const PlaneTotals& lo, const PlaneTotals& hi, Reference& low, Reference& high);

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

// With one window of mean or std and a reference known only between `low` and `high`: lo[x]
// and hi[x] bound the leveled value of every reference between them. Leaves the window means
// in scratch[0, n) and, for std, the deviations in scratch[n, 2n), n = columns.count().
void level_row_bounds(const RowLeveling& how, const double* in, double* lo, double* hi, std::size_t width,
                      Columns columns, const WindowTables& tables, const Reference& low, const Reference& high,
                      double* scratch);
void level_mean_row_bounds(const RowLeveling& how, const double* in, double* lo, double* hi, std::size_t width,
                           Columns columns, const WindowTables& tables, const Reference& low, const Reference& high,
                           double* scratch);
void level_std_row_bounds(const RowLeveling& how, const double* in, double* lo, double* hi, std::size_t width,
                          Columns columns, const WindowTables& tables, const Reference& low, const Reference& high,
                          double* scratch);

// One pixel's leveled value with one window of mean or std, from its value v, its window's
// mean m and deviation s (std only) and the reference: what level_row gives it.
double leveled_pixel(const RowLeveling& how, double v, double m, double s, const Reference& reference);
inline double mean_leveled_pixel(double v, double m, const Reference& reference) { return (v - m) + reference.mean; }
double std_leveled_pixel(const RowLeveling& how, double v, double m, double s, const Reference& reference);

}  // namespace kelvane
