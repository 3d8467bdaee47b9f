// Summed-area tables and window statistics against brute-force sums over the clipped window.
#include <cmath>

#include "support.h"
#include "window_stats/box_stats.h"
#include "window_stats/integral_image.h"

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

Plane table_of(literal::Img& im) {
  Plane table(im.w, im.h);
  integral_image(picture_of(im), table, 0);
  return table;
}

}  // namespace

TEST(SummedAreaTable, EveryEntryIsTheSumAboveAndLeft) {
  for (auto size : {std::pair<unsigned, unsigned>{1, 1}, {1, 7}, {9, 1}, {13, 11}}) {
    literal::Img im = integer_picture(size.first, size.second, 3);
    const Plane table = table_of(im);
    for (unsigned y = 0; y < im.h; ++y)
      for (unsigned x = 0; x < im.w; ++x) {
        double sum = 0;
        for (unsigned j = 0; j <= y; ++j)
          for (unsigned i = 0; i <= x; ++i) sum += im.at(i, j);
        ASSERT_EQ(sum, table.values[x + im.w * y]) << x << "," << y;
      }
  }
}

TEST(SummedAreaTable, WavefrontOfThreadsGivesTheSameBits) {
  // 22 rows below the first: two groups of eight rows and one of six.
  literal::Img im = random_picture(9000, 23, 1, 12);
  for (double& v : im.v) v = v / 3.0 + 1e-5;
  literal::Img expected(im.w, im.h, 1);
  literal::integral_image(im, expected, 0);
  for (const char* threads : {"1", "2", "3", "8"}) {
    setenv("KELVANE_THREADS", threads, 1);
    for (unsigned width : {9000u, 257u, 129u, 3u}) {
      Plane table(width, im.h);
      literal::Img narrow(width, im.h, 1);
      for (unsigned y = 0; y < im.h; ++y)
        for (unsigned x = 0; x < width; ++x) narrow.at(x, y) = im.at(x, y);
      literal::Img reference(width, im.h, 1);
      literal::integral_image(narrow, reference, 0);
      build_summed_area(narrow.v.data(), width, im.h, table.values.data(), [](double v) { return v; });
      EXPECT_TRUE(same_bits(reference.v, table.values)) << width << " wide, threads " << threads;
    }
  }
  unsetenv("KELVANE_THREADS");
}

TEST(BoxMean, MatchesBruteForceOverClippedWindows) {
  for (auto size : {std::pair<unsigned, unsigned>{1, 1}, {3, 1}, {1, 5}, {10, 10}, {17, 6}}) {
    literal::Img im = integer_picture(size.first, size.second, 5);
    const Plane table = table_of(im);
    for (std::uint32_t window : {0u, 1u, 2u, 3u, 5u, 8u, 40u, 0xFFFFFFFFu}) {
      const std::uint32_t r = window >> 1;
      Plane mean(im.w, im.h);
      box_mean(table, mean, r);
      for (unsigned y = 0; y < im.h; ++y)
        for (unsigned x = 0; x < im.w; ++x)
          ASSERT_EQ(brute_sum(im, x, y, r) / brute_area(im, x, y, r), mean.values[x + im.w * y])
              << size.first << "x" << size.second << " window " << window << " at " << x << "," << y;
    }
  }
}

TEST(BoxMean, ClippedWindowsAtTheBorder) {
  literal::Img im = integer_picture(10, 10, 9);
  const Plane table = table_of(im);
  auto S = [&](unsigned x, unsigned y) { return table.values[x + 10 * y]; };
  double mean[10];
  // Pixel (0, 0), r = 2: columns and rows 0..2, area 9, sum S(2, 2).
  box_mean_row(table, 0, 2, mean);
  EXPECT_EQ(S(2, 2) / 9.0, mean[0]);
  // Pixel (2, 3), r = 2: x0 = 0 since x = r, y0 = 1; only the row above is subtracted.
  box_mean_row(table, 3, 2, mean);
  EXPECT_EQ((S(4, 5) - S(4, 0)) / 25.0, mean[2]);
  // Pixel (9, 3): x0 = 7, x1 = 9: three columns.
  EXPECT_EQ((((S(9, 5) - S(6, 5)) - S(9, 0)) + S(6, 0)) / 15.0, mean[9]);
}

TEST(BoxMean, WholePictureWindowGivesTheGlobalMeanExactly) {
  literal::Img im = random_picture(12, 9, 1, 4);
  const Plane table = table_of(im);
  Plane mean(im.w, im.h);
  box_mean(table, mean, 11);  // at least the larger side - 1
  for (double m : mean.values) ASSERT_EQ(table.last() / 108.0, m);
  box_mean(table, mean, 0xFFFFFFFFu >> 1);  // a window of -1
  for (double m : mean.values) ASSERT_EQ(table.last() / 108.0, m);
}

TEST(BoxMean, OnePixelWindowIsThePixelExactlyAtTheOrigin) {
  literal::Img im = random_picture(6, 5, 1, 8);
  const Plane table = table_of(im);
  Plane mean(im.w, im.h);
  box_mean(table, mean, 0);
  EXPECT_EQ(im.v[0], mean.values[0]);
  for (std::size_t i = 0; i < im.v.size(); ++i)
    EXPECT_NEAR(im.v[i], mean.values[i], 1e-14);  // table differences round
}

TEST(BoxMeanStd, FlatWindowsHaveZeroDeviationNotNaN) {
  // 0.1 is not a binary fraction, so q / area - mean * mean rounds and can come out negative.
  literal::Img im(31, 17, 1, 0.1);
  literal::Img sq = im;
  for (double& v : sq.v) v = v * v;
  Plane values = table_of(im), squares = table_of(sq);
  Plane mean(im.w, im.h), std(im.w, im.h);
  for (std::uint32_t r : {0u, 1u, 2u, 7u, 100u}) {
    box_mean_std(values, squares, mean, std, r);
    for (double s : std.values) {
      ASSERT_FALSE(std::isnan(s)) << "r " << r;
      ASSERT_LT(s, 1e-7);
    }
  }
}
