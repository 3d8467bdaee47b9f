// The sixteen leveling operations: bit for bit against the literal reading of the formulas,
// with one thread and with two, plus the exact values and invariants the formulas promise.
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <stdexcept>

#include "leveling/algorithms.h"
#include "leveling/window_arg.h"
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
  // from the pixel alone to beyond the picture; and a wide one, whose rows are leveled in
  // several stretches of columns.
  struct Case {
    unsigned w, h, s;
    SampleType sample;
  };
  const Case cases[] = {{13, 157, 1, SampleType::u8}, {9, 301, 3, SampleType::u16}, {37, 90, 4, SampleType::u8},
                        {5, 64, 2, SampleType::u16}, {1100, 19, 4, SampleType::u8}};
  const std::pair<std::uint32_t, std::uint32_t> windows[] = {{0, 3}, {1, 2}, {2, 31}, {3, 1000}, {61, 121}, {41, 0xFFFFFFFFu}};
  GrayMethod m = find_gray_method("lightness");
  unsigned seed = 40;
  for (const Case& c : cases) {
    literal::Img input = random_picture(c.w, c.h, c.s, seed++);
    if (c.sample == SampleType::u16)  // codes of 16 bits, not only multiples of 257
      for (std::size_t i = 0; i < input.v.size(); ++i) input.v[i] = double((i * 7919 + seed) % 65536) / 65535.0;
    for (const auto& op : operations())
      for (const auto& w : windows)
        for (Walk walk : {Walk::kept_rows, Walk::trailing_cursors, Walk::held_rows, Walk::read_again})
          ASSERT_TRUE(same_bits(run_reference(op, input, w.first, w.second, m),
                                level_stream(input, *op.algorithm, op.windows, w.first, w.second, m, 2, nullptr,
                                             c.sample, walk)))
              << op.name << " " << c.w << "x" << c.h << "x" << c.s << " windows " << w.first << "," << w.second
              << (walk == Walk::trailing_cursors ? " trailing cursors"
                  : walk == Walk::held_rows      ? " held rows"
                  : walk == Walk::read_again     ? " read again"
                                                 : "");
  }
}

TEST(Leveling, RowsHeldInMemoryMatchTheLiteralFormulasOnAnyNumberOfThreads) {
  // Rows held in memory are summed as a wavefront: groups of eight rows over the threads, each
  // a block of columns behind the one above, in slots taken again by later groups. A picture
  // of many blocks and groups, on one thread and on more than there are cores.
  literal::Img input = random_picture(700, 123, 3, 77);
  const GrayMethod m = find_gray_method("mid");
  for (const char* name : {"mean", "std_fn", "range", "minmax_fn2"})
    for (unsigned threads : {1u, 3u, 4u})
      ASSERT_TRUE(same_bits(run_reference(operation(name), input, 21, 5, m),
                            level_stream(input, *operation(name).algorithm, operation(name).windows, 21, 5, m, threads,
                                         nullptr, SampleType::u8, Walk::held_rows)))
          << name << " threads " << threads;
}

