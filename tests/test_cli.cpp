// The command line through the built binary: exact lines, exit statuses, and whether an
// output file exists afterwards.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <random>

#include "files.h"
#include "kelvane/kelvane.h"
#include "pictures.h"
#include "run_tool.h"
#include "tiff_bytes.h"

using namespace kelvane;

namespace {

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<unsigned char> gray(12 * 9), rgb(12 * 9 * 3);
    for (std::size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<unsigned char>((i * 29) % 256);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>((i * 53 + 7) % 256);
    write_file(gray_in(), pnm_bytes(12, 9, 1, gray));
    write_file(rgb_in(), pnm_bytes(12, 9, 3, rgb));
  }
  std::string gray_in() const { return dir / "in.pgm"; }
  std::string rgb_in() const { return dir / "in.ppm"; }
  std::string out() const { return dir / "out.pgm"; }

  // A run that must end with a warning, status 2, and nothing written.
  void expect_misuse(const std::vector<std::string>& args, const std::string& line) {
    const ToolRun run = run_tool(args);
    EXPECT_EQ(line + "\n", run.out);
    EXPECT_EQ("", run.err);
    EXPECT_EQ(2, run.status);
    EXPECT_FALSE(exists(out()));
  }

  ScratchFolder dir;
};

}  // namespace

