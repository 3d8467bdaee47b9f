// Mean and std with one window, leveled into 8- or 16-bit samples in memory in a single walk
// from bounds on the totals: every sample gets the code of the literal formulas, whether the
// bounds give it at once, leave it open until the walk has reached the totals, or miss the
// totals so that the page is leveled again in two walks.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <thread>

#include "image/samples.h"
#include "image/thread_pool.h"
#include "kelvane/kelvane.h"
#include "stream/level_page.h"
#include "stream/memory_rows.h"
#include "stream/strip_walk.h"
#include "stream/total_bounds.h"
#include "window_stats/table_rows.h"
#include "support.h"

using namespace kelvane;

namespace {

struct Coded {
  std::vector<unsigned> codes;  // interleaved
  LevelingReport report;
};

// The codes of a picture's values (each a code / unit), interleaved.
std::vector<unsigned> codes_of(const literal::Img& im, double unit) {
  std::vector<unsigned> codes(im.v.size());
  for (unsigned y = 0; y < im.h; ++y)
    for (unsigned x = 0; x < im.w; ++x)
      for (unsigned c = 0; c < im.s; ++c)
        codes[(std::size_t(y) * im.w + x) * im.s + c] = unsigned(im.v[x + im.w * (y + std::size_t(im.h) * c)] * unit + 0.5);
  return codes;
}

template <class T>
std::vector<unsigned char> as_samples(const std::vector<unsigned>& codes) {
  std::vector<unsigned char> bytes(codes.size() * sizeof(T));
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const T code = static_cast<T>(codes[i]);
    std::memcpy(bytes.data() + i * sizeof(T), &code, sizeof(T));
  }
  return bytes;
}

template <class T>
std::vector<unsigned> from_samples(const std::vector<unsigned char>& bytes) {
  std::vector<unsigned> codes(bytes.size() / sizeof(T));
  for (std::size_t i = 0; i < codes.size(); ++i) {
    T code;
    std::memcpy(&code, bytes.data() + i * sizeof(T), sizeof(T));
    codes[i] = code;
  }
  return codes;
}

// Levels the picture's codes, held interleaved in memory, into samples of the same type.
Coded level_codes(const literal::Img& input, const Leveling& leveling, SampleType sample, const StreamSettings& settings,
                  int alpha = -1) {
  const bool wide = sample == SampleType::u16;
  const std::size_t bytes = wide ? 2 : 1;
  PageLayout layout = integer_layout(input.w, input.h, input.s, sample, wide ? 16 : 8);
  layout.alpha = alpha;
  const std::vector<unsigned> codes = codes_of(input, wide ? 65535.0 : 255.0);
  const std::vector<unsigned char> samples = wide ? as_samples<std::uint16_t>(codes) : as_samples<std::uint8_t>(codes);
  std::vector<unsigned char> out(samples.size());
  const std::ptrdiff_t pixel = std::ptrdiff_t(bytes * input.s), row = pixel * input.w;
  MemorySource source(layout, MemoryPicture{samples.data(), row, pixel, std::ptrdiff_t(bytes)});
  MemorySink sink(layout, out.data(), row, pixel, std::ptrdiff_t(bytes));
  Coded result;
  result.report = level_page(leveling, source, sink, settings);
  result.codes = wide ? from_samples<std::uint16_t>(out) : from_samples<std::uint8_t>(out);
  return result;
}

// What the literal formulas give, saved as codes; channels not leveled keep theirs.
std::vector<unsigned> literal_codes(const literal::Img& input, const Leveling& leveling, SampleType sample,
                                    int alpha = -1) {
  const double unit = sample == SampleType::u16 ? 65535.0 : 255.0;
  literal::Img leveled = input;
  literal::level_capped(leveling.algorithm->keyword, 1, leveled, leveling.window1, 0, nullptr, leveling.max_gain);
  if (alpha >= 0)  // the alpha channel as it was
    for (std::size_t i = 0; i < std::size_t(input.w) * input.h; ++i)
      leveled.v[i + std::size_t(alpha) * input.w * input.h] = input.v[i + std::size_t(alpha) * input.w * input.h];
  std::vector<unsigned> codes = codes_of(leveled, 1.0);
  for (unsigned y = 0; y < input.h; ++y)
    for (unsigned x = 0; x < input.w; ++x)
      for (unsigned c = 0; c < input.s; ++c) {
        const double v = leveled.v[x + input.w * (y + std::size_t(input.h) * c)];
        const bool kept = int(c) == alpha;
        codes[(std::size_t(y) * input.w + x) * input.s + c] =
            kept ? unsigned(v * unit + 0.5) : unsigned(saved_sample(v, unit));
      }
  return codes;
}

