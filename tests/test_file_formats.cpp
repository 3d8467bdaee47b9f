// File formats against the image library itself: the direct PNG and PNM paths must give the
// values the library gives, and every integer output must carry integer samples.
#include <tiffio.h>

#include <random>

#include "CImg.h"
#include "files.h"
#include "support.h"
#include "main/image_file.h"
#include "run_tool.h"

using cimg_library::CImg;

namespace {

CImg<unsigned short> random_samples(unsigned w, unsigned h, unsigned s, unsigned top, unsigned seed) {
  CImg<unsigned short> im(w, h, 1, s);
  std::mt19937 rng(seed);
  cimg_for(im, p, unsigned short) *p = static_cast<unsigned short>(rng() % (top + 1));
  return im;
}

Image unit_image_of(const CImg<double>& values, unsigned bits) {
  return image_of(values.width(), values.height(), values.spectrum(),
                  std::vector<double>(values.begin(), values.end()), bits);
}

}  // namespace

TEST(FileFormats, PngLoadsTheLibrarysValues) {
  ScratchFolder dir;
  for (unsigned channels : {1u, 2u, 3u, 4u})
    for (unsigned bytes : {1u, 2u}) {
      const CImg<unsigned short> samples = random_samples(13, 7, channels, bytes == 1 ? 255 : 65535, channels);
      const std::string path = dir / "in.png";
      samples.save_png(path.c_str(), bytes);
      const Image loaded = load_unit_image(path);
      const CImg<double> expected = CImg<double>().load_png(path.c_str()) / (bytes == 1 ? 255.0 : 65535.0);
      ASSERT_EQ(expected.size(), loaded.size()) << channels;
      EXPECT_EQ(bytes * 8, loaded.bits);
      for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(expected[i], loaded.values[i]) << channels << " channels, " << bytes << " bytes, " << i;
    }
}

TEST(FileFormats, JpegLoadsTheLibrarysValues) {
  ScratchFolder dir;
  for (unsigned channels : {1u, 3u}) {
    const CImg<unsigned char> samples(random_samples(21, 11, channels, 255, 7 + channels));
    const std::string path = dir / "in.jpg";
    samples.save_jpeg(path.c_str(), 80);
    const Image loaded = load_unit_image(path);
    const CImg<double> expected = CImg<double>().load_jpeg(path.c_str()) / 255.0;
    ASSERT_EQ(expected.size(), loaded.size());
    for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(expected[i], loaded.values[i]) << i;
  }
}

TEST(FileFormats, EightBitOutputsMatchTheLibrarysConversion) {
  ScratchFolder dir;
  CImg<double> values(9, 5, 1, 3);
  std::mt19937 rng(4);
  cimg_for(values, p, double) *p = double(rng() % 3000) / 2500.0 - 0.1;  // some out of range
  const Image im = unit_image_of(values, 8);
  // What the library would store: the scaled, clamped double, converted by the library.
  CImg<double> scaled = values * 255.0;
  cimg_for(scaled, p, double) *p = *p > 255.0 ? 255.0 : (*p > 0.0 ? *p : 0.0);
  // The library would write a TIFF of doubles (127.5 and all); ours holds the integers every
  // other format gets, which is the library's own conversion to 8-bit samples.
  const CImg<unsigned char> as_bytes(scaled);
  for (const char* name : {"out.png", "out.ppm", "out.tif", "out.bmp"}) {
    save_unit_image(im, dir / name);
    const std::string expected_path = dir / (std::string("library-") + name);
    as_bytes.save(expected_path.c_str());
    const CImg<double> ours(( dir / name).c_str()), theirs(expected_path.c_str());
    EXPECT_TRUE(ours == theirs) << name;
  }
  // PNG and PNM files are byte for byte the ones the library writes.
  scaled.save_pnm((dir / "library.ppm").c_str());
  EXPECT_EQ(read_file(dir / "library.ppm"), read_file(dir / "out.ppm"));
  EXPECT_EQ(read_file(dir / "library-out.png"), read_file(dir / "out.png"));
}

