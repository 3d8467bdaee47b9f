// Picture files: every sample loads as its code / largest code (floats as they are), outputs
// get the depth, channels, alpha, metadata and pages the input had, as far as their format
// holds them.
#include <cmath>
#include <random>

#include "files.h"
#include "files/file_error.h"
#include "files/page_values.h"
#include "image/samples.h"
#include "image/saved_codes.h"
#include "jobs/level_file.h"
#include "pictures.h"
#include "run_tool.h"
#include "tiff_bytes.h"

using namespace kelvane;

namespace {

// Levels a file in process, as the command line would.
void level(const std::string& keyword, const std::string& in, const std::string& out, std::uint32_t w1,
           std::uint32_t w2 = 0, const char* method = "y709", bool level_alpha = false) {
  Leveling leveling;
  leveling.algorithm = find_algorithm(keyword.c_str());
  leveling.windows = w2 ? 2 : 1;
  leveling.window1 = w1;
  leveling.window2 = w2;
  leveling.method = find_gray_method(method);
  leveling.level_alpha = level_alpha;
  std::unique_ptr<PictureReader> reader = open_picture(in);
  level_file(*reader, out, leveling, EncodingChoices(), StreamSettings{2});
}

std::vector<std::uint32_t> codes_up_to(std::uint32_t largest, std::size_t n) {
  std::vector<std::uint32_t> codes(n);
  for (std::size_t i = 0; i < n; ++i) codes[i] = static_cast<std::uint32_t>((std::uint64_t(largest) * i) / (n - 1));
  return codes;
}

class Files : public ::testing::Test {
 protected:
  ScratchFolder dir;
};

}  // namespace

TEST_F(Files, IntegerSamplesLoadAsCodeOverTheLargestCode) {
  // TIFF of every depth the library reads; the odd ones arrive stretched to 8 or 16 bits.
  for (unsigned bits : {1u, 2u, 4u, 6u, 8u, 10u, 12u, 14u, 16u, 32u}) {
    const std::uint32_t largest = static_cast<std::uint32_t>((std::uint64_t(1) << bits) - 1);
    TiffPage page;
    page.width = 9;
    page.bits = static_cast<std::uint16_t>(bits);
    const std::vector<std::uint32_t> codes = codes_up_to(largest, 9);
    page.data = packed_codes(codes, 9, bits);
    write_file(dir / "t.tif", tiff_bytes({page}));
    const LoadedPage loaded = load_pages(dir / "t.tif")[0];
    for (std::size_t x = 0; x < 9; ++x) ASSERT_EQ(codes[x] / double(largest), loaded.values[x]) << bits << " bits, " << x;
  }
  // PNM by its maxval, binary and text.
  for (unsigned maxval : {1u, 15u, 255u, 1000u, 1023u, 65535u}) {
    const std::vector<std::uint32_t> codes = codes_up_to(maxval, 7);
    std::string binary = "P5\n7 1\n" + std::to_string(maxval) + "\n", text = "P2\n7 1\n" + std::to_string(maxval) + "\n";
    for (std::uint32_t c : codes) {
      if (maxval > 255) binary += static_cast<char>(c >> 8);
      binary += static_cast<char>(c & 0xff);
      text += std::to_string(c) + " ";
    }
    for (const std::string& bytes : {binary, text}) {
      write_file(dir / "m.pgm", bytes);
      const LoadedPage loaded = load_pages(dir / "m.pgm")[0];
      for (std::size_t x = 0; x < 7; ++x) ASSERT_EQ(codes[x] / double(maxval), loaded.values[x]) << "maxval " << maxval;
    }
  }
  // PBM: black (1) is 0.
  write_file(dir / "b.pbm", std::string("P4\n10 1\n\x80\x40", 10));
  const std::vector<double> bitmap = load_pages(dir / "b.pbm")[0].values;
  EXPECT_EQ((std::vector<double>{0, 1, 1, 1, 1, 1, 1, 1, 1, 0}), bitmap);
}

