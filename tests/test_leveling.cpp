// The sixteen leveling operations: bit for bit against the literal reading of the formulas,
// with one thread and with two, plus the exact values and invariants the formulas promise.
#include <cmath>
#include <cstdlib>
#include <functional>
#include <stdexcept>

#include "leveling/algorithms.h"
#include "stream_support.h"
#include "support.h"

using namespace kelvane;

namespace {

struct Operation {
  std::string name;
  const Algorithm* algorithm;
  int windows;
};

// The tool's sixteen operations, as the algorithm table gives them.
const std::vector<Operation>& operations() {
  static const std::vector<Operation> ops = [] {
    std::vector<Operation> list;
    for (const Algorithm& a : algorithm_table) {
      list.push_back({a.keyword, &a, 1});
      list.push_back({std::string(a.keyword) + "2", &a, 2});
    }
    return list;
  }();
  return ops;
}

std::vector<double> run_fast(const Operation& op, const literal::Img& input, std::uint32_t w1, std::uint32_t w2,
                             GrayMethod m, unsigned threads = 2) {
  return level_stream(input, *op.algorithm, op.windows, w1, w2, m, threads);
}

// The literal reading of the operation, by its keyword: a slip in the algorithm table fails.
std::vector<double> run_reference(const Operation& op, const literal::Img& input, std::uint32_t w1,
                                  std::uint32_t w2, GrayMethod m) {
  literal::Img copy = input;
  literal::level(op.algorithm->keyword, op.windows, copy, w1, w2, m);
  return copy.v;
}

const Operation& operation(const std::string& name) {
  for (const auto& op : operations())
    if (op.name == name) return op;
  throw std::runtime_error(name);
}

literal::Img constant_picture(unsigned w, unsigned h, unsigned s, double value) {
  return literal::Img(w, h, s, value);
}

}  // namespace

TEST(Leveling, EveryOperationMatchesTheLiteralFormulasBitForBit) {
  struct Size {
    unsigned w, h, s;
  };
  const Size sizes[] = {{1, 1, 3}, {1, 7, 1}, {9, 1, 3}, {5, 3, 4}, {31, 17, 3}, {64, 33, 1}, {23, 40, 2}, {160, 29, 3}};
  const std::pair<std::uint32_t, std::uint32_t> windows[] = {
      {0, 5}, {1, 1}, {3, 31}, {4, 4}, {7, 2}, {30, 0xFFFFFFFFu}, {0xFFFFFFFDu, 9}};
  GrayMethod y709 = find_gray_method("y709"), value = find_gray_method("value");
  unsigned seed = 1;
  for (const Size& size : sizes) {
    literal::Img eight_bit = random_picture(size.w, size.h, size.s, seed++);
    literal::Img wide = random_picture(size.w, size.h, size.s, seed++);
    for (double& v : wide.v) v = v * 1.3 - 0.1;  // some values outside [0, 1]
    for (const literal::Img* input : {&eight_bit, &wide})
      for (const auto& op : operations())
        for (const auto& w : windows) {
          const GrayMethod m = (w.first & 1) ? y709 : value;
          const std::vector<double> expected = run_reference(op, *input, w.first, w.second, m);
          for (unsigned threads : {1u, 2u, 3u})
            ASSERT_TRUE(same_bits(expected, run_fast(op, *input, w.first, w.second, m, threads)))
                << op.name << " " << size.w << "x" << size.h << "x" << size.s << " windows "
                << w.first << "," << w.second << " threads " << threads;
        }
  }
}

TEST(Leveling, StreamsOfManyBandsFromFileSamplesMatchTheLiteralFormulas) {
  // Tall pictures of 8- and 16-bit codes, as read from files: many bands of rows, windows
  // from the pixel alone to beyond the picture.
  struct Case {
    unsigned w, h, s;
    SampleType sample;
  };
  const Case cases[] = {{13, 157, 1, SampleType::u8}, {9, 301, 3, SampleType::u16}, {37, 90, 4, SampleType::u8},
                        {5, 64, 2, SampleType::u16}};
  const std::pair<std::uint32_t, std::uint32_t> windows[] = {{0, 3}, {1, 2}, {2, 31}, {3, 1000}, {61, 121}, {41, 0xFFFFFFFFu}};
  GrayMethod m = find_gray_method("lightness");
  unsigned seed = 40;
  for (const Case& c : cases) {
    literal::Img input = random_picture(c.w, c.h, c.s, seed++);
    if (c.sample == SampleType::u16)  // codes of 16 bits, not only multiples of 257
      for (std::size_t i = 0; i < input.v.size(); ++i) input.v[i] = double((i * 7919 + seed) % 65536) / 65535.0;
    for (const auto& op : operations())
      for (const auto& w : windows)
        for (bool trailing : {false, true})
          ASSERT_TRUE(same_bits(run_reference(op, input, w.first, w.second, m),
                                level_stream(input, *op.algorithm, op.windows, w.first, w.second, m, 2, nullptr,
                                             c.sample, trailing)))
              << op.name << " " << c.w << "x" << c.h << "x" << c.s << " windows " << w.first << "," << w.second
              << (trailing ? " trailing cursors" : "");
  }
}

TEST(Leveling, StdOfOneRowGivesTheWorkedValues) {
  literal::Img im(3, 1, 1);
  im.v = {0.0, 0.5, 1.0};
  EXPECT_EQ((std::vector<double>{0.09175170953613698, 0.5, 0.908248290463863}), run_fast(operation("std"), im, 3, 0, nullptr));
}

