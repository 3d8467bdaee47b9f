// Damaged, truncated and hostile input files: each one ends the run with status 1 and one
// "Error: ..." line naming the file, without a signal, and leaves any existing output alone.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "CImg.h"
#include "files.h"
#include "run_tool.h"

using cimg_library::CImg;

namespace {

std::string be32(std::uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// A PNG signature and IHDR chunk (with a correct CRC) announcing the given size, no data.
std::string png_header(std::uint32_t width, std::uint32_t height) {
  const std::string body = "IHDR" + be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + body + be32(static_cast<std::uint32_t>(crc));
}

class HostileFiles : public ::testing::Test {
 protected:
  void expect_refused(const std::string& input, const std::string& why) {
    write_file(out(), "old output");
    const ToolRun run = run_tool({"mean", input, out(), "31"});
    EXPECT_EQ(0, run.signal) << why;
    EXPECT_EQ(1, run.status) << why << ": " << run.out << run.err;
    EXPECT_EQ("", run.out) << why;
    EXPECT_EQ(0u, run.err.find("Error: cannot read " + input + ": ")) << why << ": " << run.err;
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << why << ": " << run.err;
    EXPECT_EQ("old output", read_file(out())) << why;
  }
  std::string out() const { return dir / "out.png"; }
  ScratchFolder dir;
};

}  // namespace

TEST_F(HostileFiles, TruncatedFilesOfEveryFormat) {
  CImg<unsigned char> picture(64, 48, 1, 3);
  cimg_forXYC(picture, x, y, c) picture(x, y, c) = static_cast<unsigned char>(x * 3 + y * 5 + c * 70);
  for (const char* name : {"p.png", "p.jpg", "p.tif", "p.ppm", "p.pgm", "p.bmp"}) {
    const std::string whole_path = dir / (std::string("whole-") + name);
    (std::string(name) == "p.pgm" ? picture.get_channel(0) : picture).save(whole_path.c_str());
    const std::string whole = read_file(whole_path);
    for (std::size_t cut : {std::size_t(1), std::size_t(9), whole.size() / 3, whole.size() - 7}) {
      const std::string path = dir / name;
      write_file(path, whole.substr(0, cut));
      expect_refused(path, std::string(name) + " cut at " + std::to_string(cut));
    }
    // The whole file is fine.
    EXPECT_EQ(0, run_tool({"mean", whole_path, dir / "ok.png", "31"}).status) << name;
  }
}

TEST_F(HostileFiles, WrongOrLyingHeaders) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"text.png", "this is a text file\n"},
      {"empty.png", ""},
      {"magic.png", "\x89PNX\r\n\x1a\n0000000000000000"},
      {"huge.png", png_header(100000, 100000)},
      {"zero.png", png_header(0, 0)},
      {"huge.ppm", "P6\n100000 100000\n255\n" + std::string(300, 'x')},
      {"maxval0.pgm", "P5\n2 2\n0\nabcd"},
      {"maxval70000.pgm", "P5\n2 2\n70000\nabcdabcd"},
      {"header.pgm", "P5\n2 x\n255\nabcd"},
      {"huge.pfm", "PF\n100000 100000\n-1.0\n" + std::string(64, '\0')},
      {"short.pfm", "Pf\n10 10\n-1.0\n" + std::string(64, '\0')},
      {"huge-text.pgm", "P2\n60000 60000\n255\n1 2 3\n"},
      {"tiny.bmp", "BM\x10"},
      {"huge.bmp", "BM" + std::string(16, '\0') + "\xa0\x86\x01\x00" "\xa0\x86\x01\x00" "\x01\x00\x18\x00" + std::string(24, '\0')},
      {"fake.tif", "II*\0garbage that is not an image file directory"},
      {"fake.jpg", "\xff\xd8\xff\xe0 not really a JPEG"},
  };
  for (const auto& file : files) {
    write_file(dir / file.first, file.second);
    expect_refused(dir / file.first, file.first);
  }
}

TEST_F(HostileFiles, FoldersAndUnreadableInputs) {
  ::mkdir((dir / "folder.png").c_str(), 0755);
  expect_refused(dir / "folder.png", "a folder");
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  CImg<unsigned char>(4, 4, 1, 1, 7).save((dir / "secret.png").c_str());
  ::chmod((dir / "secret.png").c_str(), 0);
  const ToolRun run = run_tool({"mean", dir / "secret.png", out(), "31"});
  EXPECT_EQ(1, run.status);
}
