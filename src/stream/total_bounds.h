#pragma once
// Bounds on a page's totals before its tables are walked. The one-window forms level every
// pixel against the plane's totals, the last entries of its summed-area tables, which the
// walk that levels the rows reaches only at its end. Where the plane's values are a constant
// times the codes of 8- or 16-bit samples (or their squares), the exact sums of the codes
// give those totals to within the rounding that the tables' additions can accumulate: the
// leveled values of the bounds then bound every pixel's, and where both give one code, that
// code is the pixel's.
#include <cstddef>
#include <vector>

#include "leveling/row_leveling.h"
#include "stream/plane_rows.h"

namespace kelvane {

// Sums over a page's held rows of each stored channel's codes and of their squares, exact;
// and upper bounds on the sums of every entry of the tables they make (the sum of
// code * (W - x) * (H - y) over the pixels), of the codes and of their squares.
struct CodeSums {
  std::vector<unsigned long long> codes, squares;  // [stored channel]
  std::vector<double> weighted_codes, weighted_squares;
};
CodeSums code_sums(const unsigned char* rows, std::ptrdiff_t row_stride, const PageLayout& layout, bool squares,
                   unsigned threads);

// Totals that every plane's tables reach, to within the rounding of their sums: between
// lo[p] and hi[p] for plane p.
struct TotalBounds {
  std::vector<PlaneTotals> lo, hi;
};

// The bounds of a page's totals, from the sums of its codes; false where some table's values
// are not a constant times the codes (or their squares), or are looked up in no codes.
// `slack` scales the rounding allowed for (1: what the sums can accumulate at most).
bool bound_totals(const PageLayout& layout, const Planes& planes, const PlaneRows& rows, const std::vector<Table>& tables,
                  const CodeSums& sums, double slack, TotalBounds& bounds);

// Whether a plane's totals lie within its bounds.
bool within(const PlaneTotals& totals, const PlaneTotals& lo, const PlaneTotals& hi);

}  // namespace kelvane
