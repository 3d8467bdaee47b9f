// FITS, OpenEXR, PFM and BMP files as other programs make and read them (astropy, fitsverify,
// OpenEXR's tools, ImageMagick): every BITPIX with its scaling, rows from the top of the
// picture as shown, data and display windows, half floats, run-length coded BMP.
#include <cmath>
#include <cstring>
#include <random>

#include "files.h"
#include "image/samples.h"
#include "pictures.h"
#include "programs.h"
#include "run_tool.h"

using namespace kelvane;

namespace {

class ScienceFiles : public ::testing::Test {
 protected:
  ScratchFolder dir;
};

std::vector<double> numbers(const std::string& text) {
  std::istringstream in(text);
  std::vector<double> values;
  for (double v; in >> v;) values.push_back(v);
  return values;
}

}  // namespace

TEST_F(ScienceFiles, EveryBitpixLoadsAsDocumented) {
  // astropy writes a 3 x 2 image of each type; its first row is the bottom of the picture.
  struct Case {
    const char* make;        // numpy array expression, and how astropy stores it
    std::vector<double> shown;  // the values kelvane loads, top row first
  };
  const double u8 = 255, u16 = 65535, u32 = 4294967295.0;
  const Case cases[] = {
      {"numpy.array([[0, 1, 2], [253, 254, 255]], dtype='uint8')", {253 / u8, 254 / u8, 1, 0, 1 / u8, 2 / u8}},
      {"numpy.array([[-128, -1, 0], [1, 100, 127]], dtype='int8')", {129 / u8, 228 / u8, 1, 0, 127 / u8, 128 / u8}},
      {"numpy.array([[-32768, -1, 0], [1, 7, 32767]], dtype='int16')", {32769 / u16, 32775 / u16, 1, 0, 32767 / u16, 32768 / u16}},
      {"numpy.array([[0, 1, 32768], [40000, 65534, 65535]], dtype='uint16')", {40000 / u16, 65534 / u16, 1, 0, 1 / u16, 32768 / u16}},
      {"numpy.array([[-2147483648, 0, 5], [1, 2, 2147483647]], dtype='int32')",
       {2147483649.0 / u32, 2147483650.0 / u32, 1, 0, 2147483648.0 / u32, 2147483653.0 / u32}},
      {"numpy.array([[0, 1, 4000000000], [5, 6, 4294967295]], dtype='uint32')", {5 / u32, 6 / u32, 1, 0, 1 / u32, 4000000000.0 / u32}},
      {"numpy.array([[-5, 0, 7], [1, 2, 3]], dtype='int64')", {1, 2, 3, -5, 0, 7}},
      {"numpy.array([[-0.5, 0.25, 2.0], [1e10, 0.0, 1.0]], dtype='float32')", {1e10, 0, 1, -0.5, 0.25, 2}},
      {"numpy.array([[-0.5, 0.1, 2.0], [1e300, 0.0, 1.0]], dtype='float64')", {1e300, 0, 1, -0.5, 0.1, 2}},
  };
  for (const Case& c : cases) {
    const std::string path = dir / "image.fits";
    const ProgramRun made = run_python("import numpy\nfrom astropy.io import fits\n"
                                       "fits.PrimaryHDU(" + std::string(c.make) + ").writeto('" + path + "', overwrite=True)");
    ASSERT_EQ(0, made.status) << made.output;
    const std::vector<double> loaded = load_pages(path)[0].values;
    ASSERT_EQ(c.shown.size(), loaded.size()) << c.make;
    for (std::size_t i = 0; i < loaded.size(); ++i)
      EXPECT_NEAR(c.shown[i], loaded[i], std::fabs(c.shown[i]) * 1e-7) << c.make << " " << i;
  }
  // Any other scaling: the physical values, BZERO + BSCALE * stored.
  ASSERT_EQ(0, run_python("import numpy\nfrom astropy.io import fits\n"
                          "h = fits.PrimaryHDU(numpy.array([[10.5, 11], [11.5, 12]]))\n"
                          "h.scale('int16', bscale=0.5, bzero=10)\n"
                          "h.writeto('" + dir / "scaled.fits" + "')").status);
  EXPECT_EQ((std::vector<double>{11.5, 12, 10.5, 11}), load_pages(dir / "scaled.fits")[0].values);
}

