// Gray methods, their lookup, and the re-projection of a corrected gray onto the channels.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "gray/color.h"
#include "support.h"

using namespace kelvane;

namespace {
GrayMethod method(const char* name) {
  GrayMethod m = find_gray_method(name);
  EXPECT_NE(m, nullptr) << name;
  return m;
}
}  // namespace

TEST(GrayMethods, ExactValuesOfTheConstantsAndEvaluationOrder) {
  // value divides by the single-precision sqrt(3), so white comes out slightly above 1.
  EXPECT_EQ(1.0000000179482318, method("value")(1, 1, 1));
  EXPECT_EQ(0.5773502795520422, method("value")(1, 0, 0));
  EXPECT_EQ(1.0, method("lightness")(1, 1, 1));
  EXPECT_EQ(1.0, method("y709")(1, 1, 1));
  EXPECT_EQ(0.2125, method("y709")(1, 0, 0));
  // med is the middle value by subtraction, one place off the middle argument here.
  EXPECT_EQ(0.2000000000000001, method("med")(0.1, 0.2, 0.3));
  EXPECT_EQ(0.2, method("mid")(0.1, 0.2, 0.3));
  EXPECT_EQ(0.20000000000000004, method("lightness")(0.1, 0.2, 0.3));
  EXPECT_EQ(0.3, method("max")(0.1, 0.2, 0.3));
  EXPECT_EQ(0.1, method("min")(0.1, 0.2, 0.3));
  EXPECT_EQ(0.1, method("red")(0.1, 0.2, 0.3));
  EXPECT_EQ(0.2, method("green")(0.1, 0.2, 0.3));
  EXPECT_EQ(0.3, method("blue")(0.1, 0.2, 0.3));
  // y709 adds green first: ((g * 0.7154) + (r * 0.2125)) + (b * 0.0721).
  EXPECT_EQ(((0.6 * 0.7154) + (0.3 * 0.2125)) + (0.9 * 0.0721), method("y709")(0.3, 0.6, 0.9));
}

TEST(GrayMethods, SelectionIgnoresTheOrderOfTheArguments) {
  std::array<double, 3> rgb = {0.7, 0.2, 0.45};
  std::sort(rgb.begin(), rgb.end());
  const double max = 0.7, min = 0.2, mid = (0.2 + 0.7) * 0.5;
  do {
    EXPECT_EQ(max, method("max")(rgb[0], rgb[1], rgb[2]));
    EXPECT_EQ(min, method("min")(rgb[0], rgb[1], rgb[2]));
    EXPECT_EQ(mid, method("mid")(rgb[0], rgb[1], rgb[2]));
    // med subtracts from a sum whose rounding depends on the order: a few units in the last place.
    EXPECT_NEAR(0.45, method("med")(rgb[0], rgb[1], rgb[2]), 4e-16);
  } while (std::next_permutation(rgb.begin(), rgb.end()));
}

TEST(FindGrayMethod, WholeCaseSensitiveKeywordsOnly) {
  for (const char* wrong : {"Value", "VALUE", "val", "value ", "", "y 709", "lightness2"})
    EXPECT_EQ(nullptr, find_gray_method(wrong)) << '"' << wrong << '"';
  EXPECT_EQ(0.2, find_gray_method("mid")(0.1, 0.2, 0.3));
  EXPECT_EQ(0.2000000000000001, find_gray_method("med")(0.1, 0.2, 0.3));
  for (const auto& entry : gray_method_table) EXPECT_EQ(entry.method, find_gray_method(entry.keyword));
}

TEST(GrayMethods, RowsGiveEachPixelsGrayBitForBit) {
  // Rows go through loops of their own per method (in vector instructions where the
  // processor has them): every pixel must get what the method gives it, ties, values outside
  // [0, 1] and NaN included, at every position of a row longer than a vector.
  const std::size_t w = 37;
  std::vector<double> r(w), g(w), b(w), gray(w);
  std::mt19937 rng(5);
  for (std::size_t x = 0; x < w; ++x) {
    r[x] = double(rng() % 1000) / 997.0 - 0.1;
    g[x] = x % 5 == 0 ? r[x] : double(rng() % 1000) / 991.0;
    b[x] = x % 7 == 0 ? g[x] : double(rng() % 1000) / 983.0 * 1.2;
  }
  r[3] = std::nan("");
  b[11] = std::nan("");
  for (const auto& entry : gray_method_table) {
    gray_row(r.data(), g.data(), b.data(), w, entry.method, gray.data());
    std::vector<double> expected(w);
    for (std::size_t x = 0; x < w; ++x) expected[x] = entry.method(r[x], g[x], b[x]);
    EXPECT_TRUE(same_bits(expected, gray)) << entry.keyword;
  }
}

TEST(ReprojectColor, ScalesEveryValueByCorrectedOverGray) {
  std::vector<double> values = {0.2, 0.4, 0.8, 1.0};
  const std::vector<double> gray(4, 0.5), corrected(4, 0.25);
  reproject_row(values.data(), gray.data(), corrected.data(), 4);
  EXPECT_EQ((std::vector<double>{0.1, 0.2, 0.4, 0.5}), values);
}

TEST(ReprojectColor, GuardThresholdIsStrictAndSinglePrecision) {
  std::vector<double> values(4, 0.3);
  const std::vector<double> gray = {0.0, 9.999999974752427e-07, 1e-6, std::nan("")}, corrected(4, 0.5);
  reproject_row(values.data(), gray.data(), corrected.data(), 4);
  EXPECT_EQ(0.5, values[0]);  // gray 0
  EXPECT_EQ(0.5, values[1]);  // exactly the threshold: not above it
  EXPECT_EQ(0.5, values[3]);  // NaN never passes
  // 1e-6 as a double is above the widened single-precision threshold: the ratio applies.
  EXPECT_EQ((0.3 / 1e-6) * 0.5, values[2]);
}