TEST_F(Files, FloatingPointSamplesLoadAsTheyAre) {
  const std::vector<float> samples = {0.0f, 0.25f, 1.0f, 1.5f, -0.5f, 1000.0f};
  const std::vector<unsigned char> bytes = as_bytes(samples);
  write_file(dir / "f.pfm", "Pf\n6 1\n-1.0\n" + std::string(bytes.begin(), bytes.end()));
  for (const char* name : {"f.pfm", "f.tif", "f.fits", "f.exr"}) {
    if (name[2] != 'p') write_picture(dir / name, {test_page(6, 1, 1, bytes, SampleType::f32)});
    const LoadedPage loaded = load_pages(dir / name)[0];
    for (std::size_t x = 0; x < 6; ++x) ASSERT_EQ(double(samples[x]), loaded.values[x]) << name;
  }
  // A float TIFF comes back as floats, in the same units; a PNG of it holds 16-bit samples.
  level("mean", dir / "f.tif", dir / "out.tif", 0xffffffffu);
  EXPECT_EQ(SampleType::f32, facts_of(dir / "out.tif").sample);
  EXPECT_NEAR(1000.0, load_pages(dir / "out.tif")[0].values[5], 1e-9);
}

TEST_F(Files, NonFiniteSamplesAreRefusedAndCounted) {
  const std::vector<float> samples = {0.5f, NAN, INFINITY, 0.25f};
  write_picture(dir / "nan.tif", {test_page(4, 1, 1, as_bytes(samples), SampleType::f32)});
  const ToolRun run = run_tool({"mean", dir / "nan.tif", dir / "out.png", "3"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("2 samples are not a finite number")) << run.err;
}

TEST(HalfFloats, RoundToTheNearestTiesToEven) {
  // Half floats have 10 bits of mantissa: steps of 2^-10 from 1, 2^-24 below 2^-14.
  const std::pair<double, std::uint16_t> cases[] = {
      {1.0, 0x3c00},                          {1 + std::ldexp(3.0, -12), 0x3c01},  // three quarters of a step
      {1 + std::ldexp(1.0, -11), 0x3c00},     // half a step from an even mantissa
      {1 + std::ldexp(3.0, -11), 0x3c02},     // half a step from an odd one
      {-2.5, 0xc100},                         {std::ldexp(1.0, -25), 0x0000},      // half the smallest, to 0
      {std::ldexp(3.0, -25), 0x0002},         {std::ldexp(1.0, -14), 0x0400},      // smallest normal
      {65504.0, 0x7bff},                      {65519.0, 0x7bff},                   {65520.0, 0x7c00},
      {1e300, 0x7c00},                        {-0.0, 0x8000}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, to_half(c.first)) << c.first;
    if ((c.second & 0x7c00) != 0x7c00) EXPECT_EQ(c.second, to_half(from_half(c.second))) << c.first;
  }
  EXPECT_EQ(0x7e00, to_half(std::nan("")) & 0x7e00);
}

TEST_F(Files, SavingClampsScalesAndTruncates) {
  // 0.5 becomes 127.5, truncated to 127; NaN is written as 0.
  EXPECT_EQ(0.0, saved_sample(std::nan(""), 255.0));
  const std::vector<double> values = {1.2, -0.1, 0.5, std::nan(""), 1.0, 0.0, 100.0 / 255.0};
  write_page_values(dir / "out.pgm", integer_layout(7, 1, 1, SampleType::u8, 8), values.data());
  EXPECT_EQ(std::string("P5\n7 1\n255\n") + std::string("\xff\x00\x7f\x00\xff\x00\x64", 7), read_file(dir / "out.pgm"));
  // PBM: black below half of 255.
  const std::vector<double> grays = {0.0, 127.5 / 255, 128.0 / 255, 1.0};
  write_page_values(dir / "out.pbm", integer_layout(4, 1, 1, SampleType::u8, 8), grays.data());
  EXPECT_EQ(std::string("P4\n4 1\n\xc0", 8), read_file(dir / "out.pbm"));
}