TEST_F(ScienceFiles, WrittenFitsPassesFitsverifyAndReadsTheSameInAstropy) {
  std::vector<unsigned char> rgb(7 * 5 * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 7);
  write_file(dir / "in.ppm", pnm_bytes(7, 5, 3, rgb));
  ASSERT_EQ(0, run_tool({"mean", dir / "in.ppm", dir / "float.tif", "-1"}).status);
  TestPage deep = test_page(7, 5, 1, std::vector<unsigned char>(70), SampleType::u16);
  for (std::size_t i = 0; i < 35; ++i) reinterpret_cast<std::uint16_t*>(deep.samples.data())[i] = std::uint16_t(i * 1800);
  write_picture(dir / "deep.tif", {deep});
  for (const char* in : {"in.ppm", "deep.tif"}) {
    const std::string out = dir / (std::string(in) + ".fits");
    ASSERT_EQ(0, run_tool({"mean", dir / in, out, "3"}).status) << in;
    const ProgramRun verified = run_program("fitsverify -q " + quoted(out));
    EXPECT_EQ(0u, verified.output.find("verification OK")) << verified.output;
    // astropy's first row is the bottom one; kelvane's are from the top.
    const LoadedPage page = load_pages(out)[0];
    const ProgramRun read = run_python("from astropy.io import fits\nimport numpy\n"
                                       "data = fits.getdata('" + out + "')\n"
                                       "print(' '.join(repr(float(v)) for v in numpy.flip(data, axis=-2).flat))");
    ASSERT_EQ(0, read.status) << read.output;
    const std::vector<double> astropy = numbers(read.output);
    ASSERT_EQ(page.values.size(), astropy.size()) << in;
    // Integers as astropy reads them (BZERO 32768 applied) are the codes, kelvane's values
    // code / (2^b - 1).
    const double unit = std::string(in) == "deep.tif" ? 65535 : 255;
    for (std::size_t i = 0; i < astropy.size(); ++i) EXPECT_EQ(float(page.values[i] * unit), float(astropy[i])) << in << " " << i;
  }
  // The picture as shown is the TIFF's: astropy's rows flipped are a TIFF's from the top.
  ASSERT_EQ(0, run_tool({"mean", dir / "deep.tif", dir / "deep-out.tif", "3"}).status);
  EXPECT_EQ(run_python("import tifffile\nprint(tifffile.imread('" + dir / "deep-out.tif" + "').tolist())").output,
            run_python("from astropy.io import fits\nimport numpy\n"
                       "print(numpy.flip(fits.getdata('" + dir / "deep.tif.fits" + "'), axis=0).tolist())").output);
  EXPECT_EQ("uint16", run_python("from astropy.io import fits\nprint(fits.getdata('" + dir / "deep.tif.fits" + "').dtype)").output.substr(0, 6));
  EXPECT_EQ("uint8", run_python("from astropy.io import fits\nprint(fits.getdata('" + dir / "in.ppm.fits" + "').dtype)").output.substr(0, 5));
}