TEST_F(Cli, BareUsageAndHelp) {
  ToolRun run = run_tool({});
  EXPECT_EQ("Usage:\nkelvane {algorithm} {input} {output} {arg}*\n", run.out);
  EXPECT_EQ(0, run.status);
  for (const char* flag : {"--help", "-h"}) {
    run = run_tool({flag});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(0u, run.out.find("Usage:\nkelvane {algorithm} {input} {output} {arg}*\n"));
    for (const char* word : {"mean_fn", "std", "minmax", "range_fn", "y709", "lightness", "Exit status", "alpha",
                             "Hidden", "--preset NAME", "document", "frame"})
      EXPECT_NE(std::string::npos, run.out.find(word)) << word;
  }
  run = run_tool({"--version"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.out.find("kelvane "));
}

TEST_F(Cli, WarningsEndTheRunWithoutOutput) {
  expect_misuse({"mean"}, "Warning: No input file specified");
  expect_misuse({"mean", gray_in(), out()}, "Warning: Function {mean} does not take 2 parameters.");
  expect_misuse({"mean_fn", gray_in(), out(), "31"}, "Warning: Function {mean_fn} does not take 3 parameters.");
  expect_misuse({"mean", gray_in(), out(), "31", "63", "5"}, "Warning: Function {mean} does not take 5 parameters.");
  expect_misuse({"std_fn", gray_in(), out(), "3", "4", "5", "value"}, "Warning: Function {std_fn} does not take 6 parameters.");
  expect_misuse({"mean", gray_in()}, "Warning: Function {mean} does not take 1 parameters.");
  expect_misuse({"Mean", gray_in(), out(), "31"}, "Warning: Illegal function: {Mean}. Try {mean}.");
  expect_misuse({"meanx", gray_in(), out(), "31"}, "Warning: Illegal function: {meanx}. Try {mean}.");
  expect_misuse({"mean_fn", gray_in(), out(), "31", "foo"}, "Warning: Illegal method: {foo}. Try {value}.");
  // Two windows without a method: the second number is taken as the method.
  expect_misuse({"mean_fn", rgb_in(), out(), "31", "63"}, "Warning: Illegal method: {63}. Try {value}.");
  // The method is looked up before any number is read.
  expect_misuse({"range_fn", rgb_in(), out(), "abc", "Value"}, "Warning: Illegal method: {Value}. Try {value}.");
  for (const char* bad : {"abc", "31x", "", " 31", "3.5", "0x10", "+", "-"})
    expect_misuse({"mean", gray_in(), out(), bad}, std::string("Warning: Illegal window: {") + bad + "}. Try {31}.");
  expect_misuse({"minmax", gray_in(), out(), "5", "x7"}, "Warning: Illegal window: {x7}. Try {31}.");
}

TEST_F(Cli, NoPictureLibraryStartsBeforeAPictureIsOpened) {
  // The dynamic loader names every library it opens: libvips opens its modules as it starts.
  write_picture(dir / "in.png", {test_page(12, 9, 1, std::vector<unsigned char>(108, 7))});
  const auto starts_libvips = [&](const std::vector<std::string>& args) {
    const ToolRun run = run_tool(args, RunLimits{0, 0, {"LD_DEBUG=files"}});
    return run.err.find("vips-modules") != std::string::npos;
  };
  EXPECT_FALSE(starts_libvips({"--version"}));
  EXPECT_FALSE(starts_libvips({"--help"}));
  EXPECT_FALSE(starts_libvips({"meanx", dir / "in.png", out(), "31"}));
  EXPECT_FALSE(starts_libvips({"mean", dir / "in.png", out(), "31x"}));
  EXPECT_FALSE(starts_libvips({"mean", gray_in(), out(), "31"}));  // PNM is read by kelvane itself
  EXPECT_TRUE(starts_libvips({"mean", dir / "in.png", out(), "31"}));
}

TEST_F(Cli, MissingInputIsReportedBeforeAnythingElse) {
  const ToolRun run = run_tool({"meanx", dir / "in.png", out(), "31"});
  EXPECT_EQ("Warning: File {" + (dir / "in.png") + "} does not exist.\n", run.out);
  EXPECT_EQ(1, run.status);
  EXPECT_FALSE(exists(out()));
  // Below a file, as below nothing: it does not exist either.
  write_file(dir / "plain", "x");
  const ToolRun below = run_tool({"meanx", dir / "plain/in.png", out(), "31"});
  EXPECT_EQ("Warning: File {" + (dir / "plain/in.png") + "} does not exist.\n", below.out);
  EXPECT_EQ(1, below.status);
}

TEST_F(Cli, ASignalTheCallerIgnoresStaysIgnored) {
  // As under nohup: SIGINT ignored before the program starts does not end it.
  std::vector<unsigned char> noise(3000 * 2000);
  std::mt19937 rng(9);
  for (auto& sample : noise) sample = static_cast<unsigned char>(rng());
  write_file(dir / "big.pgm", pnm_bytes(3000, 2000, 1, noise));
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::freopen("/dev/null", "w", stdout);
    reset_signals();
    ::signal(SIGINT, SIG_IGN);
    ::execl(KELVANE_BINARY, KELVANE_BINARY, "range", (dir / "big.pgm").c_str(), (dir / "o.tif").c_str(), "31", "301",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::usleep(100000);
  ::kill(pid, SIGINT);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(exists(dir / "o.tif"));
}

TEST_F(Cli, EveryAlgorithmWritesItsOutput) {
  const std::vector<std::vector<std::string>> calls = {
      {"mean", "31"}, {"mean", "3", "9"}, {"std", "5"}, {"std", "5", "-1"}, {"minmax", "7"},
      {"minmax", "3", "11"}, {"range", "7"}, {"range", "3", "11"}, {"mean_fn", "7", "y709"},
      {"mean_fn", "3", "9", "med"}, {"std_fn", "7", "value"}, {"std_fn", "3", "9", "max"},
      {"minmax_fn", "7", "min"}, {"minmax_fn", "3", "9", "mid"}, {"range_fn", "7", "red"},
      {"range_fn", "3", "9", "lightness"}};
  for (const auto& call : calls) {
    std::vector<std::string> args = {call[0], rgb_in(), dir / "out.ppm"};
    args.insert(args.end(), call.begin() + 1, call.end());
    const ToolRun run = run_tool(args);
    EXPECT_EQ(0, run.status) << call[0] << run.err;
    EXPECT_EQ("", run.out + run.err) << call[0];
    unsigned w = 0, h = 0, c = 0;
    EXPECT_EQ(12u * 9 * 3, pnm_samples(read_file(dir / "out.ppm"), w, h, c).size()) << call[0];
    ::unlink((dir / "out.ppm").c_str());
  }
}

TEST_F(Cli, WindowNumbersFollowTheirHalfWindows) {
  // 30 and 31 share a half window; negative and huge numbers mean the whole picture.
  auto level = [&](const std::string& window) {
    EXPECT_EQ(0, run_tool({"std", rgb_in(), out() + ".ppm", window}).status);
    return read_file(out() + ".ppm");
  };
  EXPECT_EQ(level("30"), level("31"));
  EXPECT_EQ(level("0"), level("1"));
  EXPECT_EQ(level("-1"), level("99999999999999999999"));
  EXPECT_EQ(level("-3"), level("4294967295"));
  EXPECT_EQ(level("+7"), level("7"));
}

TEST_F(Cli, WindowsInPercentOfTheShorterSideAndNotesOnOnePixel) {
  // args: options, the keyword, then the windows.
  auto level = [&](const std::vector<std::string>& args, const std::string& err = "") {
    std::vector<std::string> all = args;
    const auto keyword = std::find_if(all.begin(), all.end(), [](const std::string& a) { return std::isalpha(a[0]); });
    all.insert(keyword + 1, {rgb_in(), out() + ".ppm"});
    const ToolRun run = run_tool(all);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_EQ(err, run.err) << args[0];
    return read_file(out() + ".ppm");
  };
  // The picture is 12 x 9: 50% is 4.5 pixels, so 5; 33.4% is 3.006, so 3.
  EXPECT_EQ(level({"std", "5"}), level({"std", "50%"}));
  EXPECT_EQ(level({"range", "3", "5"}), level({"range", "33.4%", "50%"}));
  for (const char* bad : {"%", "5%%", "-5%", "5 %"})
    expect_misuse({"std", gray_in(), out(), bad}, std::string("Warning: Illegal window: {") + bad + "}. Try {31}.");
  // A window of one pixel runs as it always has, with a note on standard error.
  const std::string alone = "Note: the window is 1 pixel, whose statistics are its own value, so every channel comes out as one value, up to rounding.\n";
  EXPECT_EQ(level({"std", "0"}, alone), level({"std", "1"}, alone));
  level({"mean", "0%"}, alone);
  level({"std", "5", "1"}, "Note: the second window is 1 pixel, whose statistics are its own value, so the reference of every pixel is the pixel itself.\n");
  level({"range", "0", "5"}, "Note: the first window is 1 pixel, whose statistics are its own value, so every pixel takes its second window's reference: the result is a blur.\n");
  // The gain cap: mean has nothing to cap; a gain below 1 is refused.
  EXPECT_EQ(level({"mean", "5"}), level({"--max-gain", "4", "mean", "5"}, "Note: mean moves values without stretching them, so --max-gain changes nothing.\n"));
  EXPECT_NE(level({"std", "5"}), level({"--max-gain", "1", "std", "5"}));
  for (const char* bad : {"0.5", "nan", "inf", "4x"})
    expect_misuse({"--max-gain", bad, "std", gray_in(), out(), "5"}, std::string("Warning: Illegal value {") + bad + "} for --max-gain. Try {4}.");
}

TEST_F(Cli, ColourFormsWarnAndLevelEachChannelOfAGrayPicture) {
  const ToolRun run = run_tool({"mean_fn", gray_in(), out(), "5", "value"});
  EXPECT_EQ("Warning: image does not have 3 channels\n", run.out);
  EXPECT_EQ(0, run.status);
  ASSERT_TRUE(exists(out()));
  const std::string colour_form = read_file(out());
  EXPECT_EQ(0, run_tool({"mean", gray_in(), out(), "5"}).status);
  EXPECT_EQ(read_file(out()), colour_form);
  for (const char* keyword : {"std_fn", "minmax_fn", "range_fn"}) {
    const ToolRun r = run_tool({keyword, gray_in(), out(), "5", "9", "value"});
    EXPECT_EQ("Warning: image does not have 3 channels\n", r.out) << keyword;
    EXPECT_EQ(0, r.status);
  }
}

TEST_F(Cli, OutputMayNameTheInput) {
  const std::string before = read_file(rgb_in());
  const ToolRun run = run_tool({"std", rgb_in(), rgb_in(), "5"});
  EXPECT_EQ(0, run.status);
  EXPECT_NE(before, read_file(rgb_in()));
  EXPECT_EQ(2u, dir.entries().size());  // in.pgm and in.ppm, nothing left behind
}

TEST_F(Cli, AReplacedOutputKeepsItsPermissions) {
  write_file(out(), "old");
  ASSERT_EQ(0, ::chmod(out().c_str(), 0640));
  ASSERT_EQ(0, run_tool({"mean", gray_in(), out(), "5"}).status);
  struct stat info;
  ASSERT_EQ(0, ::stat(out().c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 07777);
  EXPECT_EQ(0u, read_file(out()).find("P5\n"));
}

TEST_F(Cli, InputAndOutputTroubleIsAnErrorAndKeepsOldFiles) {
  write_file(dir / "text.png", "this is not a picture\n");
  write_file(out(), "old output");
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {{"mean", dir / "text.png", out(), "31"}, "text.png"},
      {{"mean", gray_in(), dir / "no/such/folder/out.png", "31"}, "out.png"},
      {{"mean", gray_in(), dir / "out.xyz", "31"}, "out.xyz"},
      {{"mean", gray_in(), dir.path(), "31"}, dir.path()},
  };
  for (const auto& c : cases) {
    const ToolRun run = run_tool(c.args);
    EXPECT_EQ(1, run.status) << c.args[1];
    EXPECT_EQ("", run.out);
    EXPECT_EQ(0u, run.err.find("Error: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.mentions)) << run.err;
    EXPECT_EQ(1u, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
  }
  EXPECT_EQ("old output", read_file(out()));
  EXPECT_EQ(4u, dir.entries().size());  // in.pgm, in.ppm, text.png, out.pgm
}

TEST_F(Cli, PictureWithoutPixelsIsRefused) {
  write_file(dir / "empty.pgm", "P5\n0 0\n255\n");
  const ToolRun run = run_tool({"mean", dir / "empty.pgm", out(), "31"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(0u, run.err.find("Error: ")) << run.err;
  EXPECT_FALSE(exists(out()));
}

TEST_F(Cli, FullDiskKeepsTheOldOutputAndLeavesNoTemporary) {
  // A picture whose encoded output exceeds the 4 KiB that may still be written.
  std::vector<unsigned char> noise(200 * 150 * 3);
  std::mt19937 rng(3);
  for (auto& sample : noise) sample = static_cast<unsigned char>(rng());
  write_file(dir / "big.ppm", pnm_bytes(200, 150, 3, noise));
  for (const char* name : {"old.png", "old.ppm", "old.tif", "old.jpg", "old.bmp"}) {
    write_file(dir / name, "old output");
    const ToolRun run = run_tool({"mean", dir / "big.ppm", dir / name, "5"}, RunLimits{4096});
    EXPECT_EQ(0, run.signal) << name;
    EXPECT_EQ(1, run.status) << name;
    EXPECT_EQ(0u, run.err.find("Error: cannot write " + (dir / name))) << run.err;
    EXPECT_EQ("old output", read_file(dir / name)) << name;
    ::unlink((dir / name).c_str());
    EXPECT_EQ(3u, dir.entries().size()) << name;  // in.pgm, in.ppm, big.ppm: no temporary
  }
}

TEST_F(Cli, OptionsComeBeforeTheKeyword) {
  expect_misuse({"--frobnicate", "mean", gray_in(), out(), "31"}, "Warning: Unknown option {--frobnicate}. Try {--help}.");
  expect_misuse({"--jpeg-quality", "0", "mean", gray_in(), out(), "31"}, "Warning: Illegal value {0} for --jpeg-quality. Try {90}.");
  expect_misuse({"--tiff-compression", "jpeg", "mean", gray_in(), out(), "31"},
                "Warning: Illegal value {jpeg} for --tiff-compression. Try {zip}.");
  expect_misuse({"--jpeg-quality"}, "Warning: Illegal value {} for --jpeg-quality. Try {90}.");
  // JPEG quality 100 by default; TIFF keeps a TIFF input's lossless compression.
  ASSERT_EQ(0, run_tool({"mean", rgb_in(), dir / "q100.jpg", "5"}).status);
  ASSERT_EQ(0, run_tool({"--jpeg-quality", "40", "mean", rgb_in(), dir / "q40.jpg", "5"}).status);
  // Options for folders change nothing for one picture, and say so.
  const ToolRun single = run_tool({"--format", "png", "mean", rgb_in(), dir / "single.jpg", "5"});
  EXPECT_EQ(0, single.status);
  EXPECT_EQ(0u, single.err.find("Note: --format and --skip-existing apply to a folder")) << single.err;
  EXPECT_TRUE(exists(dir / "single.jpg"));
  EXPECT_LT(read_file(dir / "q40.jpg").size() + 200, read_file(dir / "q100.jpg").size());
  ASSERT_EQ(0, run_tool({"--tiff-compression", "lzw", "mean", rgb_in(), dir / "lzw.tif", "5"}).status);
  ASSERT_EQ(0, run_tool({"mean", dir / "lzw.tif", dir / "kept.tif", "5"}).status);
  ASSERT_EQ(0, run_tool({"mean", rgb_in(), dir / "plain.tif", "5"}).status);
  EXPECT_EQ(std::vector<std::uint32_t>{5}, tiff_tag(read_file(dir / "kept.tif"), 259));  // LZW
  EXPECT_EQ(std::vector<std::uint32_t>{1}, tiff_tag(read_file(dir / "plain.tif"), 259));  // none
}

TEST_F(Cli, AnOutputThatIsALinkStaysALink) {
  ::mkdir((dir / "real").c_str(), 0755);
  write_file(dir / "real/target.pgm", "old");
  ASSERT_EQ(0, ::symlink("real/target.pgm", out().c_str()));
  ASSERT_EQ(0, run_tool({"mean", gray_in(), out(), "5"}).status);
  char target[256] = {};
  EXPECT_GT(::readlink(out().c_str(), target, sizeof target), 0);
  EXPECT_EQ("real/target.pgm", std::string(target));
  EXPECT_EQ(0u, read_file(dir / "real/target.pgm").find("P5\n12 9\n"));
  EXPECT_EQ(1u, std::vector<std::string>(ScratchFolder::entries_of(dir / "real")).size());
}

TEST_F(Cli, AnInterruptedRunLeavesNothingBehind) {
  std::vector<unsigned char> noise(3000 * 2000);
  std::mt19937 rng(5);
  for (auto& sample : noise) sample = static_cast<unsigned char>(rng());
  write_file(dir / "big.pgm", pnm_bytes(3000, 2000, 1, noise));
  ::mkdir((dir / "out").c_str(), 0755);
  // TIFF outputs are written unnamed until they are complete, so that even SIGKILL leaves
  // nothing; FITS ones under a hidden name (their encoder makes its file by name), which the
  // program removes on the signals it can catch.
  for (const char* output : {"out/o.tif", "out/o.fits"})
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    if (signal == SIGKILL && std::string(output) == "out/o.fits") continue;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::freopen("/dev/null", "w", stdout);
      reset_signals();
      ::execl(KELVANE_BINARY, KELVANE_BINARY, "range", (dir / "big.pgm").c_str(), (dir / output).c_str(), "31",
              "301", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Stop it once it holds a file in the output folder: its output, not yet in place.
    bool writing = false;
    for (int i = 0; i < 20000 && !writing; ++i) {
      ::usleep(1000);
      for (const std::string& fd : ScratchFolder::entries_of("/proc/" + std::to_string(pid) + "/fd")) {
        char link[512] = {};
        const std::string path = "/proc/" + std::to_string(pid) + "/fd/" + fd;
        if (::readlink(path.c_str(), link, sizeof link - 1) > 0 && std::string(link).find(dir / "out") == 0) writing = true;
      }
    }
    EXPECT_TRUE(writing) << output << " " << signal;
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << output << " " << signal;
    EXPECT_EQ(0u, ScratchFolder::entries_of(dir / "out").size()) << output << " after signal " << signal;
  }
}

TEST_F(Cli, AFolderIsLeveledPictureByPicture) {
  // 30 pictures of five formats in nested folders, two damaged ones and a text file.
  ::mkdir((dir / "in").c_str(), 0755);
  ::mkdir((dir / "in/a").c_str(), 0755);
  ::mkdir((dir / "in/a/b").c_str(), 0755);
  const char* const extensions[] = {"png", "jpg", "tif", "ppm", "bmp"};
  std::vector<std::string> names;
  std::mt19937 rng(7);
  for (int i = 0; i < 30; ++i) {
    const std::string name = std::string(i % 3 == 0 ? "" : i % 3 == 1 ? "a/" : "a/b/") + "p" + std::to_string(i) + "." + extensions[i % 5];
    std::vector<unsigned char> samples(40 * 30 * 3);
    for (auto& s : samples) s = static_cast<unsigned char>(rng());
    write_file(dir / "seed.ppm", pnm_bytes(40, 30, 3, samples));
    kelvane::level_file(dir / "seed.ppm", dir / ("in/" + name), kelvane::Operation("mean", 0xffffffffu));
    names.push_back(name);
  }
  write_file(dir / "in/a/broken.png", read_file(dir / "in/p0.png").substr(0, 100));
  write_file(dir / "in/a/b/broken.jpg", "\xff\xd8\xff garbage");
  write_file(dir / "in/notes.txt", "not a picture");
  ToolRun run = run_tool({"std", dir / "in", dir / "out", "5"});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(2, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("broken.png")) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("broken.jpg")) << run.err;
  EXPECT_EQ(0u, run.out.find("Leveled 30 pictures, 2 failed, 0 skipped, in ")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("1 file was not a picture.")) << run.out;
  // Every output is the single-file run's, byte for byte.
  for (std::size_t i = 0; i < names.size(); i += 7) {
    const std::string single = dir / ("single." + std::string(extensions[i % 5]));
    ASSERT_EQ(0, run_tool({"std", dir / ("in/" + names[i]), single, "5"}).status);
    EXPECT_EQ(read_file(single), read_file(dir / ("out/" + names[i]))) << names[i];
  }
  // Resumed: what is done stays; a picture changed since is leveled again; --format names
  // another type for all.
  run = run_tool({"--skip-existing", "std", dir / "in", dir / "out", "5"});
  EXPECT_EQ(0u, run.out.find("Leveled 0 pictures, 2 failed, 30 skipped, in ")) << run.out;
  const timespec old[2] = {{0, 0}, {0, 0}};
  ::utimensat(AT_FDCWD, (dir / "out/a/p1.jpg").c_str(), old, 0);
  run = run_tool({"--skip-existing", "std", dir / "in", dir / "out", "5"});
  EXPECT_EQ(0u, run.out.find("Leveled 1 picture, 2 failed, 29 skipped, in ")) << run.out;
  run = run_tool({"--format", "png", "mean", dir / "in/a/b", dir / "as-png", "5"});
  EXPECT_TRUE(exists(dir / "as-png/p2.png") && exists(dir / "as-png/p5.png") && exists(dir / "as-png/p29.png"));
  // Refused before any work: an extension kelvane does not write, the input folder as output.
  EXPECT_EQ(2, run_tool({"--format", "xyz", "mean", dir / "in", dir / "as-xyz", "5"}).status);
  EXPECT_FALSE(exists(dir / "as-xyz"));
  const std::string before = read_file(dir / "in/p0.png");
  run = run_tool({"mean", dir / "in", dir / "in/a/..", "5"});
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("it is the input folder")) << run.err;
  EXPECT_EQ(before, read_file(dir / "in/p0.png"));
  // A link to a picture elsewhere is leveled into its own place; its target stays as it was.
  ::mkdir((dir / "linked").c_str(), 0755);
  ASSERT_EQ(0, ::symlink("../in/p0.png", (dir / "linked/l.png").c_str()));
  EXPECT_EQ(0, run_tool({"mean", dir / "linked", dir / "from-link", "5"}).status);
  EXPECT_TRUE(exists(dir / "from-link/l.png"));
  EXPECT_EQ(before, read_file(dir / "in/p0.png"));
}

TEST_F(Cli, TheProgressLineIsForTerminalsOnly) {
  // Under a pseudo-terminal the line is drawn (and erased); in a pipe, nothing.
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid < 0) GTEST_SKIP() << "no pseudo-terminals here (a chroot without /dev/pts)";
  if (pid == 0) {
    ::setenv("KELVANE_PROGRESS_DELAY", "0", 1);
    ::execl(KELVANE_BINARY, KELVANE_BINARY, "range", rgb_in().c_str(), (dir / "o.ppm").c_str(), "3", "5",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string screen;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) screen.append(buffer, static_cast<std::size_t>(n));
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_NE(std::string::npos, screen.find("Leveling " + rgb_in() + ": ")) << screen;
  EXPECT_NE(std::string::npos, screen.find("\r\033[K")) << "the line is erased at the end";
  const ToolRun piped = run_tool({"range", rgb_in(), dir / "o.ppm", "3", "5"}, RunLimits{0, 0, {"KELVANE_PROGRESS_DELAY=0"}});
  EXPECT_EQ("", piped.err);
}
