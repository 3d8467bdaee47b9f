// Summed-area tables built a row at a time, and window statistics read from two of their
// rows, against brute-force sums over the clipped window.
#include <cmath>

#include "stream/table_cursor.h"
#include "support.h"
#include "window_stats/box_stats.h"

using namespace kelvane;

namespace {

// Small integers: every sum and difference of the table is exact, so table reads must give
// the brute-force sum exactly.
literal::Img integer_picture(unsigned w, unsigned h, unsigned seed) {
  literal::Img im(w, h, 1);
  std::mt19937 rng(seed);
  for (double& v : im.v) v = double(rng() % 1000);
  return im;
}

double brute_sum(const literal::Img& im, long x, long y, long r) {
  double sum = 0;
  for (long j = std::max(0L, y - r); j <= std::min<long>(im.h - 1, y + r); ++j)
    for (long i = std::max(0L, x - r); i <= std::min<long>(im.w - 1, x + r); ++i) sum += im.at(i, j);
  return sum;
}

double brute_area(const literal::Img& im, long x, long y, long r) {
  const long cols = std::min<long>(im.w - 1, x + r) - std::max(0L, x - r) + 1;
  const long rows = std::min<long>(im.h - 1, y + r) - std::max(0L, y - r) + 1;
  return double(cols * rows);
}

// The whole table, as a cursor computes it, `step` rows at a time.
std::vector<double> table_of(const literal::Img& im, long long step = 3) {
  TableCursor cursor(im.w);
  std::vector<double> table(im.v.size());
  for (long long last = 0; cursor.next() < im.h; last += step) {
    const long long from = cursor.next(), to = std::min<long long>(last, im.h - 1);
    cursor.advance(to, [&](long long t, double* out, double*) {
      for (unsigned x = 0; x < im.w; ++x) out[x] = im.at(x, unsigned(t));
    });
    for (long long t = from; t <= to; ++t) std::copy(cursor.row(t), cursor.row(t) + im.w, table.begin() + t * im.w);
  }
  return table;
}

WindowRows window(const std::vector<double>& table, unsigned w, unsigned h, unsigned y, std::uint32_t r) {
  const std::size_t y0 = window_start(y, r), y1 = window_end(y, r, h);
  return WindowRows{table.data() + y1 * w, y0 > 0 ? table.data() + (y0 - 1) * w : nullptr, double(y1 - y0 + 1)};
}

}  // namespace

TEST(SummedAreaTable, RowsMatchTheColumnByColumnReadingBitForBit) {
  for (auto size : {std::pair<unsigned, unsigned>{1, 1}, {1, 7}, {9, 1}, {13, 11}, {300, 27}}) {
    literal::Img im = random_picture(size.first, size.second, 1, 12);
    for (double& v : im.v) v = v / 3.0 + 1e-5;
    literal::Img expected(im.w, im.h, 1);
    literal::integral_image(im, expected, 0);
    // One row at a time, and in full groups of eight skewed rows.
    for (long long step : {1, 5, 8}) EXPECT_TRUE(same_bits(expected.v, table_of(im, step))) << size.first << " " << step;
    const literal::Img ints = integer_picture(size.first, size.second, 3);
    const std::vector<double> table = table_of(ints);
    EXPECT_EQ(brute_sum(ints, 0, 0, 1 << 20), table.back());
  }
}

TEST(BoxMean, MatchesBruteForceOverClippedWindows) {
  for (auto size : {std::pair<unsigned, unsigned>{1, 1}, {3, 1}, {1, 5}, {10, 10}, {17, 6}}) {
    literal::Img im = integer_picture(size.first, size.second, 5);
    const std::vector<double> table = table_of(im);
    for (std::uint32_t window_size : {0u, 1u, 2u, 3u, 5u, 8u, 40u, 0xFFFFFFFFu}) {
      const std::uint32_t r = window_size >> 1;
      std::vector<double> mean(im.w);
      for (unsigned y = 0; y < im.h; ++y) {
        box_mean_row(window(table, im.w, im.h, y, r), im.w, r, mean.data());
        for (unsigned x = 0; x < im.w; ++x)
          ASSERT_EQ(brute_sum(im, x, y, r) / brute_area(im, x, y, r), mean[x])
              << size.first << "x" << size.second << " window " << window_size << " at " << x << "," << y;
      }
    }
  }
}

TEST(BoxStats, AVarianceRoundedBelowZeroIsAFlatWindow) {
  // A window of one pixel whose table holds 0.1 and, for its square, 0.01: 0.1 * 0.1 rounds
  // to 0.010000000000000002, above the mean of the squares. The deviation is 0, never NaN.
  const double sum[1] = {0.1}, squares[1] = {0.01};
  double mean[1], deviation[1];
  box_mean_std_row(WindowRows{sum, nullptr, 1.0}, WindowRows{squares, nullptr, 1.0}, 1, 0, mean, deviation);
  EXPECT_EQ(0.1, mean[0]);
  EXPECT_EQ(0.0, deviation[0]);
}
