// Damaged, truncated and hostile input files: each one ends the run with status 1 and one
// "Error: cannot read ..." line naming the file, without a signal, and leaves any existing
// output alone; sizes are checked against the memory before anything is allocated.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <random>

#include "files.h"
#include "pictures.h"
#include "run_tool.h"
#include "tiff_bytes.h"

using namespace kelvane;

namespace {

std::string be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// A PNG signature and IHDR chunk (with a correct CRC) announcing the given size, no data.
std::string png_header(std::uint32_t width, std::uint32_t height) {
  const std::string body = "IHDR" + be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + body + be32(static_cast<std::uint32_t>(crc));
}

class HostileFiles : public ::testing::Test {
 protected:
  void expect_refused(const std::string& input, const std::string& why, const std::vector<std::string>& env = {},
                      const std::string& mentions = "") {
    write_file(out(), "old output");
    const ToolRun run = run_tool({"mean", input, out(), "31"}, RunLimits{0, 0, env});
    EXPECT_EQ(0, run.signal) << why;
    EXPECT_EQ(1, run.status) << why << ": " << run.out << run.err;
    EXPECT_EQ("", run.out) << why;
    EXPECT_EQ(0u, run.err.find("Error: cannot read " + input + ": ")) << why << ": " << run.err;
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << why << ": " << run.err;
    EXPECT_NE(std::string::npos, run.err.find(mentions)) << why << ": " << run.err;
    EXPECT_EQ("old output", read_file(out())) << why;
  }
  std::string out() const { return dir / "out.tif"; }
  ScratchFolder dir;
};

}  // namespace

TEST_F(HostileFiles, TruncatedFilesOfEveryFormat) {
  std::vector<unsigned char> picture(64 * 48 * 3);
  std::mt19937 rng(1);
  for (auto& s : picture) s = static_cast<unsigned char>(rng() % 64 + (&s - picture.data()) % 192);
  std::vector<unsigned char> gray(picture.begin(), picture.begin() + 64 * 48);
  for (const char* name : {"p.png", "p.jpg", "p.tif", "p.ppm", "p.pgm", "p.bmp", "p.exr", "p.cimg", "p.asc"}) {
    const std::string whole_path = dir / (std::string("whole-") + name);
    const bool one = std::string(name) == "p.pgm";
    if (std::string(name) == "p.cimg" || std::string(name) == "p.asc")
      ASSERT_EQ(0, run_tool({"mean", dir / "whole-p.png", whole_path, "-1"}).status);
    else
      write_picture(whole_path, {test_page(64, 48, one ? 1 : 3, one ? gray : picture)});
    const std::string whole = read_file(whole_path);
    for (std::size_t cut : {std::size_t(1), std::size_t(9), whole.size() / 3, whole.size() - 7}) {
      const std::string path = dir / name;
      write_file(path, whole.substr(0, cut));
      expect_refused(path, std::string(name) + " cut at " + std::to_string(cut));
    }
    EXPECT_EQ(0, run_tool({"mean", whole_path, dir / "ok.png", "31"}).status) << name;
  }
}

TEST_F(HostileFiles, WrongOrLyingHeaders) {
  TiffPage tiny, huge;
  tiny.data = "x";
  huge.width = huge.height = 4000000;  // rows of 4 MB: more than 256 MB for a window's worth
  huge.data = "x";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"text.png", "this is a text file\n"},
      {"empty.png", ""},
      {"magic.png", "\x89PNX\r\n\x1a\n0000000000000000"},
      {"huge.png", png_header(100000, 100000)},
      {"zero.png", png_header(0, 0)},
      {"huge.ppm", "P6\n100000 100000\n255\n" + std::string(300, 'x')},
      {"maxval0.pgm", "P5\n2 2\n0\nabcd"},
      {"maxval70000.pgm", "P5\n2 2\n70000\nabcdabcd"},
      {"over-maxval.pgm", "P2\n2 1\n15\n3 16\n"},
      {"header.pgm", "P5\n2 x\n255\nabcd"},
      {"huge.pfm", "PF\n100000 100000\n-1.0\n" + std::string(64, '\0')},
      {"huge-text.pgm", "P2\n60000 60000\n255\n1 2 3\n"},
      {"tiny.bmp", "BM\x10"},
      {"fake.tif", "II*\0garbage that is not an image file directory"},
      {"fake.jpg", "\xff\xd8\xff\xe0 not really a JPEG"},
      {"huge-second-page.tif", tiff_bytes({tiny, huge})},
      {"huge.cimg", "1 double little_endian\n30000 30000 1 3\n" + std::string(16, '\0')},
      {"huge.asc", "30000 30000 1 3\n0 0 0 0\n"},
  };
  for (const auto& file : files) {
    write_file(dir / file.first, file.second);
    expect_refused(dir / file.first, file.first);
  }
  // Sizes are checked against the memory budget before the decoder allocates anything: a
  // second page of rows of a million pixels needs more than 256 MB for its stream.
  TiffPage wide = huge;
  wide.width = 1000000;
  wide.height = 30000;
  write_file(dir / "wide-second-page.tif", tiff_bytes({tiny, wide}));
  expect_refused(dir / "wide-second-page.tif", "budget", {"KELVANE_MEMORY_LIMIT_MB=256"}, "more than the 256 MiB");
  write_file(dir / "big.cimg", "1 double little_endian\n20000 20000 1 1 #64\n" + std::string(64, '\0'));
  expect_refused(dir / "big.cimg", "budget", {"KELVANE_MEMORY_LIMIT_MB=256"}, "MiB available");
}

