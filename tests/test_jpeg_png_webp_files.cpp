// JPEG, PNG and WebP files as other programs make them (libjpeg's tools, PIL, cwebp,
// exiftool): the output's encoding follows the input's, texts keep their encoding and reach
// the formats that spell them otherwise, colour-space marks stay, gray fits RGB-only formats.
#include <random>

#include "files.h"
#include "pictures.h"
#include "programs.h"
#include "run_tool.h"

using namespace kelvane;

namespace {

// A photograph-like RGB picture: smooth shading with fine coloured detail.
std::vector<unsigned char> detailed_rgb(unsigned w, unsigned h) {
  std::vector<unsigned char> rgb(std::size_t(w) * h * 3);
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      for (unsigned c = 0; c < 3; ++c)
        rgb[(std::size_t(y) * w + x) * 3 + c] = static_cast<unsigned char>((x * 3 + y * 2 + ((x + y + c) % 3) * 60) % 256);
  return rgb;
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

class JpegPngWebp : public ::testing::Test {
 protected:
  ScratchFolder dir;
};

}  // namespace

TEST_F(JpegPngWebp, AJpegKeepsItsChromaSubsamplingUnlessTold) {
  write_file(dir / "photo.ppm", pnm_bytes(64, 48, 3, detailed_rgb(64, 48)));
  ASSERT_EQ(0, run_program("cjpeg -quality 100 -sample 1x1 " + quoted(dir / "photo.ppm") + " > " + quoted(dir / "444.jpg")).status);
  ASSERT_EQ(0, run_program("cjpeg -quality 100 -sample 2x2 " + quoted(dir / "photo.ppm") + " > " + quoted(dir / "420.jpg")).status);
  const auto subsampling = [&](const std::string& path) {
    return trimmed(run_program("exiftool -s -s -s -n -YCbCrSubSampling " + quoted(path)).output);
  };
  ASSERT_EQ("1 1", subsampling(dir / "444.jpg"));
  ASSERT_EQ("2 2", subsampling(dir / "420.jpg"));
  ASSERT_EQ(0, run_tool({"mean", dir / "444.jpg", dir / "out-444.jpg", "-1"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "420.jpg", dir / "out-420.jpg", "-1"}).status);
  ASSERT_EQ(0, run_tool({"--jpeg-subsampling", "4:2:0", "mean", dir / "444.jpg", dir / "told.jpg", "-1"}).status);
  EXPECT_EQ("1 1", subsampling(dir / "out-444.jpg"));
  EXPECT_EQ("2 2", subsampling(dir / "out-420.jpg"));
  EXPECT_EQ("2 2", subsampling(dir / "told.jpg"));
  // A whole-picture mean changes no value: 4:4:4 at quality 100 moves fine colour detail by
  // no more than the quantisation's few codes.
  const std::vector<unsigned char> in = samples_of(dir / "444.jpg"), out = samples_of(dir / "out-444.jpg");
  ASSERT_EQ(in.size(), out.size());
  int worst = 0;
  for (std::size_t i = 0; i < in.size(); ++i) worst = std::max(worst, std::abs(int(in[i]) - int(out[i])));
  EXPECT_LE(worst, 4);
}

TEST_F(JpegPngWebp, TextsKeepTheirEncodingAndBecomeComments) {
  write_file(dir / "photo.ppm", pnm_bytes(16, 8, 3, random_bytes(16 * 8 * 3, 1)));
  ASSERT_EQ(0, run_program("cjpeg " + quoted(dir / "photo.ppm") + " | wrjpgcom -comment 'Grüße ✓' > " +
                           quoted(dir / "commented.jpg")).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "commented.jpg", dir / "out.jpg", "3"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "commented.jpg", dir / "out.png", "3"}).status);
  // The comment's bytes, and nothing after them.
  EXPECT_EQ("Grüße ✓\n", run_program("rdjpgcom -raw " + quoted(dir / "out.jpg")).output);
  const std::string read_texts = "from PIL import Image\nimport sys\nprint(repr(Image.open(sys.argv[1]).text))";
  EXPECT_EQ("{'Comment': 'Grüße ✓'}\n", run_program("/usr/bin/python3 -c " + quoted(read_texts) + " " + quoted(dir / "out.png")).output);
  // PIL writes Latin-1 tEXt and UTF-8 iTXt chunks; each comes back as it was, and the comment
  // becomes the JPEG's.
  ASSERT_EQ(0, run_python("from PIL import Image, PngImagePlugin\n"
                          "info = PngImagePlugin.PngInfo()\n"
                          "info.add_text('Comment', 'café')\n"
                          "info.add_itxt('Description', 'Grüße ✓ 世界', lang='de')\n"
                          "info.add_text('Title', 'plain')\n"
                          "Image.new('RGB', (8, 4), (10, 200, 30)).save('" + dir / "texts.png" + "', pnginfo=info, dpi=(300, 300))").status);
  ASSERT_EQ(0, run_tool({"mean", dir / "texts.png", dir / "texts-out.png", "3"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "texts.png", dir / "texts-out.jpg", "3"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "texts.png", dir / "texts-out.tif", "3"}).status);
  EXPECT_EQ("{'Comment': 'café', 'Description': 'Grüße ✓ 世界', 'Title': 'plain'}\n",
            run_program("/usr/bin/python3 -c " + quoted(read_texts) + " " + quoted(dir / "texts-out.png")).output);
  EXPECT_EQ("café\n", run_program("rdjpgcom -raw " + quoted(dir / "texts-out.jpg")).output);
  EXPECT_EQ("Grüße ✓ 世界", facts_of(dir / "texts-out.tif").description);
  // 300 dpi in pixels per metre (11811) is 300 dpi again, in inches, where JPEG and TIFF keep it.
  for (const char* out : {"texts-out.jpg", "texts-out.tif"}) {
    EXPECT_EQ("300", trimmed(run_program("exiftool -s -s -s -n -XResolution " + quoted(dir / out)).output)) << out;
    EXPECT_EQ("2", trimmed(run_program("exiftool -s -s -s -n -ResolutionUnit " + quoted(dir / out)).output)) << out;
  }
}