Leveling one_window(const char* keyword, std::uint32_t window, double max_gain = HUGE_VAL) {
  Leveling leveling;
  leveling.algorithm = find_algorithm(keyword);
  leveling.window1 = window;
  leveling.max_gain = max_gain;
  return leveling;
}

// A smooth light across the picture times fine detail, as codes of 8 or 16 bits.
literal::Img lit_picture(unsigned w, unsigned h, unsigned s, double unit) {
  literal::Img im(w, h, s);
  for (unsigned c = 0; c < s; ++c)
    for (unsigned y = 0; y < h; ++y)
      for (unsigned x = 0; x < w; ++x) {
        const double light = 0.2 + 0.7 * double(x + 2 * y) / double(w + 2 * h);
        const double detail = 0.5 + 0.4 * std::sin(0.7 * x + 1.3 * y + c);
        im.v[x + w * (y + std::size_t(h) * c)] = std::floor(light * detail * unit) / unit;
      }
  return im;
}

// Levels with bounds widened by the settings: one walk, which leaves samples open and
// settles them with the codes of the literal formulas.
void expect_settled_late(const literal::Img& input, const Leveling& leveling, SampleType sample,
                         const StreamSettings& settings) {
  const Coded done = level_codes(input, leveling, sample, settings);
  EXPECT_EQ(1, done.report.walks) << leveling.algorithm->keyword;
  EXPECT_GT(done.report.settled_late, 10u) << leveling.algorithm->keyword;
  ASSERT_EQ(literal_codes(input, leveling, sample), done.codes) << leveling.algorithm->keyword;
}

}  // namespace

TEST(OneWalk, EverySampleGetsTheCodeOfTheLiteralFormulas) {
  // 8-bit colour and 16-bit gray; windows from the pixel's neighbours to the whole picture;
  // std with and without a gain cap; on one thread and on three.
  struct Case {
    literal::Img input;
    SampleType sample;
  };
  const Case cases[] = {{random_picture(97, 61, 3, 5), SampleType::u8},
                        {lit_picture(530, 23, 3, 255.0), SampleType::u8},
                        {lit_picture(53, 40, 1, 65535.0), SampleType::u16}};
  for (const Case& c : cases)
    for (const Leveling& leveling : {one_window("mean", 5), one_window("mean", 0xFFFFFFFFu), one_window("std", 31),
                                     one_window("std", 3, 2.5), one_window("std", 0xFFFFFFFFu)})
      for (unsigned threads : {1u, 3u}) {
        StreamSettings settings;
        settings.threads = threads;
        const Coded done = level_codes(c.input, leveling, c.sample, settings);
        const std::string what = std::string(leveling.algorithm->keyword) + " " + std::to_string(leveling.window1) +
                                 " gain " + std::to_string(leveling.max_gain) + " " + std::to_string(c.input.w) +
                                 " wide, threads " + std::to_string(threads);
        // A window over the whole picture leaves every value where it was, up to rounding, so
        // nearly every sample would lie at the border of its code: it takes two walks.
        EXPECT_EQ(leveling.window1 == 0xFFFFFFFFu ? 2 : 1, done.report.walks) << what;
        ASSERT_EQ(literal_codes(c.input, leveling, c.sample), done.codes) << what;
      }
}

