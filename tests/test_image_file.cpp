// Loading and saving: scaling, clamping, and files replaced whole or not at all.
#include <sys/stat.h>

#include <cmath>

#include "files.h"
#include "support.h"
#include "main/image_file.h"

TEST(SaveUnitImage, ScalesClampsAndTruncatesLikeTheLibrary) {
  ScratchFolder dir;
  // 0.5 reaches the 8-bit conversion as 127.5, which truncates to 127; NaN is written as 0.
  const Image im = image_of(7, 1, 1, {1.2, -0.1, 0.5, std::nan(""), 1.0, 0.0, 100.0 / 255.0});
  save_unit_image(im, dir / "out.pgm");
  unsigned w, h, c;
  const auto samples = pnm_samples(read_file(dir / "out.pgm"), w, h, c);
  EXPECT_EQ((std::vector<unsigned char>{255, 0, 127, 0, 255, 0, 100}), samples);
}

TEST(LoadUnitImage, DividesEverySampleBy255) {
  ScratchFolder dir;
  write_file(dir / "in.ppm", pnm_bytes(2, 1, 3, {0, 255, 1, 2, 128, 51}));
  const Image im = load_unit_image(dir / "in.ppm");
  ASSERT_EQ(6u, im.size());
  const double expected[] = {0.0, 1.0, 1 / 255.0, 2 / 255.0, 128 / 255.0, 51 / 255.0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(expected[i], im.values[i]);
}

TEST(SaveUnitImage, RoundTripsEightBitSamplesInEveryIntegerFormat) {
  ScratchFolder dir;
  std::vector<double> values;
  for (int i = 0; i < 48; ++i) values.push_back(((i * 37) % 256) / 255.0);
  const Image im = image_of(4, 4, 3, values);
  for (const char* name : {"a.png", "a.ppm", "a.tif", "a.bmp", "a.cimg"}) {
    save_unit_image(im, dir / name);
    const Image back = load_unit_image(dir / name);
    ASSERT_EQ(48u, back.size()) << name;
    for (int i = 0; i < 48; ++i) ASSERT_EQ(values[i], back.values[i]) << name << " " << i;
  }
}

TEST(SaveUnitImage, FailedSaveLeavesTheOldFileAndNoTemporary) {
  ScratchFolder dir;
  const Image im = image_of(1, 1, 1, {0.5});
  write_file(dir / "old.png", "precious");
  EXPECT_THROW(save_unit_image(im, dir / "old.xyz"), FileError);  // unknown format
  EXPECT_THROW(save_unit_image(im, dir / "missing/out.png"), FileError);
  ::mkdir((dir / "folder.png").c_str(), 0755);
  EXPECT_THROW(save_unit_image(im, dir / "folder.png"), FileError);  // a directory in the way
  EXPECT_EQ("precious", read_file(dir / "old.png"));
  EXPECT_EQ(2u, dir.entries().size());  // old.png and folder.png, no temporary
}

TEST(SaveUnitImage, ReplacesAnExistingFileWhole) {
  ScratchFolder dir;
  write_file(dir / "out.pgm", "old contents");
  ::chmod((dir / "out.pgm").c_str(), 0640);
  save_unit_image(image_of(1, 1, 1, {1.0}), dir / "out.pgm");
  unsigned w, h, c;
  EXPECT_EQ((std::vector<unsigned char>{255}), pnm_samples(read_file(dir / "out.pgm"), w, h, c));
  struct stat s;
  ::stat((dir / "out.pgm").c_str(), &s);
  EXPECT_EQ(0640u, s.st_mode & 0777u);  // the replaced file keeps its permissions
  EXPECT_EQ(1u, dir.entries().size());
}

TEST(Pbm, PackedBitsReadAsBlackZeroAndWhiteOne) {
  ScratchFolder dir;
  // 10 x 2: row 0 is 1000000001 (black at both ends), row 1 is all white; rows pad to 2 bytes.
  write_file(dir / "in.pbm", std::string("P4\n10 2\n") + std::string("\x80\x40\x00\x00", 4));
  const Image im = load_unit_image(dir / "in.pbm");
  ASSERT_EQ(20u, im.size());
  for (unsigned x = 0; x < 10; ++x) {
    EXPECT_EQ(x == 0 || x == 9 ? 0.0 : 1.0, im.values[x]) << x;
    EXPECT_EQ(1.0, im.values[10 + x]);
  }
  write_file(dir / "short.pbm", std::string("P4\n10 2\n") + std::string("\x80\x40\x00", 3));
  EXPECT_THROW(load_unit_image(dir / "short.pbm"), FileError);
}

TEST(Pbm, WritesBlackBelowHalf) {
  ScratchFolder dir;
  // 127.5 / 255 is saved as sample 127, black; 128 / 255 as 128, white.
  save_unit_image(image_of(9, 1, 1, {0.0, 127.5 / 255, 128.0 / 255, 1.0, 0.2, 0.9, -1.0, 2.0, 0.49}),
                  dir / "out.pbm");
  EXPECT_EQ(std::string("P4\n9 1\n") + std::string("\xca\x80", 2), read_file(dir / "out.pbm"));
}