TEST(Leveling, StdOfOneRowGivesTheWorkedValues) {
  literal::Img im(3, 1, 1);
  im.v = {0.0, 0.5, 1.0};
  EXPECT_EQ((std::vector<double>{0.09175170953613698, 0.5, 0.908248290463863}), run_fast(operation("std"), im, 3, 0, nullptr));
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

TEST(Leveling, WindowsThatAgreeWithTheReferenceGiveTheIdentity) {
  // Whole-picture windows (the reference is the window), two equal windows, and a second
  // window over the whole picture (the one-window form). Tolerance: (v - m) * (S / s) + G
  // and its siblings round in the last places.
  literal::Img input = random_picture(17, 12, 3, 5);
  GrayMethod m = find_gray_method("y709");
  for (const auto& op : operations()) {
    const std::vector<double> out = run_fast(op, input, 0xFFFFFFFFu, 0xFFFFFFFFu, m, 2);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(input.v[i], out[i], 1e-12) << op.name << " " << i;
  }
  for (const char* name : {"mean2", "std2", "minmax2", "range2"}) {
    const std::vector<double> out = run_fast(operation(name), input, 5, 5, nullptr, 2);
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_NEAR(input.v[i], out[i], 1e-12) << name;
  }
  for (std::uint32_t w : {0u, 3u, 7u})
    for (const char* name : {"mean", "std"})
      EXPECT_TRUE(same_bits(run_fast(operation(name), input, w, 0, nullptr, 2),
                            run_fast(operation(std::string(name) + "2"), input, w, 0xFFFFFFFFu, nullptr, 2)));
  // A one-pixel window is its own reference: mean and range flatten to the global mean.
  // range divides the rounding left in v - m by a soft range that is itself rounding, so
  // it only comes near.
  double mean = 0;
  for (std::size_t i = 0; i < input.v.size() / 3; ++i) mean += input.v[i];
  mean /= double(input.v.size() / 3);
  for (const char* name : {"mean", "range"}) {
    const std::vector<double> out = run_fast(operation(name), input, 1, 0, nullptr, 2);
    const double tolerance = name[0] == 'm' ? 1e-12 : 1e-8;
    for (std::size_t i = 0; i < out.size() / 3; ++i) ASSERT_NEAR(mean, out[i], tolerance) << name;
  }
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

namespace {

// A page: paper with a faint grain on the left, print on the right in columns dark and
// light in turn, so that every row of the picture holds about the same.
literal::Img paper_and_print(unsigned w, unsigned h, unsigned s) {
  literal::Img im = random_picture(w, h, s, 91);
  for (unsigned c = 0; c < s; ++c)
    for (unsigned y = 0; y < h; ++y)
      for (unsigned x = 0; x < w; ++x) {
        const double grain = im.at(x, y, c) - 0.5;
        im.at(x, y, c) = x < w / 2 ? 0.8 + grain * 0.01 : (x % 2 ? 0.1 : 0.9) + grain * 0.1;
      }
  return im;
}

Leveling capped(const Operation& op, std::uint32_t w1, std::uint32_t w2, GrayMethod m, double gain) {
  Leveling leveling;
  leveling.algorithm = op.algorithm;
  leveling.windows = op.windows;
  leveling.window1 = w1;
  leveling.window2 = w2;
  leveling.method = m;
  leveling.max_gain = gain;
  return leveling;
}

}  // namespace

TEST(GainCap, MatchesTheCappedFormulasBitForBit) {
  // Gains that cap most windows, a few, and none: a cap never reached changes nothing.
  GrayMethod m = find_gray_method("y709");
  for (unsigned s : {1u, 3u}) {
    const literal::Img input = paper_and_print(40, 23, s);
    for (const auto& op : operations())
      for (double gain : {1.0, 1.5, 4.0, 1e300})
        for (const auto& w : {std::make_pair(5u, 41u), std::make_pair(9u, 3u), std::make_pair(0u, 7u)}) {
          literal::Img expected = input;
          if (gain == 1e300) literal::level(op.algorithm->keyword, op.windows, expected, w.first, w.second, m);
          else literal::level_capped(op.algorithm->keyword, op.windows, expected, w.first, w.second, m, gain);
          ASSERT_TRUE(same_bits(expected.v, level_stream(input, capped(op, w.first, w.second, m, gain))))
              << op.name << " gain " << gain << " windows " << w.first << "," << w.second << " channels " << s;
        }
  }
}

TEST(GainCap, FlatPaperIsStretchedAtMostByTheGain) {
  const literal::Img input = paper_and_print(80, 40, 1);
  // The grain: the deviation of the steps down the paper, away from the print. Every row
  // holds about the same, so the references (a second window's mean, say) hardly move.
  auto grain = [&](const std::vector<double>& v) {
    double sum = 0, squares = 0, n = 0;
    for (unsigned y = 0; y + 1 < 40; ++y)
      for (unsigned x = 0; x < 25; ++x, ++n) {
        const double step = v[(y + 1) * 80 + x] - v[y * 80 + x];
        sum += step, squares += step * step;
      }
    return std::sqrt(squares / n - (sum / n) * (sum / n));
  };
  for (const char* name : {"std", "std2", "minmax", "minmax2", "range", "range2"}) {
    // Uncapped, the paper's grain grows tenfold and more; capped, by at most the gain (the
    // local references move with the grain a little, so 10% more is allowed).
    const double before = grain(input.v);
    EXPECT_GT(grain(level_stream(input, capped(operation(name), 9, 61, nullptr, 1e300))), 10 * before) << name;
    for (double gain : {1.0, 4.0})
      EXPECT_LT(grain(level_stream(input, capped(operation(name), 9, 61, nullptr, gain))), 1.1 * gain * before) << name;
  }
}

TEST(WindowShares, PickTheNearestOddPixelCountOfTheShorterSide) {
  auto share = [](const char* text) {
    WindowShare s = no_share;
    EXPECT_TRUE(parse_window_share(text, s)) << text;
    return s;
  };
  struct Case {
    const char* share;
    std::size_t side;
    std::uint32_t window;
  };
  // Ties (a whole even share: 4 or 6 pixels) go to the larger odd number.
  const Case cases[] = {{"5%", 60, 3},      {"10%", 60, 7},     {"12.5%", 60, 7},   {"0%", 60, 1},
                        {"100%", 60, 61},   {"1000%", 60, 601}, {"5%", 61, 3},      {"10%", 61, 7},
                        {"100%", 61, 61},   {"1000%", 61, 611}, {"0%", 61, 1},      {"2%", 100, 3},
                        {"1.99%", 100, 1},  {"0.000001%", 100000000, 1}, {"0.000002%", 100000000, 3},
                        {"99999999999%", 1u << 30, 0xFFFFFFFFu}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.window, window_of_share(share(c.share), c.side, 3 * c.side)) << c.share << " of " << c.side;
    EXPECT_EQ(c.window, window_of_share(share(c.share), 3 * c.side, c.side)) << c.share << " of " << c.side;
  }
  for (const char* bad : {"%", "5%%", "-5%", "5 %", " 5%", ".5%", "5.%", "5%x", "5", "+5%", ""}) {
    WindowShare s = 7;
    EXPECT_FALSE(parse_window_share(bad, s)) << bad;
  }
  // Shares become pixels of each picture's shorter side, here 33.
  const literal::Img input = random_picture(70, 33, 3, 12);
  Leveling leveling = capped(operation("range2"), 0, 0, nullptr, std::numeric_limits<double>::infinity());
  leveling.share1 = share("10%");  // 3.3 pixels: 3
  leveling.share2 = share("50%");  // 16.5 pixels: 17
  EXPECT_TRUE(same_bits(level_stream(input, capped(operation("range2"), 3, 17, nullptr, leveling.max_gain)),
                        level_stream(input, leveling)));
}

TEST(WindowNumbers, NegativeNumbersWrapAsUnsigned32BitIntegers) {
  // atoi's value taken as an unsigned 32-bit integer: -3 is 2^32 - 3.
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"31", 31u},        {"+7", 7u},     {"0", 0u},          {"-1", 0xFFFFFFFFu},
      {"-3", 4294967293u}, {"-2147483648", 0x80000000u}, {"4294967295", 0xFFFFFFFFu},
      {"99999999999999999999", 0xFFFFFFFFu}};
  for (const auto& c : cases) {
    std::uint32_t window = 12345;
    ASSERT_TRUE(parse_window(c.first, window)) << c.first;
    EXPECT_EQ(c.second, window) << c.first;
  }
}