TEST(FileFormats, IntegerOutputsCarryIntegerSamplesOfTheInputsDepth) {
  ScratchFolder dir;
  CImg<double> values(6, 4, 1, 3, 0.25);
  for (unsigned bits : {8u, 16u}) {
    const Image im = unit_image_of(values, bits);
    save_unit_image(im, dir / "o.png");
    EXPECT_EQ(char(bits), read_file(dir / "o.png")[24]) << "PNG bit depth";
    save_unit_image(im, dir / "o.ppm");
    EXPECT_EQ(0u, read_file(dir / "o.ppm").find(bits == 16 ? "P6\n6 4\n65535\n" : "P6\n6 4\n255\n"));
    save_unit_image(im, dir / "o.tif");
    TIFF* tiff = TIFFOpen((dir / "o.tif").c_str(), "r");
    ASSERT_NE(nullptr, tiff);
    uint16_t tiff_bits = 0, format = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &tiff_bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFClose(tiff);
    EXPECT_EQ(bits, tiff_bits);
    EXPECT_EQ(SAMPLEFORMAT_UINT, format);
    // JPEG and BMP hold 8 bits only.
    save_unit_image(im, dir / "o.bmp");
    EXPECT_EQ(24, read_file(dir / "o.bmp")[28]);
    save_unit_image(im, dir / "o.jpg");
    const CImg<double> jpeg((dir / "o.jpg").c_str());
    EXPECT_NEAR(63.75, jpeg.mean(), 1.0);  // lossy, but 8-bit values
  }
}

TEST(FileFormats, SixteenBitPicturesRoundTripWithinOneCode) {
  ScratchFolder dir;
  CImg<unsigned short> gradient(300, 2, 1, 1);
  cimg_forXY(gradient, x, y) gradient(x, y) = static_cast<unsigned short>(x * 219 + y);
  for (const char* name : {"g.png", "g.pgm", "g.tif"}) {
    gradient.save((dir / name).c_str());
    const Image im = load_unit_image(dir / name);
    EXPECT_EQ(16u, im.bits) << name;
    EXPECT_EQ(gradient(299, 1) / 65535.0, im.values[299 + 300]) << name;  // not / 255
    save_unit_image(im, dir / (std::string("back-") + name));
    const CImg<double> back((dir / (std::string("back-") + name)).c_str());
    for (int x = 0; x < 300; ++x) ASSERT_NEAR(gradient(x, 1), back(x, 1), 1.0) << name << " " << x;
  }
}

TEST(FileFormats, MultiPageTiffIsLeveledPageByPage) {
  ScratchFolder dir;
  CImg<unsigned char> pages(20, 15, 3, 3);
  std::mt19937 rng(8);
  cimg_for(pages, p, unsigned char) *p = static_cast<unsigned char>(rng());
  pages.save_tiff((dir / "pages.tif").c_str());
  ASSERT_EQ(0, run_tool({"std_fn", dir / "pages.tif", dir / "out.tif", "5", "y709"}).status);
  const CImg<double> leveled((dir / "out.tif").c_str());
  ASSERT_EQ(3, leveled.depth());
  for (int z = 0; z < 3; ++z) {
    pages.get_slice(z).save((dir / "page.ppm").c_str());
    ASSERT_EQ(0, run_tool({"std_fn", dir / "page.ppm", dir / "page-out.ppm", "5", "y709"}).status);
    EXPECT_TRUE(CImg<double>((dir / "page-out.ppm").c_str()) == leveled.get_slice(z)) << "page " << z;
  }
  // Pages without colour: the gray form warns once for the picture and levels every page.
  pages.get_channel(0).save_tiff((dir / "gray-pages.tif").c_str());
  const ToolRun gray = run_tool({"mean_fn", dir / "gray-pages.tif", dir / "gray-out.tif", "5", "y709"});
  EXPECT_EQ(0, gray.status);
  EXPECT_EQ("Warning: image does not have 3 channels\n", gray.out);
  // A format holding one page refuses the volume instead of dropping pages.
  const ToolRun png = run_tool({"mean", dir / "pages.tif", dir / "out.png", "5"});
  EXPECT_EQ(1, png.status);
  EXPECT_NE(std::string::npos, png.err.find("3 slices"));
}
