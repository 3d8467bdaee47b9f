// TIFF files as other programs make them (libtiff's tools, tifffile, ImageMagick, exiftool):
// tiles and planes, every sample type, associated alpha, CMYK with alpha, the camera's Exif,
// orientation.
#include <lcms2.h>

#include <cmath>
#include <random>

#include "files.h"
#include "image/samples.h"
#include "pictures.h"
#include "programs.h"
#include "reference/literal.h"
#include "run_tool.h"
#include "tiff_bytes.h"

using namespace kelvane;

namespace {

// One tag of a file as exiftool prints its value.
std::string exif_value(const std::string& path, const std::string& tag) {
  std::string value = run_program("exiftool -s -s -s -n -" + tag + " " + quoted(path)).output;
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
  return value;
}

// The values kelvane writes for a leveled picture, in integer codes as a file stores them.
std::vector<long long> saved_codes(const std::vector<double>& values, double unit, double offset) {
  std::vector<long long> codes;
  for (double v : values) codes.push_back(static_cast<long long>(saved_sample(v, unit)) - static_cast<long long>(offset));
  return codes;
}

// The first page of a file leveled by the literal reading of `mean` with window 3.
std::vector<double> leveled_mean_3(const std::string& path) {
  const LoadedPage in = load_pages(path)[0];
  literal::Img image(unsigned(in.layout.width), unsigned(in.layout.height), unsigned(in.layout.channels));
  image.v = in.values;
  literal::level("mean", 1, image, 3, 0, nullptr);
  return image.v;
}

class TiffFiles : public ::testing::Test {
 protected:
  ScratchFolder dir;
};

}  // namespace

TEST_F(TiffFiles, TilesAndPlanesReadAsTheStripsTheyWereMadeFrom) {
  write_picture(dir / "strips.tif", {test_page(150, 100, 3, random_bytes(150 * 100 * 3, 1))});
  write_picture(dir / "deep.tif", {test_page(70, 45, 1, random_bytes(70 * 45 * 2, 2), SampleType::u16)});
  const std::string strips = quoted(dir / "strips.tif"), deep = quoted(dir / "deep.tif");
  const std::vector<std::pair<std::string, std::string>> made = {
      {"tiles.tif", "tiffcp -t -w 64 -l 64 " + strips},
      {"planes-tiles.tif", "tiffcp -p separate -t -w 32 -l 16 " + strips},
      {"planes.tif", "tiffcp -p separate -r 7 " + strips},
      {"lzw-tiles.tif", "tiffcp -c lzw -t -w 16 -l 16 " + strips},
      {"deep-tiles.tif", "tiffcp -t -w 32 -l 32 " + deep},
  };
  for (const auto& m : made) {
    ASSERT_EQ(0, run_program(m.second + " " + quoted(dir / m.first)).status) << m.second;
    const std::string original = m.first.compare(0, 4, "deep") == 0 ? "deep.tif" : "strips.tif";
    EXPECT_EQ(load_pages(dir / original)[0].values, load_pages(dir / m.first)[0].values) << m.first;
    ASSERT_EQ(0, run_tool({"std", dir / m.first, dir / ("out-" + m.first), "31"}).status) << m.first;
    ASSERT_EQ(0, run_tool({"std", dir / original, dir / ("out-" + original), "31"}).status);
    EXPECT_EQ(load_pages(dir / ("out-" + original))[0].values, load_pages(dir / ("out-" + m.first))[0].values) << m.first;
  }
}

