#include "stream/total_bounds.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "image/thread_pool.h"
#include "image/vector_clones.h"

namespace kelvane {

namespace {

// Samples summed side by side: 16 pixels of 1, 2, 3 or 4 channels, so that each position
// always holds the same channel.
constexpr std::size_t lanes = 48;

// Blocks of `lanes` samples summed into 32-bit partial sums before they are carried into
// the totals: 65536 codes below 2^16, or squares below 2^16 of 8-bit codes, stay below 2^32.
constexpr std::size_t blocks_per_carry = 65536;

// Adds the codes of `count` samples of a row, and their squares, into codes[i % lanes] and
// squares[i % lanes] for sample i.
template <class T>
__attribute__((always_inline)) inline void sum_row_as(const T* row, std::size_t count, bool with_squares,
                                                      unsigned long long* codes, unsigned long long* squares) {
  // Squares of 16-bit codes need 64 bits at once.
  using Square = typename std::conditional<sizeof(T) == 1, std::uint32_t, std::uint64_t>::type;
  const std::size_t blocks = count / lanes;
  for (std::size_t first = 0; first < blocks; first += blocks_per_carry) {
    std::uint32_t a[lanes] = {};
    Square q[lanes] = {};
    const std::size_t end = std::min(blocks, first + blocks_per_carry);
    if (with_squares)
      for (std::size_t b = first; b < end; ++b)
        for (std::size_t j = 0; j < lanes; ++j) {
          const Square code = row[b * lanes + j];
          a[j] += static_cast<std::uint32_t>(code);
          q[j] += code * code;
        }
    else
      for (std::size_t b = first; b < end; ++b)
        for (std::size_t j = 0; j < lanes; ++j) a[j] += row[b * lanes + j];
    for (std::size_t j = 0; j < lanes; ++j) {
      codes[j] += a[j];
      squares[j] += q[j];
    }
  }
  for (std::size_t i = blocks * lanes; i < count; ++i) {
    codes[i % lanes] += row[i];
    squares[i % lanes] += static_cast<unsigned long long>(row[i]) * row[i];
  }
}

KELVANE_VECTOR_CLONES
void sum_row(const std::uint8_t* row, std::size_t count, bool with_squares, unsigned long long* codes,
             unsigned long long* squares) {
  sum_row_as(row, count, with_squares, codes, squares);
}

KELVANE_VECTOR_CLONES
void sum_row(const std::uint16_t* row, std::size_t count, bool with_squares, unsigned long long* codes,
             unsigned long long* squares) {
  sum_row_as(row, count, with_squares, codes, squares);
}

// Row i's sample j belongs to channel j % channels; where that does not divide the lanes,
// each channel's samples are summed one by one.
template <class T>
void sum_rows(const unsigned char* rows, std::ptrdiff_t row_stride, const PageLayout& layout, bool squares,
              std::size_t first, std::size_t end, CodeSums& sums) {
  const std::size_t n = layout.channels, count = layout.width * n;
  unsigned long long codes[lanes] = {}, squared[lanes] = {};
  for (std::size_t y = first; y < end; ++y) {
    const T* row = reinterpret_cast<const T*>(rows + static_cast<std::ptrdiff_t>(y) * row_stride);
    if (lanes % n == 0) {
      sum_row(row, count, squares, codes, squared);
      continue;
    }
    for (std::size_t i = 0; i < count; ++i) {
      sums.codes[i % n] += row[i];
      sums.squares[i % n] += static_cast<unsigned long long>(row[i]) * row[i];
    }
  }
  for (std::size_t j = 0; j < lanes; ++j) {
    sums.codes[j % n] += codes[j];
    sums.squares[j % n] += squared[j];
  }
}

// The unit roundoff of doubles, 2^-53.
constexpr double unit_roundoff = std::numeric_limits<double>::epsilon() / 2;

}  // namespace

CodeSums code_sums(const unsigned char* rows, std::ptrdiff_t row_stride, const PageLayout& layout, bool squares,
                   unsigned threads) {
  const std::size_t n = layout.channels, run = 64;
  const std::size_t tasks = (layout.height + run - 1) / run;
  std::vector<CodeSums> parts(tasks, CodeSums{std::vector<unsigned long long>(n), std::vector<unsigned long long>(n)});
  run_tasks(tasks, threads, [&](std::size_t t) {
    const std::size_t first = t * run, end = std::min(layout.height, first + run);
    if (layout.sample == SampleType::u8) sum_rows<std::uint8_t>(rows, row_stride, layout, squares, first, end, parts[t]);
    else sum_rows<std::uint16_t>(rows, row_stride, layout, squares, first, end, parts[t]);
  });
  CodeSums sums{std::vector<unsigned long long>(n), std::vector<unsigned long long>(n)};
  for (const CodeSums& part : parts)
    for (std::size_t c = 0; c < n; ++c) {
      sums.codes[c] += part.codes[c];
      sums.squares[c] += part.squares[c];
    }
  return sums;
}

bool bound_totals(const PageLayout& layout, const Planes& planes, const PlaneRows& rows, const std::vector<Table>& tables,
                  const CodeSums& sums, double slack, TotalBounds& bounds) {
  if (planes.gray || (layout.sample != SampleType::u8 && layout.sample != SampleType::u16)) return false;
  const std::size_t largest = layout.sample == SampleType::u8 ? 255 : 65535;
  const double pixels = static_cast<double>(static_cast<unsigned long long>(layout.width) * layout.height);
  // The tables' sums: every entry is three additions of numbers no greater than twice the
  // total, so each entry is off by at most 6u times the total, and the last entry, which
  // takes up every entry's error once, by 6u times the total times the pixel count. The
  // table of code values is allowed 8u; the rest of the margin covers the few roundings
  // of the bounds themselves.
  const double spread = slack * (8 * unit_roundoff * pixels + 64 * unit_roundoff);
  if (!(spread < 0.5)) return false;
  // The sums of squares of 16-bit codes must fit their 64 bits.
  if (pixels * double(largest) * double(largest) >= 1.8e19) return false;
  bounds.lo.assign(planes.count(), PlaneTotals());
  bounds.hi.assign(planes.count(), PlaneTotals());
  for (std::size_t p = 0; p < planes.count(); ++p) {
    bounds.lo[p].pixels = bounds.hi[p].pixels = pixels;
    for (std::size_t t = 0; t < tables.size(); ++t) {
      if (tables[t] != Table::values && tables[t] != Table::squares) return false;
      const PlaneRows::Coded coded = rows.coded(p, t);
      if (!coded.codes) return false;
      // The table's value for each code must be k times the code (or its square) to 8u.
      const bool squared = tables[t] == Table::squares;
      const auto power = [squared](std::size_t c) { return squared ? double(c) * double(c) : double(c); };
      const double k = coded.codes[largest] / power(largest);
      if (!(k > 0 && std::isfinite(k))) return false;
      for (std::size_t c = 0; c <= largest; ++c) {
        const double expected = k * power(c);
        if (!(std::fabs(coded.codes[c] - expected) <= 8 * unit_roundoff * expected)) return false;
      }
      const unsigned long long sum = (squared ? sums.squares : sums.codes)[coded.first];
      const double total = k * static_cast<double>(sum);
      const double lo = total * (1 - spread), hi = total * (1 + spread);
      (squared ? bounds.lo[p].squares : bounds.lo[p].values) = lo;
      (squared ? bounds.hi[p].squares : bounds.hi[p].values) = hi;
    }
  }
  return true;
}

bool within(const PlaneTotals& totals, const PlaneTotals& lo, const PlaneTotals& hi) {
  return lo.values <= totals.values && totals.values <= hi.values && lo.squares <= totals.squares &&
         totals.squares <= hi.squares && lo.powers <= totals.powers && totals.powers <= hi.powers &&
         lo.complements <= totals.complements && totals.complements <= hi.complements;
}

}  // namespace kelvane