TEST(Leveling, WindowsTwoKAndTwoKPlusOneAgree) {
  literal::Img input = random_picture(21, 13, 3, 77);
  GrayMethod m = find_gray_method("lightness");
  for (const auto& op : operations())
    for (std::uint32_t k : {0u, 1u, 5u}) {
      EXPECT_TRUE(same_bits(run_fast(op, input, 2 * k, 2 * k + 2, m, 2),
                            run_fast(op, input, 2 * k + 1, 2 * k + 3, m, 2)))
          << op.name << " k " << k;
    }
}

TEST(Leveling, ConstantPlanesStayConstant) {
  GrayMethod m = find_gray_method("lightness");
  // 0.0 and 1.0 have exact sums and powers: every operation returns them unchanged.
  for (double k : {0.0, 1.0})
    for (const auto& op : operations()) {
      literal::Img input = constant_picture(11, 6, 3, k);
      for (std::uint32_t w : {0u, 3u, 9u})
        EXPECT_TRUE(same_bits(input.v, run_fast(op, input, w, w + 4, m, 2))) << op.name << " " << k;
    }
  // 0.5 squares exactly: mean and std keep it to the bit.
  literal::Img half = constant_picture(11, 6, 1, 0.5);
  for (const char* name : {"mean", "mean2", "std", "std2"})
    EXPECT_TRUE(same_bits(half.v, run_fast(operation(name), half, 5, 9, m, 2))) << name;
  // Any other constant comes back up to rounding in the tables and roots.
  literal::Img other = constant_picture(13, 7, 1, 0.3);
  for (const auto& op : operations()) {
    const std::vector<double> out = run_fast(op, other, 5, 11, m, 2);
    for (double v : out) ASSERT_NEAR(0.3, v, 1e-12) << op.name;
  }
}

TEST(Leveling, WholePictureWindowsAreTheIdentity) {
  literal::Img input = random_picture(17, 12, 3, 5);
  GrayMethod m = find_gray_method("y709");
  for (const auto& op : operations()) {
    // Tolerance: (v - m) * (S / s) + G and its siblings round in the last places.
    const std::vector<double> out = run_fast(op, input, 0xFFFFFFFFu, 0xFFFFFFFFu, m, 2);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(input.v[i], out[i], 1e-12) << op.name << " " << i;
  }
}

TEST(Leveling, TwoWindowFormsWithEqualWindowsAreTheIdentity) {
  literal::Img input = random_picture(15, 10, 1, 9);
  for (const char* name : {"mean2", "std2", "minmax2", "range2"}) {
    const std::vector<double> out = run_fast(operation(name), input, 5, 5, nullptr, 2);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(input.v[i], out[i], 1e-12) << name;
  }
}

TEST(Leveling, SecondWindowOverTheWholePictureEqualsOneWindowForm) {
  literal::Img input = random_picture(19, 8, 3, 15);
  for (std::uint32_t w : {0u, 3u, 7u}) {
    EXPECT_TRUE(same_bits(run_fast(operation("std"), input, w, 0, nullptr, 2),
                          run_fast(operation("std2"), input, w, 0xFFFFFFFFu, nullptr, 2)));
    EXPECT_TRUE(same_bits(run_fast(operation("mean"), input, w, 0, nullptr, 2),
                          run_fast(operation("mean2"), input, w, 0xFFFFFFFFu, nullptr, 2)));
  }
}

TEST(Leveling, OnePixelWindowFlattensToTheGlobalMean) {
  literal::Img input = random_picture(9, 7, 1, 33);
  double mean = 0;
  for (double v : input.v) mean += v;
  mean /= input.v.size();
  for (const char* name : {"mean", "range"})
    for (double v : run_fast(operation(name), input, 1, 0, nullptr, 2)) ASSERT_NEAR(mean, v, 1e-12) << name;
}

TEST(Leveling, FlatRegionsNeverTurnIntoNaN) {
  // Regression: a variance or power mean rounded below zero gave NaN deviations and soft ranges.
  literal::Img input = constant_picture(40, 30, 3, 0.1);
  for (unsigned x = 0; x < 10; ++x) input.at(x, 3, 1) = 0.7;
  GrayMethod m = find_gray_method("value");
  for (const auto& op : operations())
    for (std::uint32_t w : {1u, 3u, 9u, 101u})
      for (double v : run_fast(op, input, w, w + 2, m, 2)) ASSERT_FALSE(std::isnan(v)) << op.name << " " << w;
}

TEST(Leveling, GrayFormsFallBackToThePlainFormsWithoutColour) {
  literal::Img gray = random_picture(8, 6, 1, 2), two = random_picture(8, 6, 2, 3), rgba = random_picture(8, 6, 4, 4);
  GrayMethod m = find_gray_method("value");
  for (int k = 1; k < 8; k += 2)
    for (int windows : {1, 2})
      for (const literal::Img* input : {&gray, &two}) {
        LevelingReport report;
        const std::vector<double> fallen = level_stream(*input, algorithm_table[k], windows, 5, 9, m, 2, &report);
        EXPECT_TRUE(report.channel_by_channel) << algorithm_table[k].keyword;
        EXPECT_TRUE(same_bits(level_stream(*input, algorithm_table[k - 1], windows, 5, 9, m), fallen)) << algorithm_table[k].keyword;
      }
  // Four channels: mean_fn levels each channel, the others take gray from the first three.
  LevelingReport report;
  EXPECT_TRUE(same_bits(run_fast(operation("mean"), rgba, 5, 0, m), level_stream(rgba, algorithm_table[1], 1, 5, 0, m, 2, &report)));
  EXPECT_TRUE(report.channel_by_channel);
  level_stream(rgba, algorithm_table[3], 1, 5, 0, m, 2, &report);
  EXPECT_FALSE(report.channel_by_channel);
}