TEST(OneWalk, SamplesTheBoundsLeaveOpenAreSettledOnceTheTotalsAreKnown) {
  // Bounds made wide, so that many samples fall between two codes; alpha kept as it is, or
  // leveled like a colour.
  const literal::Img rgb = random_picture(250, 160, 3, 9);
  literal::Img gray_alpha = lit_picture(120, 45, 2, 255.0);
  const struct {
    Leveling leveling;
    double slack;
  } cases[] = {{one_window("mean", 9), 3.2e5}, {one_window("std", 9), 1.6e4}, {one_window("std", 9, 1.5), 1.6e4}};
  for (const auto& c : cases) {
    StreamSettings settings;
    settings.bounds_slack = c.slack;
    expect_settled_late(rgb, c.leveling, SampleType::u8, settings);

    // Alpha stored first, before the gray it goes with.
    const Coded kept = level_codes(gray_alpha, c.leveling, SampleType::u8, settings, 0);
    EXPECT_EQ(1, kept.report.walks);
    ASSERT_EQ(literal_codes(gray_alpha, c.leveling, SampleType::u8, 0), kept.codes) << c.leveling.algorithm->keyword;
    Leveling with_alpha = c.leveling;
    with_alpha.level_alpha = true;
    ASSERT_EQ(literal_codes(gray_alpha, with_alpha, SampleType::u8),
              level_codes(gray_alpha, with_alpha, SampleType::u8, settings, 0).codes)
        << c.leveling.algorithm->keyword << " alpha leveled";
  }
  // 16-bit codes: 65535 of them, so that bounds some 250 times narrower leave samples open.
  literal::Img deep(400, 300, 1);
  std::mt19937 random(21);
  for (double& v : deep.v) v = double(random() % 65536) / 65535.0;
  StreamSettings settings;
  settings.bounds_slack = 460;
  expect_settled_late(deep, one_window("mean", 9), SampleType::u16, settings);
}

TEST(OneWalk, APageWhoseTotalsMissTheirBoundsIsLeveledAgain) {
  // Bounds that hold no totals: the page is leveled again in two walks, every sample over.
  const literal::Img input = random_picture(64, 50, 3, 11);
  for (const Leveling& leveling : {one_window("mean", 7), one_window("std", 7)}) {
    StreamSettings settings;
    settings.bounds_slack = -1;
    std::vector<double> shares;
    settings.progress = [&shares](std::size_t done, std::size_t total) { shares.push_back(double(done) / double(total)); };
    const Coded done = level_codes(input, leveling, SampleType::u8, settings);
    EXPECT_EQ(3, done.report.walks);
    ASSERT_EQ(literal_codes(input, leveling, SampleType::u8), done.codes) << leveling.algorithm->keyword;
    // The progress told never goes back, and ends whole.
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end())) << leveling.algorithm->keyword;
    ASSERT_FALSE(shares.empty());
    EXPECT_EQ(1.0, shares.back());
    settings.progress = nullptr;
    // Mean leaves the samples of a flat picture at the border of their code: the single walk
    // is given up once too many are open. (For std, a flat picture's deviation may be too
    // uncertain to try it.)
    const literal::Img flat(64, 50, 3, 100.0 / 255.0);
    const Coded given_up = level_codes(flat, leveling, SampleType::u8, StreamSettings());
    if (leveling.algorithm->family == Family::mean) EXPECT_EQ(3, given_up.report.walks);
    else EXPECT_LE(2, given_up.report.walks);
    ASSERT_EQ(literal_codes(flat, leveling, SampleType::u8), given_up.codes) << leveling.algorithm->keyword;
    // Bounds too wide to be worth a walk are not tried; nor is one walk where it is not asked.
    settings.bounds_slack = 1e12;
    EXPECT_EQ(2, level_codes(input, leveling, SampleType::u8, settings).report.walks);
    settings.bounds_slack = 1;
    settings.one_walk = false;
    EXPECT_EQ(2, level_codes(input, leveling, SampleType::u8, settings).report.walks);
  }
}

