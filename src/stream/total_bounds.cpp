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

// Pixels of a row summed apart, for the weights of the table's entries (below).
constexpr std::size_t block_pixels = 512;

// Rows [first, end): each stored channel's codes and their squares, and an upper bound on
// the sum of every table entry, sum over pixels of code * (W - x) * (H - y): each block of
// a row's pixels is weighed as if it were at its first column, and the rows as if at the
// first. A row's sample i belongs to channel i % channels: summed in lanes where that
// divides them, one by one otherwise.
template <class T>
void sum_rows(const unsigned char* rows, std::ptrdiff_t row_stride, const PageLayout& layout, bool squares,
              std::size_t first, std::size_t end, CodeSums& sums) {
  const std::size_t n = layout.channels, w = layout.width, blocks = (w + block_pixels - 1) / block_pixels;
  const std::size_t width = std::max(lanes, n);  // accumulators of a block; j holds channel j % n
  std::vector<unsigned long long> codes(blocks * width), squared(blocks * width);
  for (std::size_t y = first; y < end; ++y) {
    const T* row = reinterpret_cast<const T*>(rows + static_cast<std::ptrdiff_t>(y) * row_stride);
    for (std::size_t b = 0; b < blocks; ++b) {
      const T* block = row + b * block_pixels * n;
      const std::size_t count = (std::min(w, (b + 1) * block_pixels) - b * block_pixels) * n;
      unsigned long long* c = &codes[b * width];
      unsigned long long* q = &squared[b * width];
      if (lanes % n == 0) {
        sum_row(block, count, squares, c, q);
        continue;
      }
      for (std::size_t i = 0; i < count; ++i) {
        c[i % n] += block[i];
        q[i % n] += static_cast<unsigned long long>(block[i]) * block[i];
      }
    }
  }
  const double rows_below = static_cast<double>(layout.height - first);
  for (std::size_t b = 0; b < blocks; ++b) {
    const double weight = static_cast<double>(w - b * block_pixels) * rows_below;
    for (std::size_t j = 0; j < width; ++j) {
      sums.codes[j % n] += codes[b * width + j];
      sums.squares[j % n] += squared[b * width + j];
      sums.weighted_codes[j % n] += weight * static_cast<double>(codes[b * width + j]);
      sums.weighted_squares[j % n] += weight * static_cast<double>(squared[b * width + j]);
    }
  }
}

// The unit roundoff of doubles, 2^-53.
constexpr double unit_roundoff = std::numeric_limits<double>::epsilon() / 2;

}  // namespace

CodeSums code_sums(const unsigned char* rows, std::ptrdiff_t row_stride, const PageLayout& layout, bool squares,
                   unsigned threads) {
  const std::size_t n = layout.channels, run = 64;
  const std::size_t tasks = (layout.height + run - 1) / run;
  const CodeSums none{std::vector<unsigned long long>(n), std::vector<unsigned long long>(n), std::vector<double>(n),
                      std::vector<double>(n)};
  std::vector<CodeSums> parts(tasks, none);
  run_tasks(tasks, threads, [&](std::size_t t) {
    const std::size_t first = t * run, end = std::min(layout.height, first + run);
    if (layout.sample == SampleType::u8) sum_rows<std::uint8_t>(rows, row_stride, layout, squares, first, end, parts[t]);
    else sum_rows<std::uint16_t>(rows, row_stride, layout, squares, first, end, parts[t]);
  });
  CodeSums sums = none;
  for (const CodeSums& part : parts)
    for (std::size_t c = 0; c < n; ++c) {
      sums.codes[c] += part.codes[c];
      sums.squares[c] += part.squares[c];
      sums.weighted_codes[c] += part.weighted_codes[c];
      sums.weighted_squares[c] += part.weighted_squares[c];
    }
  return sums;
}

bool bound_totals(const PageLayout& layout, const Planes& planes, const PlaneRows& rows, const std::vector<Table>& tables,
                  const CodeSums& sums, double slack, TotalBounds& bounds) {
  if (planes.gray || (layout.sample != SampleType::u8 && layout.sample != SampleType::u16)) return false;
  const std::size_t largest = layout.sample == SampleType::u8 ? 255 : 65535;
  const double pixels = static_cast<double>(static_cast<unsigned long long>(layout.width) * layout.height);
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
      // The tables' last entry. Each entry S(x, y) is three additions whose results are at
      // most S(x - 1, y) + S(x, y - 1), S(x, y) and S(x, y), no more than 4 S(x, y) in all,
      // so it is off by at most 4u S(x, y); the last entry takes up every entry's error once:
      // 4u times the sum of all entries, which the weighed sums bound (5u allows for the
      // table of code values, off by 8u, and roundings). The margin of 64u times the total
      // covers the code values' total and the bounds' own roundings.
      const double total = k * static_cast<double>((squared ? sums.squares : sums.codes)[coded.first]);
      const double entries = k * (squared ? sums.weighted_squares : sums.weighted_codes)[coded.first];
      const double margin = slack * (5 * unit_roundoff * entries + 64 * unit_roundoff * total);
      if (!(margin < 0.5 * total) && total > 0) return false;
      const double lo = total - margin, hi = total + margin;
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