TEST_F(TiffFiles, EverySampleTypeKeepsItsTypeAndSign) {
  // tifffile writes gray pictures of each type, negative samples among the signed and
  // floating-point ones; kelvane levels them and writes the same type back.
  struct Case {
    const char* dtype;
    const char* values;
    double unit, offset;  // of the integer codes; 0: floating point
  };
  const Case cases[] = {{"int8", "[-128, -60, -1, 0, 1, 90, 127, 5]", 255, 128},
                        {"int16", "[-32768, -9000, -1, 0, 1, 12000, 32767, 7]", 65535, 32768},
                        {"int32", "[-2147483648, -5, -1, 0, 1, 70000, 2147483647, 3]", 4294967295.0, 2147483648.0},
                        {"uint32", "[0, 1, 4000000000, 5, 70000, 4294967295, 2, 3]", 4294967295.0, 0},
                        {"float16", "[-1.5, 0.25, 0.1, 1000.0, 0.0, 0.5, 2.0, -0.125]", 0, 0},
                        {"float32", "[-1.5, 0.25, 0.1, 1e6, 0.0, 0.5, 2.0, -0.125]", 0, 0},
                        {"float64", "[-1.5, 0.25, 0.1, 1e300, 0.0, 0.5, 2.0, -0.125]", 0, 0}};
  for (const Case& c : cases) {
    const std::string in = dir / (std::string(c.dtype) + ".tif"), out = dir / (std::string(c.dtype) + "-out.tif");
    ASSERT_EQ(0, run_python("import numpy, tifffile\n"
                            "row = numpy.array(" + std::string(c.values) + ", dtype='" + c.dtype + "')\n"
                            "tifffile.imwrite('" + in + "', numpy.stack([row, row[::-1], row]))").status);
    ASSERT_EQ(0, run_tool({"mean", in, out, "3"}).status) << c.dtype;
    const ProgramRun read = run_python("import tifffile\na = tifffile.imread('" + out + "')\n"
                                       "print(a.dtype)\nprint(' '.join(repr(float(v)) for v in a.flat))");
    ASSERT_EQ(0, read.status) << read.output;
    std::istringstream lines(read.output);
    std::string dtype;
    lines >> dtype;
    EXPECT_EQ(c.dtype, dtype);
    std::vector<double> written;
    for (double v; lines >> v;) written.push_back(v);
    const std::vector<double> expected = leveled_mean_3(in);
    ASSERT_EQ(expected.size(), written.size()) << c.dtype;
    if (c.unit > 0) {
      const std::vector<long long> codes = saved_codes(expected, c.unit, c.offset);
      for (std::size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(double(codes[i]), written[i]) << c.dtype << " " << i;
    } else {
      // Rounded once to the file's precision.
      const double precision = std::string(c.dtype) == "float16" ? 1e-3 : std::string(c.dtype) == "float32" ? 1e-7 : 0;
      for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(expected[i], written[i], precision * std::fabs(expected[i])) << c.dtype << " " << i;
    }
  }
}

TEST_F(TiffFiles, SignedSamplesAreOffsetOntoZeroToOne) {
  // The smallest code is 0, the largest 1: (code + 2^(b-1)) / (2^b - 1).
  ASSERT_EQ(0, run_python("import numpy, tifffile\n"
                          "tifffile.imwrite('" + dir / "s8.tif" + "', numpy.array([[-128, -1, 0, 127]], dtype='int8'))\n"
                          "tifffile.imwrite('" + dir / "s16.tif" + "', numpy.array([[-32768, 0, 32767]], dtype='int16'))").status);
  EXPECT_EQ((std::vector<double>{0, 127 / 255.0, 128 / 255.0, 1}), load_pages(dir / "s8.tif")[0].values);
  EXPECT_EQ((std::vector<double>{0, 32768 / 65535.0, 1}), load_pages(dir / "s16.tif")[0].values);
}

TEST_F(TiffFiles, ResolutionKeepsItsUnit) {
  // 50 pixels a centimetre stay so; a picture without a resolution gets an aspect ratio of 1.
  ASSERT_EQ(0, run_python("import numpy, tifffile\n"
                          "tifffile.imwrite('" + dir / "cm.tif" + "', numpy.zeros((4, 6), 'uint8'), resolution=(50, 50), "
                          "resolutionunit='CENTIMETER')\n"
                          "tifffile.imwrite('" + dir / "none.tif" + "', numpy.zeros((4, 6), 'uint8'))").status);
  for (const char* name : {"cm", "none"}) {
    const std::string out = dir / (std::string(name) + "-out.tif");
    ASSERT_EQ(0, run_tool({"mean", dir / (std::string(name) + ".tif"), out, "3"}).status);
    const bool cm = name[0] == 'c';
    EXPECT_EQ(cm ? "50" : "1", exif_value(out, "XResolution")) << name;
    EXPECT_EQ(cm ? "3" : "1", exif_value(out, "ResolutionUnit")) << name;
  }
}

TEST_F(TiffFiles, CmykThroughItsProfileKeepsItsAlpha) {
  // Ghostscript's CMYK profile embedded: the colours are what lcms2 makes of them in sRGB,
  // and alpha comes through untouched.
  const std::string profile = "/usr/share/color/icc/ghostscript/ps_cmyk.icc";
  ASSERT_EQ(0, run_python("import numpy, tifffile\n"
                          "a = numpy.arange(2 * 3 * 5, dtype='uint8').reshape(2, 3, 5) * 7\n"
                          "icc = open('" + profile + "', 'rb').read()\n"
                          "tifffile.imwrite('" + dir / "cmyka.tif" + "', a, photometric='separated', planarconfig='contig', "
                          "extrasamples=['unassalpha'], extratags=[(34675, 7, len(icc), icc, True)])").status);
  const LoadedPage page = load_pages(dir / "cmyka.tif")[0];
  ASSERT_EQ(4u, page.layout.channels);
  const std::string bytes = read_file(profile);
  cmsHPROFILE cmyk = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM to_srgb = cmsCreateTransform(cmyk, TYPE_CMYK_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
  for (std::size_t i = 0; i < 6; ++i) {
    const unsigned char inks[4] = {static_cast<unsigned char>(i * 35), static_cast<unsigned char>(i * 35 + 7),
                                   static_cast<unsigned char>(i * 35 + 14), static_cast<unsigned char>(i * 35 + 21)};
    unsigned char rgb[3];
    cmsDoTransform(to_srgb, inks, rgb, 1);
    for (std::size_t c = 0; c < 3; ++c) EXPECT_EQ(rgb[c] / 255.0, page.values[c * 6 + i]) << i;
    EXPECT_EQ(static_cast<unsigned char>(i * 35 + 28) / 255.0, page.values[3 * 6 + i]) << i;
  }
  cmsDeleteTransform(to_srgb);
  cmsCloseProfile(srgb);
  cmsCloseProfile(cmyk);
}

TEST_F(TiffFiles, TheChannelsAfterAlphaKeepTheirPlace) {
  // RGB, then alpha, then a channel of unspecified meaning: values keep the colours and the
  // other channel first and alpha last, whatever the file's order.
  TiffPage page;
  page.width = 2;
  page.samples = 5;
  page.photometric = 2;
  page.extra_samples = {2, 0};
  page.data = std::string("\x01\x02\x03\xaa\x04\x05\x06\x07\xbb\x08", 10);
  write_file(dir / "five.tif", tiff_bytes({page}));
  const LoadedPage loaded = load_pages(dir / "five.tif")[0];
  ASSERT_EQ(3, loaded.layout.alpha);
  EXPECT_EQ((std::vector<double>{1, 5, 2, 6, 3, 7, 4, 8, 0xaa, 0xbb}), [&] {
    std::vector<double> codes;
    for (double v : loaded.values) codes.push_back(v * 255);
    return codes;
  }());
}

TEST_F(TiffFiles, AssociatedAlphaIsDividedOutAndPutBack) {
  // ImageMagick stores the colours multiplied by alpha and marks the alpha associated.
  std::vector<unsigned char> rgba = random_bytes(40 * 30 * 4, 3);
  for (std::size_t i = 3; i < rgba.size(); i += 4) rgba[i] = static_cast<unsigned char>(64 + rgba[i] % 192);
  TestPage page = test_page(40, 30, 4, rgba);
  page.alpha = true;
  write_picture(dir / "straight.png", {page});
  ASSERT_EQ(0, run_program("/usr/bin/convert " + quoted(dir / "straight.png") + " -define tiff:alpha=associated " +
                           quoted(dir / "associated.tif")).status);
  ASSERT_EQ(std::vector<std::uint32_t>{1}, tiff_tag(read_file(dir / "associated.tif"), 338));
  // Loaded, the colours are straight again, to within the rounding of the stored product:
  // half a code of c * a / 255, divided by a / 255.
  const LoadedPage loaded = load_pages(dir / "associated.tif")[0];
  const std::size_t plane = 40 * 30;
  for (std::size_t i = 0; i < plane; ++i)
    for (std::size_t c = 0; c < 3; ++c) {
      const double alpha = rgba[4 * i + 3];
      ASSERT_NEAR(rgba[4 * i + c] / 255.0, loaded.values[c * plane + i], 0.5 / alpha + 1e-9) << i;
    }
  // Leveled, a PNG gets straight colours like the straight original's own; a TIFF keeps the
  // alpha associated.
  ASSERT_EQ(0, run_tool({"mean", dir / "associated.tif", dir / "from-associated.png", "5"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "straight.png", dir / "from-straight.png", "5"}).status);
  const std::vector<unsigned char> a = samples_of(dir / "from-associated.png"), b = samples_of(dir / "from-straight.png");
  ASSERT_EQ(a.size(), b.size());
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  EXPECT_LE(worst, 3);
  ASSERT_EQ(0, run_tool({"mean", dir / "associated.tif", dir / "out.tif", "5"}).status);
  EXPECT_EQ(std::vector<std::uint32_t>{1}, tiff_tag(read_file(dir / "out.tif"), 338));
  // Stored truncated, the product loses up to a code, which is 255 / alpha codes of the colour.
  const LoadedPage back = load_pages(dir / "out.tif")[0];
  for (std::size_t i = 0; i < a.size(); ++i)
    ASSERT_NEAR(b[i] / 255.0, back.values[(i % 4) * plane + i / 4], (1.5 * 255 / b[i / 4 * 4 + 3] + 1) / 255) << i;
}

TEST_F(TiffFiles, CmykWithAlphaReadsAsRgbWithAlpha) {
  // C M Y K A of two pixels: RGB by (1 - ink)(1 - K), rounded; alpha as it is.
  TiffPage cmyka;
  cmyka.width = 2;
  cmyka.samples = 5;
  cmyka.photometric = 5;
  cmyka.extra_samples = {2};
  cmyka.data = std::string("\x00\x40\xff\x20\x80\xc0\x00\x10\x00\xff", 10);
  write_file(dir / "cmyka.tif", tiff_bytes({cmyka}));
  const LoadedPage page = load_pages(dir / "cmyka.tif")[0];
  ASSERT_EQ(4u, page.layout.channels);
  ASSERT_EQ(3, page.layout.alpha);
  const auto shown = [](int ink, int black) { return ((255 - ink) * (255 - black) + 127) / 255 / 255.0; };
  EXPECT_EQ((std::vector<double>{shown(0x00, 0x20), shown(0xc0, 0x00), shown(0x40, 0x20), shown(0x00, 0x00),
                                 shown(0xff, 0x20), shown(0x10, 0x00), 0x80 / 255.0, 0xff / 255.0}),
            page.values);
}

TEST_F(TiffFiles, TheCamerasExifTravelsBetweenJpegAndTiff) {
  write_file(dir / "photo.ppm", pnm_bytes(48, 32, 3, random_bytes(48 * 32 * 3, 4)));
  ASSERT_EQ(0, run_program("cjpeg -quality 95 " + quoted(dir / "photo.ppm") + " > " + quoted(dir / "camera.jpg")).status);
  ASSERT_EQ(0, run_program("exiftool -q -overwrite_original -Make=Canon '-Model=EOS 5D' -ExposureTime=1/250 -FNumber=5.6 "
                           "-ISO=400 -LensModel=EF50 -DateTimeOriginal='2026:01:02 03:04:05' -GPSLatitude=48.85 "
                           "-GPSLatitudeRef=N -Orientation#=1 " + quoted(dir / "camera.jpg")).status);
  ASSERT_EQ(0, run_program("exiftool -q -overwrite_original '-ThumbnailImage<=" + dir / "camera.jpg" + "' " +
                           quoted(dir / "camera.jpg")).status);
  ASSERT_FALSE(exif_value(dir / "camera.jpg", "ThumbnailLength").empty());
  ASSERT_EQ(0, run_tool({"mean", dir / "camera.jpg", dir / "camera.tif", "5"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "camera.tif", dir / "again.jpg", "5"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "camera.jpg", dir / "direct.jpg", "5"}).status);
  for (const char* out : {"camera.tif", "again.jpg", "direct.jpg"}) {
    const std::string path = dir / out;
    EXPECT_EQ("Canon", exif_value(path, "Make")) << out;
    EXPECT_EQ("EOS 5D", exif_value(path, "Model")) << out;
    EXPECT_EQ("0.004", exif_value(path, "ExposureTime")) << out;
    EXPECT_EQ("5.6", exif_value(path, "FNumber")) << out;
    EXPECT_EQ("400", exif_value(path, "ISO")) << out;
    EXPECT_EQ("EF50", exif_value(path, "LensModel")) << out;
    EXPECT_EQ("2026:01:02 03:04:05", exif_value(path, "DateTimeOriginal")) << out;
    EXPECT_EQ("48.85", exif_value(path, "GPSLatitude")) << out;
    // The thumbnail showed the old pixels.
    EXPECT_EQ("", exif_value(path, "ThumbnailLength")) << out;
    EXPECT_EQ(std::string::npos, run_program("exiftool -validate -warning -a " + quoted(path)).output.find("Error"))
        << out;
  }
}

TEST_F(TiffFiles, AnOrientationIsATagInTiffAndJpegAndTurnsThePixelsElsewhere) {
  // 4 x 2 stored, shown turned 90 degrees clockwise (orientation 6): 2 x 4.
  const std::vector<unsigned char> stored = {10, 20, 30, 40, 50, 60, 70, 80};
  TestPage page = test_page(4, 2, 1, stored);
  page.metadata.orientation = 6;
  // Shown: row y' holds the stored column x = y', from the bottom row up. 300 dpi across
  // and 150 down, stored, become 150 across and 300 down.
  page.metadata.x_resolution = 300;
  page.metadata.y_resolution = 150;
  page.metadata.resolution_unit = ResolutionUnit::inch;
  write_picture(dir / "turned.tif", {page});
  const std::vector<double> shown = {50, 10, 60, 20, 70, 30, 80, 40};
  for (const char* out : {"out.tif", "out.jpg", "out.png", "out.pgm", "out.webp", "out.bmp", "out.exr"}) {
    ASSERT_EQ(0, run_tool({"mean", dir / "turned.tif", dir / out, "-1"}).status) << out;
    const Facts facts = facts_of(dir / out);
    const bool tag = std::string(out) == "out.tif" || std::string(out) == "out.jpg";
    EXPECT_EQ(tag ? 4 : 2, facts.width) << out;
    EXPECT_TRUE(facts.orientation == (tag ? 6 : 1) || (!tag && facts.orientation == 0)) << out << facts.orientation;
    if (std::string(out) == "out.png" || std::string(out) == "out.pgm" || std::string(out) == "out.bmp") {
      const std::vector<double> values = load_pages(dir / out)[0].values;
      for (std::size_t i = 0; i < 8; ++i) EXPECT_NEAR(shown[i] / 255, values[i], 1.0 / 255) << out << " " << i;
    }
  }
  EXPECT_EQ("5906", exif_value(dir / "out.png", "PixelsPerUnitX"));  // 150 dpi
  EXPECT_EQ("11811", exif_value(dir / "out.png", "PixelsPerUnitY"));  // 300 dpi
}