TEST_F(ScienceFiles, OpenExrKeepsItsWindowsHalfFloatsAndAssociatedAlpha) {
  // Half-float RGBA in a data window within a larger display window; colours multiplied by
  // alpha, as OpenEXR has them.
  TestPage page;
  page.width = 10;
  page.height = 6;
  page.channels = 4;
  page.alpha = true;
  page.sample = SampleType::f16;
  std::vector<std::uint16_t> halves;
  for (unsigned i = 0; i < 60; ++i) {
    const double alpha = 0.25 + (i % 4) * 0.25, colour = (i % 7) / 7.0;
    for (int c = 0; c < 3; ++c) halves.push_back(to_half(colour * alpha));
    halves.push_back(to_half(alpha));
  }
  page.samples = as_bytes(halves);
  page.metadata.has_windows = true;
  const int data[4] = {10, 20, 19, 25}, display[4] = {0, 0, 99, 49};
  std::copy(data, data + 4, page.metadata.data_window);
  std::copy(display, display + 4, page.metadata.display_window);
  write_picture(dir / "in.exr", {page});
  ASSERT_EQ(0, run_tool({"mean", dir / "in.exr", dir / "out.exr", "-1"}).status);
  const std::string header = run_program("exrheader " + quoted(dir / "out.exr")).output;
  EXPECT_NE(std::string::npos, header.find("dataWindow (type box2i): (10 20) - (19 25)")) << header;
  EXPECT_NE(std::string::npos, header.find("displayWindow (type box2i): (0 0) - (99 49)")) << header;
  EXPECT_EQ(std::string::npos, header.find("32-bit floating-point")) << header;
  // The straight colours are leveled (here left as they were) and multiplied again.
  const LoadedPage in = load_pages(dir / "in.exr")[0], out = load_pages(dir / "out.exr")[0];
  EXPECT_TRUE(in.layout.premultiplied);
  for (std::size_t i = 0; i < 60; ++i) ASSERT_NEAR((i % 7) / 7.0, in.values[i], 1e-3) << i;
  for (std::size_t i = 0; i < in.values.size(); ++i) ASSERT_NEAR(in.values[i], out.values[i], 2e-3) << i;
}

TEST_F(ScienceFiles, PfmStoresTheBottomRowFirst) {
  // 2 x 2, little-endian: stored rows (0.5, 0.25) then (1.0, 0.75), the first the bottom.
  const std::vector<float> stored = {0.5f, 0.25f, 1.0f, 0.75f};
  const std::vector<unsigned char> bytes = as_bytes(stored);
  write_file(dir / "in.pfm", "Pf\n2 2\n-1.0\n" + std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ((std::vector<double>{1.0, 0.75, 0.5, 0.25}), load_pages(dir / "in.pfm")[0].values);
  ASSERT_EQ(0, run_tool({"mean", dir / "in.pfm", dir / "out.pfm", "-1"}).status);
  const std::string out = read_file(dir / "out.pfm");
  ASSERT_EQ(0u, out.find("Pf\n2 2\n-1.0\n"));
  EXPECT_EQ(load_pages(dir / "in.pfm")[0].values, load_pages(dir / "out.pfm")[0].values);
  float first;
  std::memcpy(&first, out.data() + 12, 4);
  EXPECT_NEAR(0.5f, first, 1e-6);
}

TEST_F(ScienceFiles, ARunLengthBmpReadsAsImageMagickWroteIt) {
  std::vector<unsigned char> gray(40 * 30), rgb(40 * 30 * 3);
  for (std::size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<unsigned char>((i / 7) % 5 * 60);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>((i / 21) % 4 * 80);
  write_file(dir / "gray.pgm", pnm_bytes(40, 30, 1, gray));
  write_file(dir / "rgb.ppm", pnm_bytes(40, 30, 3, rgb));
  for (const char* name : {"gray", "rgb"}) {
    const std::string in = dir / (std::string(name) + (name[0] == 'g' ? ".pgm" : ".ppm"));
    const std::string bmp = dir / (std::string(name) + ".bmp");
    ASSERT_EQ(0, run_program("/usr/bin/convert " + quoted(in) + " -type Palette -compress RLE BMP3:" + quoted(bmp)).status);
    ASSERT_EQ("1", run_program("exiftool -s -s -s -n -Compression " + quoted(bmp)).output.substr(0, 1)) << name;
    EXPECT_EQ(load_pages(in)[0].values, load_pages(bmp)[0].values) << name;
  }
}