TEST_F(HostileFiles, DataMissingFromTheVeryEndIsTruncation) {
  // The file ends exactly where a row, a strip or a chunk should begin.
  write_file(dir / "rows.pgm", "P5\n4 3\n255\n" + std::string(8, 'x'));
  TiffPage strip;
  strip.width = 4;
  strip.height = 3;
  strip.data = std::string(12, 'x');
  const std::string tiff = tiff_bytes({strip});
  write_file(dir / "strip.tif", tiff.substr(0, tiff.size() - 12));  // the pixel data follows the directory
  write_file(dir / "chunks.png", png_header(4, 3));
  for (const char* name : {"rows.pgm", "strip.tif", "chunks.png"}) expect_refused(dir / name, name);
}

TEST_F(HostileFiles, ADamagedAncillaryChunkIsAsDamagedAsAnyOther) {
  // libpng would only warn about a text chunk that fails its checksum, and drop it.
  write_picture(dir / "fine.png", {test_page(4, 4, 1, std::vector<unsigned char>(16, 9))});
  const std::string png = read_file(dir / "fine.png");
  const std::string body = "tEXtComment\0hello";
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())) ^ 1u;
  write_file(dir / "text.png", png.substr(0, 33) + be32(13) + body + be32(static_cast<std::uint32_t>(crc)) + png.substr(33));
  expect_refused(dir / "text.png", "a text chunk's checksum", {}, "fails its checksum");
}

TEST_F(HostileFiles, HeadersThatDecodersTrustAreCheckedAgainstTheBudgetFirst) {
  // An OpenEXR and a WebP header announcing pictures whose decoders would hold more than
  // the budget as they open them; and a PNM header whose size overflows 64-bit arithmetic.
  const std::string exr = read_file(std::string(KELVANE_FUZZ_REGRESSIONS) + "/exr-header-size-allocated-before-the-budget-check");
  const std::string webp = read_file(std::string(KELVANE_FUZZ_REGRESSIONS) + "/webp-header-size-allocated-before-the-budget-check");
  write_file(dir / "huge.exr", exr.substr(1));
  write_file(dir / "huge.webp", webp.substr(1));
  // A picture of 2^30 rows: OpenEXR would allocate a table of its chunks' offsets (gigabytes)
  // as it opens the file.
  write_picture(dir / "small.exr", {test_page(4, 2, 1, std::vector<unsigned char>(8, 100))});
  std::string tall = read_file(dir / "small.exr");
  const std::size_t window = tall.find(std::string("dataWindow\0box2i\0", 17));
  ASSERT_NE(std::string::npos, window);
  tall[window + 17 + 4 + 12 + 3] = 0x40;  // the last row: 2^30
  write_file(dir / "tall.exr", tall);
  for (const char* name : {"huge.exr", "huge.webp", "tall.exr"})
    expect_refused(dir / name, name, {"KELVANE_MEMORY_LIMIT_MB=256"}, "more than the 256 MiB available");
  write_file(dir / "overflow.ppm", "P6 2147483647 2147483647 65535\n" + std::string(64, 'x'));
  expect_refused(dir / "overflow.ppm", "a size beyond 64 bits", {}, "truncated");
}

TEST_F(HostileFiles, TheBudgetFollowsTheAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer maps far more than any limit";
#endif
  // Rows of 4 million pixels: the table rows of two cursors over two bands take more than
  // 1 GB, within this machine's memory, beyond ulimit -v 1 GB.
  TiffPage big;
  big.width = 4000000;
  big.height = 30000;
  write_file(dir / "big.tif", tiff_bytes({big}));
  write_file(out(), "old output");
  const ToolRun run = run_tool({"mean", dir / "big.tif", out(), "31"}, RunLimits{0, 1l << 30, {}});
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("MiB available")) << run.err;
}

TEST_F(HostileFiles, UnreadableInputs) {
  write_picture(dir / "secret.png", {test_page(4, 4, 1, std::vector<unsigned char>(16))});
  ::chmod((dir / "secret.png").c_str(), 0);
  ::chmod(dir.path().c_str(), 0777);
  // A copy of the program that nobody may run, wherever the build lies (under /root, say).
  write_file(dir / "kelvane", read_file(KELVANE_BINARY));
  ::chmod((dir / "kelvane").c_str(), 0755);
  const ToolRun run =
      run_tool({"mean", dir / "secret.png", dir / "o.png", "31"}, RunLimits{0, 0, {}, true, dir / "kelvane"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("Error: cannot read " + (dir / "secret.png") + ": Permission denied\n", run.err);
}