TEST(SavedCodes, RowsGiveEachValueTheCodeSavingGivesIt) {
  // Long enough for the vector loop and its remainder; the borders of codes, their
  // neighbours, and what saving clamps: beyond 0 and 1, infinities, NaN, -0.
  std::vector<double> values = {std::nan(""), -0.0, -1e-300, 1e-300, -HUGE_VAL, HUGE_VAL, 1.0, 2.0, -3.0};
  for (int k = 0; k <= 255; ++k)
    for (double v : {k / 255.0, std::nextafter(k / 255.0, 0.0), std::nextafter(k / 255.0, 2.0), (k + 0.5) / 255.0})
      values.push_back(v);
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> spread(-0.25, 1.25);
  while (values.size() < 3001) values.push_back(spread(random));
  std::vector<std::uint8_t> bytes(values.size());
  std::vector<std::uint16_t> words(values.size());
  saved_codes(values.data(), values.size(), 255.0, bytes.data());
  saved_codes(values.data(), values.size(), 65535.0, words.data());
  for (std::size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(static_cast<std::uint8_t>(saved_sample(values[i], 255.0)), bytes[i]) << values[i];
    ASSERT_EQ(static_cast<std::uint16_t>(saved_sample(values[i], 65535.0)), words[i]) << values[i];
  }
}

TEST_F(Files, EveryOutputExtensionGetsItsDepth) {
  struct Expected {
    const char* extension;
    SampleType from8, from16, from_float;
  };
  const SampleType u8 = SampleType::u8, u16 = SampleType::u16, f = SampleType::f32;
  const Expected table[] = {{"png", u8, u16, u16}, {"pgm", u8, u16, u16}, {"ppm", u8, u16, u16}, {"pnm", u8, u16, u16},
                            {"tif", u8, u16, f},   {"tiff", u8, u16, f},  {"jpg", u8, u8, u8},   {"jpeg", u8, u8, u8},
                            {"bmp", u8, u8, u8},   {"pfm", f, f, f},      {"exr", f, f, f},      {"fits", u8, u16, f}};
  const std::vector<double> values = {0.0, 0.2, 0.4, 0.6, 0.8, 1.0, 0.1, 0.3, 0.5, 0.7, 0.9, 0.95};
  for (const Expected& e : table) {
    const std::pair<PageLayout, SampleType> inputs[] = {{integer_layout(4, 3, 1, SampleType::u8, 8), e.from8},
                                                      {integer_layout(4, 3, 1, SampleType::u16, 16), e.from16},
                                                      {integer_layout(4, 3, 1, SampleType::f32, 32), e.from_float}};
    for (const auto& input : inputs) {
      const std::string path = dir / (std::string("out.") + e.extension);
      write_page_values(path, input.first, values.data());
      EXPECT_EQ(input.second, facts_of(path).sample) << e.extension << " from " << sample_name(input.first.sample);
    }
  }
  // The image library's own formats keep value * 255 whatever the input: a 16-bit PNG through
  // .cimg and back is the same picture, not a white one.
  std::vector<std::uint16_t> deep(12);
  for (std::size_t i = 0; i < deep.size(); ++i) deep[i] = static_cast<std::uint16_t>(i * 5000);
  write_picture(dir / "deep.png", {test_page(4, 3, 1, as_bytes(deep), SampleType::u16)});
  for (const char* raw : {"r.cimg", "r.asc"}) {
    level("mean", dir / "deep.png", dir / raw, 0xffffffffu);
    level("mean", dir / raw, dir / "back.png", 0xffffffffu);
    const std::vector<double> back = load_pages(dir / "back.png")[0].values;
    for (std::size_t i = 0; i < 12; ++i) ASSERT_NEAR(deep[i] / 65535.0, back[i], 2.0 / 255) << raw;
  }
}

TEST_F(Files, DeepPnmRoundTrips) {
  // maxval 1023 loads as code / 1023 and is written with 16-bit samples, which then come back
  // byte for byte.
  std::string bytes = "P5\n300 1\n1023\n";
  for (int x = 0; x < 300; ++x) bytes += std::string{char((x * 3) >> 8), char((x * 3) & 0xff)};
  write_file(dir / "in.pgm", bytes);
  const LoadedPage in = load_pages(dir / "in.pgm")[0];
  write_page_values(dir / "a.pgm", in.layout, in.values.data());
  EXPECT_EQ(0u, read_file(dir / "a.pgm").find("P5\n300 1\n65535\n"));
  const LoadedPage a = load_pages(dir / "a.pgm")[0];
  for (int x = 0; x < 300; ++x) ASSERT_NEAR(x * 3 / 1023.0, a.values[x], 1.0 / 65535) << x;
  write_page_values(dir / "b.pgm", a.layout, a.values.data());
  EXPECT_EQ(read_file(dir / "a.pgm"), read_file(dir / "b.pgm"));
}