TEST(OneWalk, APictureLeveledInPlaceIsLeveledAgainFromItsRowsAsTheyWere) {
  // Detail above a flat part, with a mean code that is a whole number: the flat part's values
  // lie at the border of their code, so the single walk is given up there, after it has
  // leveled the detail. Leveled in place, the two walks that follow must not read those rows.
  const unsigned w = 64, h = 64, detail_rows = 16;
  std::vector<unsigned> codes(std::size_t(w) * h, 100);
  std::mt19937 random(23);
  for (std::size_t i = 0; i < std::size_t(w) * detail_rows; ++i) codes[i] = random() % 256;
  std::size_t sum = 0;
  for (unsigned code : codes) sum += code;
  for (std::size_t i = 0, missing = (codes.size() - sum % codes.size()) % codes.size(); missing > 0; ++i) {
    const unsigned step = static_cast<unsigned>(std::min<std::size_t>(missing, 255 - codes[i]));
    codes[i] += step;
    missing -= step;
  }
  literal::Img input(w, h, 1);
  for (std::size_t i = 0; i < codes.size(); ++i) input.v[i] = codes[i] / 255.0;
  const Leveling mean = one_window("mean", 9);
  const std::vector<unsigned> expected = literal_codes(input, mean, SampleType::u8);
  ASSERT_EQ(3, level_codes(input, mean, SampleType::u8, StreamSettings()).report.walks);
  ASSERT_NE(std::vector<unsigned>(expected.begin(), expected.begin() + w * detail_rows),
            std::vector<unsigned>(codes.begin(), codes.begin() + w * detail_rows));

  for (unsigned threads : {1u, 2u}) {
    kelvane::Options options;
    options.threads = threads;
    std::vector<std::uint8_t> samples = as_samples<std::uint8_t>(codes);
    kelvane::level(kelvane::interleaved(samples.data(), w, h, 1, kelvane::Sample::u8), kelvane::Operation("mean", 9),
                   options);
    EXPECT_EQ(expected, from_samples<std::uint8_t>(samples)) << "in place, threads " << threads;
    // Planes apart, which are not read where they are either.
    std::vector<std::uint8_t> planes(2 * codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i) planes[i] = planes[codes.size() + i] = std::uint8_t(codes[i]);
    kelvane::level(kelvane::planar(planes.data(), w, h, 2, kelvane::Sample::u8), kelvane::Operation("mean", 9), options);
    EXPECT_EQ(expected, from_samples<std::uint8_t>(std::vector<std::uint8_t>(planes.begin(), planes.begin() + codes.size())));
    EXPECT_EQ(expected, from_samples<std::uint8_t>(std::vector<std::uint8_t>(planes.begin() + codes.size(), planes.end())));
  }
  // A memory limit that leaves no room for the copy: the rows are read as they are copied
  // in two walks, rather than the call refused.
  StreamSettings one;
  kelvane::Options options;
  options.threads = 1;
  options.memory_limit = static_cast<unsigned long long>(
      stream_bytes(mean, integer_layout(w, h, 1, SampleType::u8, 8), 1, one, false, true) + codes.size() / 2);
  std::vector<std::uint8_t> samples = as_samples<std::uint8_t>(codes);
  kelvane::level(kelvane::interleaved(samples.data(), w, h, 1, kelvane::Sample::u8), kelvane::Operation("mean", 9),
                 options);
  EXPECT_EQ(expected, from_samples<std::uint8_t>(samples)) << "no room for a copy";
}

