// What a picture file says besides its samples: alpha, colour model, metadata, pages and the
// layout of TIFF files, carried from the input to the output.
#include <lcms2.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <random>

#include "files.h"
#include "files/file_error.h"
#include "files/page_values.h"
#include "jobs/level_file.h"
#include "image/samples.h"
#include "pictures.h"
#include "reference/literal.h"
#include "run_tool.h"
#include "tiff_bytes.h"

using namespace kelvane;

namespace {

void level(const std::string& keyword, const std::string& in, const std::string& out, std::uint32_t window,
           bool level_alpha = false) {
  Leveling leveling;
  leveling.algorithm = find_algorithm(keyword.c_str());
  leveling.window1 = window;
  leveling.method = find_gray_method("y709");
  leveling.level_alpha = level_alpha;
  std::unique_ptr<PictureReader> reader = open_picture(in);
  level_file(*reader, out, leveling, EncodingChoices(), StreamSettings{2});
}

// A page whose last channel is alpha.
TestPage with_alpha(unsigned w, unsigned h, unsigned channels, const std::vector<unsigned char>& samples) {
  TestPage page = test_page(w, h, channels, samples);
  page.alpha = true;
  return page;
}

// One channel of interleaved samples.
std::vector<unsigned char> channel(const std::vector<unsigned char>& samples, int channels, int c) {
  std::vector<unsigned char> out;
  for (std::size_t i = c; i < samples.size(); i += channels) out.push_back(samples[i]);
  return out;
}

std::string chunk(const std::string& type, const std::string& body) {
  const std::string data = type + body;
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  const auto be = [](std::uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
  return be(static_cast<std::uint32_t>(body.size())) + data + be(static_cast<std::uint32_t>(crc));
}

// An 8 x 2 palette PNG whose second palette entry is fully transparent.
std::string palette_png() {
  const std::string rows = std::string("\0\0\1\2\0\1\2\0\1", 9) + std::string("\0\2\2\2\2\0\0\0\0", 9);
  std::string packed(compressBound(rows.size()), '\0');
  uLongf size = packed.size();
  compress(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(rows.data()), rows.size());
  packed.resize(size);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", std::string("\0\0\0\x08\0\0\0\x02\x08\x03\0\0\0", 13)) +
         chunk("PLTE", std::string("\xc0\x20\x20\x20\xa0\x20\x20\x20\xc0", 9)) + chunk("tRNS", std::string("\xff\x00", 2)) +
         chunk("IDAT", packed) + chunk("IEND", "");
}

class Contents : public ::testing::Test {
 protected:
  ScratchFolder dir;
};

}  // namespace

TEST_F(Contents, AlphaIsKeptAndTheColoursLeveledWithoutIt) {
  const std::vector<unsigned char> rgba = random_bytes(20 * 15 * 4, 1);
  std::vector<unsigned char> rgb;
  for (std::size_t i = 0; i < rgba.size(); ++i)
    if (i % 4 != 3) rgb.push_back(rgba[i]);
  write_picture(dir / "rgba.png", {with_alpha(20, 15, 4, rgba)});
  write_picture(dir / "rgb.png", {test_page(20, 15, 3, rgb)});
  for (const Algorithm& a : algorithm_table) {
    level(a.keyword, dir / "rgba.png", dir / "out-rgba.png", 7);
    level(a.keyword, dir / "rgb.png", dir / "out-rgb.png", 7);
    const std::vector<unsigned char> out = samples_of(dir / "out-rgba.png"), expected = samples_of(dir / "out-rgb.png");
    EXPECT_EQ(channel(rgba, 4, 3), channel(out, 4, 3)) << a.keyword << ": alpha changed";
    for (int c = 0; c < 3; ++c) EXPECT_EQ(channel(expected, 3, c), channel(out, 4, c)) << a.keyword << " channel " << c;
  }
  // The former treatment on request: alpha rescaled by the gray ratio.
  level("std_fn", dir / "rgba.png", dir / "out.png", 7, true);
  EXPECT_NE(channel(rgba, 4, 3), channel(samples_of(dir / "out.png"), 4, 3));
  // A palette PNG with a transparent entry: opaque pixels stay opaque.
  write_file(dir / "palette.png", palette_png());
  level("std", dir / "palette.png", dir / "out.png", 31);
  EXPECT_EQ(std::vector<unsigned char>({255, 0, 255, 255, 0, 255, 255, 0, 255, 255, 255, 255, 255, 255, 255, 255}),
            channel(samples_of(dir / "out.png"), 4, 3));
}

TEST_F(Contents, OutputsWithoutAlphaGetTheColoursOnly) {
  write_picture(dir / "rgba.png", {with_alpha(6, 4, 4, random_bytes(6 * 4 * 4, 2))});
  write_picture(dir / "ga.png", {with_alpha(6, 4, 2, random_bytes(6 * 4 * 2, 3))});
  const std::pair<const char*, int> outputs[] = {{"jpg", 3}, {"ppm", 3}, {"bmp", 3}, {"png", 4}, {"tif", 4}};
  for (const auto& o : outputs) {
    const std::string out = dir / (std::string("out.") + o.first);
    level("mean", dir / "rgba.png", out, 3);
    const Facts facts = facts_of(out);
    EXPECT_EQ(o.second, facts.bands) << o.first;
    EXPECT_EQ(o.second == 4, facts.alpha) << o.first;
    EXPECT_FALSE(facts.cmyk) << o.first;
    level("mean", dir / "ga.png", out, 3);
    // (BMP's gray is a palette of grays, which libvips reads as RGB; a .ppm is RGB.)
    const std::size_t gray = std::string(o.first) == "ppm" ? 3 : 1;
    EXPECT_EQ(o.second == 4 ? 2u : gray, load_pages(out)[0].layout.channels) << "gray + alpha to " << o.first;
  }
}

TEST_F(Contents, ColourModelsBecomeRgbOrAreRefused) {
  // A four-channel JPEG is CMYK; without a profile it loads as the RGB a viewer shows:
  // R = (1 - C)(1 - K) and so on, rounded to the nearest code.
  write_picture(dir / "cmyk.jpg", {test_page(8, 4, 4, random_bytes(8 * 4 * 4, 4))});
  ASSERT_TRUE(facts_of(dir / "cmyk.jpg").cmyk);
  const LoadedPage page = load_pages(dir / "cmyk.jpg")[0];
  ASSERT_EQ(3u, page.layout.channels);
  const std::vector<unsigned char> inks = samples_of(dir / "cmyk.jpg");
  for (std::size_t i = 0; i < 32; ++i)
    for (int c = 0; c < 3; ++c) {
      const int shown = ((255 - inks[4 * i + c]) * (255 - inks[4 * i + 3]) + 127) / 255;
      ASSERT_EQ(shown / 255.0, page.values[i + 32 * c]) << i;
    }
  // Min-is-white loads as a positive; L*a*b* is refused by name.
  TiffPage white;
  white.width = 2;
  white.photometric = 0;
  white.data = std::string("\x00\xff", 2);
  write_file(dir / "white.tif", tiff_bytes({white}));
  EXPECT_EQ((std::vector<double>{1.0, 0.0}), load_pages(dir / "white.tif")[0].values);
  TiffPage lab = white;
  lab.samples = 3;
  lab.photometric = 8;
  lab.data = std::string(6, '\x40');
  write_file(dir / "lab.tif", tiff_bytes({lab}));
  EXPECT_THROW(
      {
        try {
          load_pages(dir / "lab.tif");
        } catch (const FileError& e) {
          EXPECT_NE(std::string::npos, std::string(e.what()).find("CIELAB")) << e.what();
          throw;
        }
      },
      FileError);
}

// lcms2's sRGB profile, as a file would embed it.
std::string icc_profile() {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(srgb, nullptr, &size);
  std::string bytes(size, '\0');
  cmsSaveProfileToMem(srgb, &bytes[0], &size);
  cmsCloseProfile(srgb);
  return bytes;
}

TEST_F(Contents, MetadataTravelsToEveryFormatThatHoldsIt) {
  TestPage with = test_page(16, 8, 3, random_bytes(16 * 8 * 3, 6));
  with.metadata.icc_profile = icc_profile();
  with.metadata.orientation = 6;
  with.metadata.x_resolution = with.metadata.y_resolution = 300;
  with.metadata.resolution_unit = ResolutionUnit::inch;
  with.metadata.texts = {{"Description", "page 12"}};
  write_picture(dir / "in.tif", {with});
  for (const char* name : {"out.tif", "out.jpg", "out.png"}) {
    level("mean", dir / "in.tif", dir / name, 5);
    const Facts out = facts_of(dir / name);
    EXPECT_EQ(std::string(name) == "out.png" ? 0 : 6, out.orientation) << name;
    EXPECT_NEAR(300.0, out.dots_per_inch, 0.01) << name;  // PNG holds dots per metre
    EXPECT_EQ(with.metadata.icc_profile, out.icc_profile) << name;
  }
  EXPECT_EQ("page 12", facts_of(dir / "out.tif").description);
}

TEST_F(Contents, PagesKeepTheirOwnSizeChannelsAndDepth) {
  const TestPage colour = test_page(6, 4, 3, random_bytes(6 * 4 * 3, 7));
  const TestPage gray = test_page(3, 5, 1, random_bytes(3 * 5 * 2, 8), SampleType::u16);
  write_picture(dir / "pages.tif", {colour, gray});
  level("std_fn", dir / "pages.tif", dir / "out.tif", 3);
  write_picture(dir / "second.tif", {gray});
  level("std_fn", dir / "second.tif", dir / "second-out.tif", 3);
  const std::vector<LoadedPage> pages = load_pages(dir / "out.tif");
  ASSERT_EQ(2u, pages.size());
  EXPECT_EQ(6u, pages[0].layout.width);
  EXPECT_EQ(3u, pages[0].layout.channels);
  EXPECT_EQ(3u, pages[1].layout.width);
  EXPECT_EQ(5u, pages[1].layout.height);
  EXPECT_EQ(SampleType::u16, pages[1].layout.sample);
  EXPECT_EQ(load_pages(dir / "second-out.tif")[0].values, pages[1].values);
  // A format of one page refuses them rather than dropping any.
  EXPECT_THROW(level("mean", dir / "pages.tif", dir / "out.png", 3), FileError);
}

TEST_F(Contents, EveryPageIsTheLiteralReadingOfItsOwnValues) {
  // Pages of different sizes, channels and depths, through every algorithm with two windows
  // (the stream's rows from the file, the table rows from cursors).
  write_picture(dir / "pages.tif", {test_page(23, 41, 3, random_bytes(23 * 41 * 3, 10)),
                                    test_page(17, 29, 1, random_bytes(17 * 29 * 2, 11), SampleType::u16)});
  const std::vector<LoadedPage> in = load_pages(dir / "pages.tif");
  for (const Algorithm& a : algorithm_table) {
    Leveling leveling;
    leveling.algorithm = &a;
    leveling.windows = 2;
    leveling.window1 = 5;
    leveling.window2 = 21;
    leveling.method = find_gray_method("y709");
    std::unique_ptr<PictureReader> reader = open_picture(dir / "pages.tif");
    level_file(*reader, dir / "out.tif", leveling, EncodingChoices(), StreamSettings{2});
    const std::vector<LoadedPage> out = load_pages(dir / "out.tif");
    for (std::size_t p = 0; p < 2; ++p) {
      literal::Img expected(unsigned(in[p].layout.width), unsigned(in[p].layout.height), unsigned(in[p].layout.channels));
      expected.v = in[p].values;
      literal::level(a.keyword, 2, expected, 5, 21, leveling.method);
      const double unit = p == 0 ? 255.0 : 65535.0;
      for (std::size_t i = 0; i < expected.v.size(); ++i)
        ASSERT_EQ(std::floor(saved_sample(expected.v[i], unit)) / unit, out[p].values[i]) << a.keyword << " page " << p;
    }
  }
}

TEST_F(Contents, TiffLayoutsAndTags) {
  // The directory before the pixel data, and an orientation that is kept, pixels unturned.
  TiffPage page;
  page.width = 3;
  page.height = 2;
  page.orientation = 3;
  page.data = std::string("\x10\x20\x30\x40\x50\x60", 6);
  write_file(dir / "first.tif", tiff_bytes({page}, true));
  EXPECT_EQ((std::vector<double>{16 / 255.0, 32 / 255.0, 48 / 255.0, 64 / 255.0, 80 / 255.0, 96 / 255.0}),
            load_pages(dir / "first.tif")[0].values);
  level("mean", dir / "first.tif", dir / "out.tif", 0xffffffffu);
  EXPECT_EQ(3, facts_of(dir / "out.tif").orientation);
  // Two and four channels carry their ExtraSamples: alpha where the input had alpha.
  struct Case {
    int channels;
    std::vector<std::uint16_t> extra;
    std::uint32_t photometric, written_extra;
  };
  for (const Case& c : {Case{2, {2}, 1, 2}, Case{4, {2}, 2, 2}, Case{2, {0}, 1, 0}, Case{4, {0}, 2, 0}}) {
    TiffPage in;
    in.samples = static_cast<std::uint16_t>(c.channels);
    in.photometric = c.channels == 4 ? 2 : 1;
    in.extra_samples = c.extra;
    in.data = std::string(c.channels, '\x80');
    write_file(dir / "in.tif", tiff_bytes({in}));
    level("mean", dir / "in.tif", dir / "out.tif", 3);
    const std::string out = read_file(dir / "out.tif");
    EXPECT_EQ(std::vector<std::uint32_t>{c.photometric}, tiff_tag(out, 262)) << c.channels;
    EXPECT_EQ(std::vector<std::uint32_t>{c.written_extra}, tiff_tag(out, 338)) << c.channels << " " << c.extra[0];
  }
  // BigTIFF and 16-bit BMP are pictures like any other.
  write_picture(dir / "big.tif", {test_page(4, 2, 1, random_bytes(8, 9))}, true);
  ASSERT_EQ('+', read_file(dir / "big.tif")[2]);
  EXPECT_EQ(8u, load_pages(dir / "big.tif")[0].values.size());
  // 2 x 1, 5-6-5 bits: (31, 63, 31) and (1, 2, 3).
  std::string bmp = std::string("BM", 2) + std::string("\x46\0\0\0\0\0\0\0\x42\0\0\0", 12) +
                    std::string("\x28\0\0\0\x02\0\0\0\x01\0\0\0\x01\0\x10\0\x03\0\0\0\x04\0\0\0", 24) +
                    std::string(16, '\0') + std::string("\x00\xf8\0\0\xe0\x07\0\0\x1f\0\0\0", 12) +
                    std::string("\xff\xff\x43\x08", 4);
  write_file(dir / "565.bmp", bmp);
  EXPECT_EQ((std::vector<double>{1.0, 1 / 31.0, 1.0, 2 / 63.0, 1.0, 3 / 31.0}), load_pages(dir / "565.bmp")[0].values);
}