TEST_F(JpegPngWebp, ACommentEndingInANulEndsBeforeIt) {
  // Some writers end a JPEG comment as a C string; the NUL is not part of the text.
  write_file(dir / "photo.ppm", pnm_bytes(8, 8, 3, random_bytes(8 * 8 * 3, 5)));
  ASSERT_EQ(0, run_program("cjpeg " + quoted(dir / "photo.ppm") + " > " + quoted(dir / "plain.jpg")).status);
  const std::string jpeg = read_file(dir / "plain.jpg");
  write_file(dir / "nul.jpg", jpeg.substr(0, 2) + std::string("\xff\xfe\x00\x06" "abc\0", 8) + jpeg.substr(2));
  ASSERT_EQ(0, run_tool({"mean", dir / "nul.jpg", dir / "out.png", "3"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "nul.jpg", dir / "out.jpg", "3"}).status);
  EXPECT_EQ("{'Comment': 'abc'}\n", run_python("from PIL import Image\nprint(repr(Image.open('" + dir / "out.png" + "').text))").output);
  EXPECT_EQ("abc\n", run_program("rdjpgcom -raw " + quoted(dir / "out.jpg")).output);
}

TEST_F(JpegPngWebp, AJpegMissingPartOfItsScanIsRefused) {
  // libjpeg only warns about scan data that ends early, and fills the rest with gray.
  write_file(dir / "photo.ppm", pnm_bytes(64, 64, 3, detailed_rgb(64, 64)));
  ASSERT_EQ(0, run_program("cjpeg -quality 90 " + quoted(dir / "photo.ppm") + " > " + quoted(dir / "whole.jpg")).status);
  const std::string jpeg = read_file(dir / "whole.jpg");
  write_file(dir / "short.jpg", jpeg.substr(0, jpeg.size() * 2 / 3) + "\xff\xd9");
  const ToolRun run = run_tool({"mean", dir / "short.jpg", dir / "out.png", "3"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("Error: cannot read " + (dir / "short.jpg") + ": damaged or truncated JPEG file\n", run.err);
  EXPECT_FALSE(exists(dir / "out.png"));
}

TEST_F(JpegPngWebp, APngKeepsItsGammaAndColourChunks) {
  // A linear picture: gAMA of 1.0 (100000) and the chromaticities of sRGB.
  ASSERT_EQ(0, run_python("import struct, zlib\nfrom PIL import Image\n"
                          "Image.new('RGB', (8, 4), (100, 150, 200)).save('" + dir / "plain.png" + "')\n"
                          "data = open('" + dir / "plain.png" + "', 'rb').read()\n"
                          "def chunk(kind, body):\n"
                          "    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))\n"
                          "extra = chunk(b'gAMA', struct.pack('>I', 100000)) + chunk(b'cHRM', struct.pack('>8I', 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000))\n"
                          "open('" + dir / "linear.png" + "', 'wb').write(data[:33] + extra + data[33:])").status);
  ASSERT_EQ(0, run_tool({"mean", dir / "linear.png", dir / "out.png", "3"}).status);
  const std::string chunks = "import struct, sys\ndata = open(sys.argv[1], 'rb').read()\nat = 8\n"
                             "while at < len(data):\n"
                             "    n, kind = struct.unpack('>I4s', data[at:at + 8])\n"
                             "    if kind in (b'gAMA', b'cHRM'): print(kind.decode(), data[at + 8:at + 8 + n].hex())\n"
                             "    at += 12 + n\n";
  const std::string expected = run_program("/usr/bin/python3 -c " + quoted(chunks) + " " + quoted(dir / "linear.png")).output;
  EXPECT_EQ("gAMA 000186a0\ncHRM 00007a26000080840000fa00000080e8000075300000ea6000003a9800001770\n", expected);
  EXPECT_EQ(expected, run_program("/usr/bin/python3 -c " + quoted(chunks) + " " + quoted(dir / "out.png")).output);
}

TEST_F(JpegPngWebp, AWebPStaysLosslessAndItsAlphaStraight) {
  // Semi-transparent colours, lossless: the WebP route and the PNG route give the same pixels.
  std::vector<unsigned char> rgba = random_bytes(30 * 20 * 4, 2);
  for (std::size_t i = 3; i < rgba.size(); i += 8) rgba[i] = 40;
  TestPage page = test_page(30, 20, 4, rgba);
  page.alpha = true;
  write_picture(dir / "in.png", {page});
  ASSERT_EQ(0, run_program("cwebp -quiet -lossless -exact " + quoted(dir / "in.png") + " -o " + quoted(dir / "lossless.webp")).status);
  ASSERT_EQ(0, run_program("cwebp -quiet -q 80 " + quoted(dir / "in.png") + " -o " + quoted(dir / "lossy.webp")).status);
  EXPECT_EQ(rgba, samples_of(dir / "lossless.webp"));
  ASSERT_EQ(0, run_tool({"std", dir / "lossless.webp", dir / "out.webp", "7"}).status);
  ASSERT_EQ(0, run_tool({"std", dir / "lossy.webp", dir / "lossy-out.webp", "7"}).status);
  ASSERT_EQ(0, run_tool({"std", dir / "in.png", dir / "out.png", "7"}).status);
  const auto kind = [&](const std::string& path) {
    const std::string info = run_program("webpinfo " + quoted(path)).output;
    return info.find("Lossless") != std::string::npos ? "lossless" : "lossy";
  };
  EXPECT_STREQ("lossless", kind(dir / "out.webp"));
  EXPECT_STREQ("lossy", kind(dir / "lossy-out.webp"));
  // The same pixels, but for the colours under full transparency, which WebP's lossless
  // encoder drops.
  const std::vector<unsigned char> png = samples_of(dir / "out.png"), webp = samples_of(dir / "out.webp");
  ASSERT_EQ(png.size(), webp.size());
  for (std::size_t i = 0; i < png.size(); ++i)
    if (png[i / 4 * 4 + 3] != 0) ASSERT_EQ(png[i], webp[i]) << i;
  ASSERT_EQ(0, run_tool({"--webp", "lossy", "std", dir / "lossless.webp", dir / "told.webp", "7"}).status);
  EXPECT_STREQ("lossy", kind(dir / "told.webp"));
}

TEST_F(JpegPngWebp, GrayFitsRgbOnlyFormatsAndAPnmFollowsItsExtension) {
  const std::vector<unsigned char> gray = random_bytes(12 * 9, 3);
  write_file(dir / "gray.pgm", pnm_bytes(12, 9, 1, gray));
  write_file(dir / "rgb.ppm", pnm_bytes(12, 9, 3, random_bytes(12 * 9 * 3, 4)));
  for (const char* out : {"out.webp", "out.hdr", "out.ppm"}) {
    ASSERT_EQ(0, run_tool({"--webp", "lossless", "mean", dir / "gray.pgm", dir / out, "-1"}).status) << out;
    const LoadedPage page = load_pages(dir / out)[0];
    ASSERT_EQ(3u, page.layout.channels) << out;
    const std::size_t plane = 12 * 9;
    for (std::size_t i = 0; i < plane; ++i) {
      ASSERT_EQ(page.values[i], page.values[plane + i]) << out;
      ASSERT_EQ(page.values[i], page.values[2 * plane + i]) << out;
    }
  }
  EXPECT_EQ(0u, read_file(dir / "out.ppm").find("P6\n12 9\n255\n"));
  for (const char* out : {"out.pgm", "out.pbm"}) {
    const ToolRun run = run_tool({"mean", dir / "rgb.ppm", dir / out, "3"});
    EXPECT_EQ(1, run.status) << out;
    EXPECT_NE(std::string::npos, run.err.find("holds gray pictures, and this picture has 3 colour channels")) << run.err;
    EXPECT_FALSE(exists(dir / out)) << out;
  }
}