TEST(OneWalk, CodeSumsAreExactChannelByChannel) {
  // Channel counts that divide the summed lanes and one that does not; rows with a tail;
  // rows in several tasks; a row long enough that 32-bit partial sums of 16-bit codes, or of
  // squares of 8-bit ones, would overflow before they are carried.
  const struct {
    std::size_t w, h, channels;
    SampleType sample;
  } cases[] = {{37, 150, 3, SampleType::u8},  {50, 4, 4, SampleType::u16},       {23, 3, 5, SampleType::u8},
               {1, 9, 1, SampleType::u16},    {1200000, 1, 3, SampleType::u8},   {600000, 1, 4, SampleType::u16}};
  for (const auto& c : cases) {
    const PageLayout layout = integer_layout(c.w, c.h, c.channels, c.sample, c.sample == SampleType::u8 ? 8 : 16);
    const std::size_t count = c.w * c.h * c.channels, largest = c.sample == SampleType::u8 ? 255 : 65535;
    std::vector<unsigned> codes(count);
    // The long rows hold the largest code throughout, so that their partial sums would wrap.
    for (std::size_t i = 0; i < count; ++i)
      codes[i] = i % 7 == 0 || c.w > 100000 ? unsigned(largest) : unsigned((i * 2654435761u) % (largest + 1));
    const std::vector<unsigned char> rows =
        c.sample == SampleType::u8 ? as_samples<std::uint8_t>(codes) : as_samples<std::uint16_t>(codes);
    std::vector<unsigned long long> expected(c.channels), squares(c.channels);
    // The sum of every table entry: each code counts once for every entry right of it and
    // below it.
    std::vector<long double> entries(c.channels), entries_of_squares(c.channels);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t channel = i % c.channels, x = i / c.channels % c.w, y = i / c.channels / c.w;
      const long double weight = (long double)(c.w - x) * (c.h - y);
      expected[channel] += codes[i];
      squares[channel] += static_cast<unsigned long long>(codes[i]) * codes[i];
      entries[channel] += weight * codes[i];
      entries_of_squares[channel] += weight * codes[i] * codes[i];
    }
    for (unsigned threads : {1u, 2u}) {
      const CodeSums sums = code_sums(rows.data(), std::ptrdiff_t(layout.row_bytes()), layout, true, threads);
      EXPECT_EQ(expected, sums.codes) << c.w << " x " << c.channels;
      EXPECT_EQ(squares, sums.squares) << c.w << " x " << c.channels;
      // Bounds above the sums of the entries, though not far: blocks of 512 pixels and 64 rows
      // weighed as at their first column and row (within 1% for a row of a million pixels).
      for (std::size_t k = 0; k < c.channels; ++k) {
        EXPECT_LE(entries[k] * (1 - 1e-12L), sums.weighted_codes[k]) << c.w << " x " << c.channels;
        EXPECT_LE(entries_of_squares[k] * (1 - 1e-12L), sums.weighted_squares[k]) << c.w << " x " << c.channels;
        EXPECT_GE(entries[k] * (c.w > 100000 ? 1.01L : 4.5L), sums.weighted_codes[k]) << c.w << " x " << c.channels;
      }
    }
  }
}

TEST(OneWalk, TheReferencesOfTotalsBetweenBoundsLieBetweenTheirs) {
  // Totals at the corners of their bounds and between them: the mean grows with the sum of
  // the values, the deviation with that of the squares and shrinks as the mean grows.
  std::mt19937_64 random(3);
  for (int trial = 0; trial < 200; ++trial) {
    const double n = double(1 + random() % 100000), mean = 0.05 + 0.9 * double(random() % 1000) / 1000.0;
    const double values = mean * n, squares = values * (mean + 0.1 * (1 - mean)), spread = 1e-6 * double(1 + trial % 7);
    PlaneTotals lo{values * (1 - spread), squares * (1 - spread), 0, 0, n};
    PlaneTotals hi{values * (1 + spread), squares * (1 + spread), 0, 0, n};
    Reference low{}, high{};
    reference_bounds(lo, hi, low, high);
    for (int k = 0; k < 50; ++k) {
      const double a = k < 4 ? double(k & 1) : double(random() % 1001) / 1000.0;
      const double b = k < 4 ? double(k >> 1) : double(random() % 1001) / 1000.0;
      PlaneTotals t{lo.values + a * (hi.values - lo.values), lo.squares + b * (hi.squares - lo.squares), 0, 0, n};
      const Reference r = reference_of(t);
      ASSERT_LE(low.mean, r.mean);
      ASSERT_LE(r.mean, high.mean);
      ASSERT_LE(low.deviation, r.deviation) << "trial " << trial << " corner " << k;
      ASSERT_LE(r.deviation, high.deviation) << "trial " << trial << " corner " << k;
    }
  }
}

TEST(OneWalk, TheLeveledValuesOfAReferenceBetweenBoundsLieBetweenTheirs) {
  // Rows of a plane with flat patches (windows whose deviation fails the guard, where std
  // gives the reference mean) and with detail; mean, std, and std with its gain capped.
  literal::Img plane = lit_picture(90, 40, 1, 255.0);
  for (unsigned y = 5; y < 25; ++y)
    for (unsigned x = 10; x < 40; ++x) plane.at(x, y) = 0.4;
  literal::Img squares = plane, values(90, 40, 1), squared(90, 40, 1);
  for (double& v : squares.v) v = v * v;
  literal::integral_image(plane, values, 0);
  literal::integral_image(squares, squared, 0);
  const std::uint32_t r = 4;
  const Reference low{0.31, 0.17}, high{0.31 + 3e-4, 0.17 + 2e-4};
  for (const RowLeveling how : {RowLeveling{Family::mean, 1, {r, r}, 10.0, HUGE_VAL},
                                RowLeveling{Family::std, 1, {r, r}, 10.0, HUGE_VAL},
                                RowLeveling{Family::std, 1, {r, r}, 10.0, 1.2}})
    for (std::size_t y = 0; y < plane.h; ++y) {
      const std::size_t y0 = window_start(y, r), y1 = window_end(y, r, plane.h), w = plane.w;
      const auto rows_of = [&](const literal::Img& table) {
        return WindowRows{&table.v[y1 * w], y0 > 0 ? &table.v[(y0 - 1) * w] : nullptr, double(y1 - y0 + 1)};
      };
      const WindowTables tables{rows_of(values), rows_of(squared), {}, {}};
      std::vector<double> lo(w), hi(w), scratch(6 * w);
      const double* in = &plane.v[y * w];
      level_row_bounds(how, in, lo.data(), hi.data(), w, Columns{0, w}, tables, low, high, scratch.data());
      for (int k = 0; k <= 8; ++k) {
        // The corners of the bounds and references between them.
        const double a = k < 4 ? double(k & 1) : k / 8.0, b = k < 4 ? double(k >> 1) : 1.0 - k / 9.0;
        const Reference between{low.mean + a * (high.mean - low.mean), low.deviation + b * (high.deviation - low.deviation)};
        for (std::size_t x = 0; x < w; ++x) {
          const double v = leveled_pixel(how, in[x], scratch[x], scratch[w + x], between);
          ASSERT_LE(lo[x], v) << "row " << y << " column " << x;
          ASSERT_LE(v, hi[x]) << "row " << y << " column " << x;
        }
      }
    }
}

TEST(OneWalk, StripsCoverEveryColumnOnceAndHandOverWholeMargins) {
  // Strip k computes table columns [columns[k], columns[k + 1]) and levels those r to their
  // left; the first keeps no margin, the others the 2r + 1 columns before their own.
  for (std::size_t width : {5u, 31u, 101u, 6000u})
    for (std::uint32_t r : {0u, 2u, 15u})
      for (std::size_t wide : {0u, 1u, 13u, 40u})
        for (unsigned threads : {1u, 2u, 3u}) {
          const StripPlan plan = plan_strips(width, 20, r, 3, threads, wide, 1e12);
          const std::size_t margin = 2 * r + 1;
          const std::string what = std::to_string(width) + " wide, r " + std::to_string(r) + ", strips of " +
                                   std::to_string(wide) + ", threads " + std::to_string(threads);
          const std::size_t expected = wide == 0 ? (width / threads >= margin ? threads : 0)
                                                 : width / std::max(wide, margin);
          if (expected < 2) {
            EXPECT_GT(2u, plan.strips()) << what;
            continue;
          }
          ASSERT_EQ(expected, plan.strips()) << what;
          EXPECT_EQ(0u, plan.columns.front()) << what;
          EXPECT_EQ(width, plan.columns.back()) << what;
          EXPECT_EQ(0u, plan.leveled_begin(0)) << what;
          EXPECT_EQ(width, plan.leveled_end(plan.strips() - 1)) << what;
          for (std::size_t k = 0; k < plan.strips(); ++k) {
            EXPECT_LE(margin, plan.columns[k + 1] - plan.columns[k]) << what << ", strip " << k;
            EXPECT_EQ(k == 0 ? 0 : margin, plan.margin(k)) << what;
            EXPECT_LT(plan.leveled_begin(k), plan.leveled_end(k)) << what << ", strip " << k;
            if (k > 0) EXPECT_EQ(plan.leveled_end(k - 1), plan.leveled_begin(k)) << what << ", strip " << k;
          }
        }
  // Margins that would take more memory than allowed: no strips.
  EXPECT_EQ(2u, plan_strips(6000, 4000, 15, 3, 2, 0, 32e6).strips());
  EXPECT_GT(2u, plan_strips(6000, 4000, 15, 3, 2, 0, 1e6).strips());
}

TEST(OneWalk, StripsGiveEverySampleTheCodeOfTheLiteralFormulas) {
  // Strips exactly as wide as their margin and wider, of unequal widths; windows of one pixel
  // and windows taller than the page; colour, with alpha kept or without, gray with alpha
  // kept, 16-bit; one thread walking the strips in turn, or two each walking its own.
  struct Case {
    literal::Img input;
    SampleType sample;
    int alpha;
  };
  const Case cases[] = {{random_picture(101, 37, 3, 5), SampleType::u8, -1},
                        {random_picture(90, 31, 4, 7), SampleType::u8, 3},
                        {lit_picture(97, 5, 2, 255.0), SampleType::u8, 1},
                        {lit_picture(64, 29, 1, 65535.0), SampleType::u16, -1}};
  for (const Case& c : cases)
    for (const char* keyword : {"mean", "std"})
      for (std::uint32_t window : {1u, 5u, 13u})
        for (std::size_t wide : {std::size_t(window | 1), std::size_t(16), std::size_t(30)})
          for (unsigned threads : {1u, 2u}) {
            const Leveling leveling = one_window(keyword, window, window == 5 ? 2.5 : HUGE_VAL);
            StreamSettings settings;
            settings.threads = threads;
            settings.strip_columns = wide;
            const std::string what = std::string(keyword) + " " + std::to_string(window) + ", " +
                                     std::to_string(c.input.w) + " wide, strips of " + std::to_string(wide) +
                                     ", threads " + std::to_string(threads);
            const std::size_t planes = c.alpha >= 0 ? c.input.s - 1 : c.input.s;
            const std::size_t tables = leveling.algorithm->family == Family::std ? 2 : 1;
            ASSERT_LE(2u, plan_strips(c.input.w, c.input.h, window >> 1, planes * tables, threads, wide,
                                      settings.window_table_bytes)
                              .strips())
                << what;
            const Coded done = level_codes(c.input, leveling, c.sample, settings, c.alpha);
            EXPECT_EQ(1, done.report.walks) << what;
            ASSERT_EQ(literal_codes(c.input, leveling, c.sample, c.alpha), done.codes) << what;
          }
}

TEST(OneWalk, StripsSettleTheirOpenSamplesAndStopTogether) {
  const literal::Img input = random_picture(250, 160, 3, 13);
  StreamSettings settings;
  settings.threads = 2;
  settings.strip_columns = 40;
  std::vector<double> shares;
  settings.progress = [&shares](std::size_t done, std::size_t total) { shares.push_back(double(done) / double(total)); };
  // Bounds made wide: samples of every strip are left open, and settled at the end.
  settings.bounds_slack = 3.2e5;
  const Leveling mean = one_window("mean", 9);
  expect_settled_late(input, mean, SampleType::u8, settings);
  EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
  ASSERT_FALSE(shares.empty());
  EXPECT_EQ(1.0, shares.back());

  // A flat picture leaves too many samples open: every strip gives up its walk, and the page
  // is leveled in two.
  settings.bounds_slack = 1;
  const literal::Img flat(250, 160, 3, 100.0 / 255.0);
  const Coded given_up = level_codes(flat, mean, SampleType::u8, settings);
  EXPECT_EQ(3, given_up.report.walks);
  ASSERT_EQ(literal_codes(flat, mean, SampleType::u8), given_up.codes);

  // Progress that throws (a caller cancelling) stops every strip, whichever is waiting: on
  // two threads at the first call, made whether or not the calling thread walks a strip;
  // on one, in the middle of the first strip.
  for (const auto [threads, calls] : {std::pair<unsigned, int>{2, 1}, {1, 3}}) {
    settings.threads = threads;
    int told = 0;
    settings.progress = [&told, calls = calls](std::size_t, std::size_t) {
      if (++told == calls) throw std::runtime_error("stop");
    };
    EXPECT_THROW(level_codes(input, mean, SampleType::u8, settings), std::runtime_error);
    EXPECT_EQ(calls, told);
  }
}

TEST(OneWalk, TheMemoryCheckCountsTheMarginsStripsHandOver) {
  // 24 megapixels of RGB, mean 31: the margins handed over hold 4000 rows of 31 table columns
  // of each plane, 3 MB, on top of what a walk over whole rows holds.
  if (default_threads() < 2) GTEST_SKIP() << "one core: no strips";
  const PageLayout layout = integer_layout(6000, 4000, 3, SampleType::u8, 8);
  const Leveling mean = one_window("mean", 31);
  StreamSettings two;
  two.threads = 2;
  const long double margins = 4000.0L * 31 * 3 * 8;
  const long double open = (1 << 18) * 48.0L;  // at most 2^18 samples left open, 48 bytes each
  EXPECT_LE(open + margins,
            stream_bytes(mean, layout, 1, two, false, true) - stream_bytes(mean, layout, 1, two, false, false));
  // One thread walks whole rows: only the samples left open are added.
  StreamSettings one;
  EXPECT_EQ(open, stream_bytes(mean, layout, 1, one, false, true) - stream_bytes(mean, layout, 1, one, false, false));
}

TEST(OneWalk, AMemoryLimitTooTightForStripsWalksWholeRows) {
  // A limit between what a walk down strips and a walk over whole rows would take: the call
  // walks whole rows rather than refusing, and gives the same codes.
  if (default_threads() < 2) GTEST_SKIP() << "one core: no strips";
  const literal::Img input = random_picture(1200, 300, 3, 17);
  const PageLayout layout = integer_layout(1200, 300, 3, SampleType::u8, 8);
  const Leveling mean = one_window("mean", 31);
  StreamSettings strips;
  strips.threads = 2;
  StreamSettings rows = strips;
  rows.strip_columns = StreamSettings::whole_rows;
  const long double down_strips = stream_bytes(mean, layout, 1, strips, false, true);
  const long double over_rows = stream_bytes(mean, layout, 1, rows, false, true);
  ASSERT_LT(over_rows, down_strips);
  std::vector<std::uint8_t> samples = as_samples<std::uint8_t>(codes_of(input, 255.0)), out(samples.size());
  kelvane::Options options;
  options.threads = 2;
  options.memory_limit = static_cast<unsigned long long>((over_rows + down_strips) / 2);
  kelvane::level(kelvane::interleaved(samples.data(), 1200, 300, 3, kelvane::Sample::u8),
                 kelvane::interleaved(out.data(), 1200, 300, 3, kelvane::Sample::u8), kelvane::Operation("mean", 31),
                 options);
  EXPECT_EQ(literal_codes(input, mean, SampleType::u8), from_samples<std::uint8_t>(out));
}

TEST(OneWalk, AStripThatThrowsStopsTheStripsThatNeverWaitForIt) {
  // The first strip waits for no other: it must still stop within a band once the second
  // has thrown, not walk to its end.
  if (default_threads() < 2) GTEST_SKIP() << "one core: the strips take turns";
  const StripPlan plan = plan_strips(100, 400, 2, 1, 2, 0, 1e9);
  ASSERT_EQ(2u, plan.strips());
  std::atomic<bool> thrown{false};
  std::atomic<std::size_t> first_strip_rows{0};
  StripWork work;
  work.fill = [](std::size_t, std::size_t, const StripRows&, std::size_t, std::size_t) {};
  work.level = [&](std::size_t, std::size_t begin, std::size_t, const StripRows&) {
    if (begin > 0) {
      thrown = true;
      throw std::runtime_error("second strip");
    }
    // The first strip goes on only once the second has thrown (or after a few seconds).
    for (int wait = 0; wait < 5000 && !thrown; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++first_strip_rows;
    return true;
  };
  EXPECT_THROW(walk_strips(plan, 1, 2, work), std::runtime_error);
  EXPECT_GE(table_group, first_strip_rows.load());
}
