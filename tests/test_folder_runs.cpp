// Folder runs as a user meets them: damaged pictures named, hidden files left alone, two
// pictures for one output refused, GNU option forms, a progress line that fits its terminal,
// and Ctrl-C that says how far the run got.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "pictures.h"
#include "run_tool.h"

namespace {

class FolderRuns : public ::testing::Test {
 protected:
  void picture(const std::string& name, unsigned width = 24, unsigned height = 16, unsigned seed = 1) {
    write_picture(dir / name, {test_page(width, height, 1, random_bytes(std::size_t(width) * height, seed))});
  }
  std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  ScratchFolder dir;
};

// Output of a program run on a pseudo-terminal of that many columns, and how it ended.
struct TerminalRun {
  bool started = false;  // false where there are no pseudo-terminals (a chroot without /dev/pts)
  std::string screen;
  int status = 0;
};

TerminalRun run_on_terminal(const std::vector<std::string>& args, unsigned short columns) {
  int terminal = -1;
  struct winsize size = {};
  size.ws_row = 24;
  size.ws_col = columns;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
  if (pid == 0) {
    reset_signals();
    ::setenv("KELVANE_PROGRESS_DELAY", "0", 1);
    ::setenv("KELVANE_THREADS", "1", 1);
    std::vector<char*> argv{const_cast<char*>(KELVANE_BINARY)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(KELVANE_BINARY, argv.data());
    ::_exit(127);
  }
  TerminalRun run;
  if (pid < 0) return run;
  run.started = true;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) run.screen.append(buffer, static_cast<std::size_t>(n));
  ::waitpid(pid, &run.status, 0);
  ::close(terminal);
  return run;
}

}  // namespace

TEST_F(FolderRuns, DamagedPicturesFailByNameAndHiddenFilesAreLeftAlone) {
  ::mkdir((dir / "in").c_str(), 0755);
  ::mkdir((dir / "in/.git").c_str(), 0755);
  picture("in/good.png");
  picture("in/.hidden.png");
  picture("in/.git/inside.png");
  picture("in/._good.png");  // a macOS companion
  std::string zeroed = read_file(dir / "in/good.png");
  std::fill(zeroed.begin(), zeroed.begin() + 8, '\0');
  write_file(dir / "in/zeroed.png", zeroed);
  write_file(dir / "in/empty.jpg", "");
  ASSERT_EQ(0, ::symlink("gone.png", (dir / "in/dangling.png").c_str()));
  write_file(dir / "in/notes.txt", "not a picture");
  write_file(dir / "in/data.bin", std::string(100, '\x07'));
  const ToolRun run = run_tool({"mean", dir / "in", dir / "out", "5"});
  EXPECT_EQ(1, run.status) << run.err;
  EXPECT_EQ(0u, run.out.find("Leveled 1 picture, 3 failed, 0 skipped, in ")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find(" 2 files were not a picture.\n")) << run.out;
  EXPECT_EQ(3u, count(run.err, "Error: "));
  for (const char* name : {"zeroed.png", "empty.jpg", "dangling.png"})
    EXPECT_NE(std::string::npos, run.err.find("Error: cannot read " + (dir / "in/") + name)) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("dangling.png: No such file or directory")) << run.err;
  EXPECT_EQ(std::vector<std::string>{"good.png"}, ScratchFolder::entries_of(dir / "out"));
}

TEST_F(FolderRuns, TwoPicturesForOneOutputAreRefusedBeforeAnyWork) {
  ::mkdir((dir / "in").c_str(), 0755);
  picture("in/x.png");
  picture("in/x.jpg");
  picture("in/y.png");
  const ToolRun run = run_tool({"--format", "png", "mean", dir / "in", dir / "out", "5"});
  EXPECT_EQ(2, run.status);
  EXPECT_EQ("Error: " + (dir / "in/x.jpg") + " and " + (dir / "in/x.png") + " would both be written to " +
                (dir / "out/x.png") + " (--format png); rename one of them\n",
            run.err);
  EXPECT_FALSE(exists(dir / "out")) << "nothing is made";
  EXPECT_EQ(2, run_tool({"--format=tif", "mean", dir / "in", dir / "out", "5"}).status);
  // Without the collision every picture gets its output.
  ::unlink((dir / "in/x.jpg").c_str());
  EXPECT_EQ(0, run_tool({"--format=tif", "mean", dir / "in", dir / "out", "5"}).status);
  std::vector<std::string> outputs = ScratchFolder::entries_of(dir / "out");
  std::sort(outputs.begin(), outputs.end());
  EXPECT_EQ((std::vector<std::string>{"x.tif", "y.tif"}), outputs);
}

TEST_F(FolderRuns, OptionsTakeTheGnuFormsAndAreSoughtBeforeTheAlgorithmOnly) {
  picture("in.png", 40, 30);
  const ToolRun spaced = run_tool({"--max-gain", "4", "std", dir / "in.png", dir / "a.pgm", "5"});
  const ToolRun joined = run_tool({"--max-gain=4", "std", dir / "in.png", dir / "b.pgm", "5"});
  ASSERT_EQ(0, spaced.status) << spaced.out;
  ASSERT_EQ(0, joined.status) << joined.out;
  EXPECT_EQ(read_file(dir / "a.pgm"), read_file(dir / "b.pgm"));
  // "--" ends the options: a picture may then be named like one.
  write_file(dir / "--level-alpha", read_file(dir / "in.png"));
  RunLimits in_dir;
  in_dir.directory = dir.path();
  const ToolRun ended = run_tool({"--", "std", "--level-alpha", "c.pgm", "5"}, in_dir);
  EXPECT_EQ(0, ended.status) << ended.out;
  EXPECT_TRUE(exists(dir / "c.pgm"));
  const ToolRun late = run_tool({"std", dir / "in.png", dir / "d.pgm", "5", "--max-gain", "4"});
  EXPECT_EQ(2, late.status);
  EXPECT_EQ("Warning: Option {--max-gain} comes after the algorithm; options go before it, as in kelvane --max-gain 4 "
            "std in.png out.png 31.\n",
            late.out);
  EXPECT_EQ(2, run_tool({"std", dir / "in.png", dir / "d.pgm", "5", "--max-gain=4"}).status);
  EXPECT_EQ("Warning: Option --level-alpha takes no value.\n",
            run_tool({"--level-alpha=yes", "std", dir / "in.png", dir / "d.pgm", "5"}).out);
  // A preset is its settings; --max-gain still applies to it.
  EXPECT_EQ(0, run_tool({"--preset", "document", dir / "in.png", dir / "p.pgm"}).status);
  EXPECT_EQ(0, run_tool({"--max-gain=2", "std", dir / "in.png", dir / "q.pgm", "10%"}).status);
  EXPECT_EQ(read_file(dir / "q.pgm"), read_file(dir / "p.pgm"));
  EXPECT_EQ(0, run_tool({"--max-gain", "4", "--preset=document", dir / "in.png", dir / "p.pgm"}).status);
  EXPECT_EQ(0, run_tool({"--max-gain", "4", "std", dir / "in.png", dir / "q.pgm", "10%"}).status);
  EXPECT_EQ(read_file(dir / "q.pgm"), read_file(dir / "p.pgm"));
  picture("square.png", 100, 100);  // 20% of it is 20 pixels
  EXPECT_EQ(0, run_tool({"--preset", "frame", dir / "square.png", dir / "p.pgm"}).status);
  EXPECT_EQ(0, run_tool({"mean", dir / "square.png", dir / "q.pgm", "20%"}).status);
  EXPECT_EQ(read_file(dir / "q.pgm"), read_file(dir / "p.pgm"));
  EXPECT_EQ("Warning: Preset {document} takes {input} {output} only.\n",
            run_tool({"--preset", "document", "std", dir / "in.png", dir / "p.pgm"}).out);
  // Wrong counts keep their own warning; a negative window is no option.
  EXPECT_EQ("Warning: Function {std} does not take 5 parameters.\n",
            run_tool({"std", dir / "in.png", dir / "d.pgm", "5", "7", "9"}).out);
  EXPECT_EQ(0, run_tool({"std", dir / "in.png", dir / "d.pgm", "-1"}).status);
}

// Characters of UTF-8 text, or -1 where a character is cut or malformed.
long utf8_characters(const std::string& text) {
  long characters = 0;
  for (std::size_t i = 0; i < text.size(); ++characters) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return -1;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
    i += length;
  }
  return characters;
}

TEST_F(FolderRuns, TheProgressLineFitsItsTerminal) {
  std::string name;
  for (int i = 0; i < 30; ++i) name += "\xc3\xa9";  // é: two bytes, one column
  name += "-a-folder-with-a-name-long-enough-to-fill-a-narrow-terminal";
  ::mkdir((dir / name).c_str(), 0755);
  for (int i = 0; i < 16; ++i) picture(name + "/p" + std::to_string(i) + ".png", 600, 400, i);
  write_file(dir / (name + "/z-damaged.png"), "\x89PNG\r\n\x1a\n");  // last: the line is up when it fails
  ::symlink(name.c_str(), (dir / "short").c_str());
  for (unsigned short columns : {40, 80, 200}) {
    const std::string folder = columns == 200 ? dir / "short" : dir / name;
    const auto start_time = std::chrono::steady_clock::now();
    const TerminalRun run = run_on_terminal({"range", folder, dir / ("out" + std::to_string(columns)), "15", "31"}, columns);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_time).count();
    if (!run.started) GTEST_SKIP() << "no pseudo-terminals here";
    ASSERT_EQ(1, WEXITSTATUS(run.status)) << run.screen;
    // Every redraw starts at the line's start, erases it, and stays short of the last column,
    // cut between characters.
    std::size_t draws = 0;
    std::string last_draw;
    for (std::size_t at = run.screen.find("\r\033[K"); at != std::string::npos; at = run.screen.find("\r\033[K", at + 1)) {
      const std::size_t start = at + 4;
      const std::size_t end = std::min(run.screen.find('\r', start), run.screen.find('\n', start));
      if (run.screen.compare(start, 9, "Leveling ") != 0) continue;  // an error or the summary, after an erase
      const std::string drawn = run.screen.substr(start, end - start);
      const long characters = utf8_characters(drawn);
      EXPECT_GE(characters, 0) << drawn;
      EXPECT_LT(characters, columns) << drawn;
      last_draw = drawn;
      ++draws;
    }
    EXPECT_GE(draws, 1u) << run.screen;
    if (columns == 200) {
      // "N of 17 pictures, R pictures/s": R is N over the seconds so far, fewer than the whole run's.
      std::size_t done = 0;
      double rate = 0;
      const std::size_t of = last_draw.rfind(" of 17 pictures, ");
      ASSERT_NE(std::string::npos, of) << last_draw;
      ASSERT_EQ(2, std::sscanf(last_draw.c_str() + last_draw.rfind(' ', of - 1) + 1, "%zu of 17 pictures, %lf pictures/s",
                               &done, &rate)) << last_draw;
      EXPECT_GE(rate + 0.05, double(done) / seconds) << last_draw;
    }
    // The line is erased before the error line and before the summary, which start lines of
    // their own.
    const std::size_t error = run.screen.find("Error: cannot read ");
    ASSERT_NE(std::string::npos, error) << run.screen;
    EXPECT_EQ("\r\033[K", run.screen.substr(error - 4, 4)) << run.screen;
    const std::size_t summary = run.screen.find("Leveled 16 pictures, 1 failed");
    ASSERT_NE(std::string::npos, summary) << run.screen;
    EXPECT_EQ("\r\033[K", run.screen.substr(summary - 4, 4)) << run.screen;
  }
}

TEST_F(FolderRuns, AnOutputFolderInsideTheInputIsNotLeveledAgain) {
  ::mkdir((dir / "in").c_str(), 0755);
  picture("in/a.png");
  ::symlink("in", (dir / "alias").c_str());  // the same folder by another name
  for (int run = 0; run < 2; ++run) {
    const ToolRun again = run_tool({"mean", dir / "alias", dir / "in/out", "5"});
    EXPECT_EQ(0, again.status) << again.err;
    EXPECT_EQ(0u, again.out.find("Leveled 1 picture, 0 failed")) << again.out;
  }
  EXPECT_EQ(std::vector<std::string>{"a.png"}, ScratchFolder::entries_of(dir / "in/out"));
}

TEST_F(FolderRuns, CtrlCSaysHowFarTheRunGotAndLeavesCompleteOutputsOnly) {
  ::mkdir((dir / "in").c_str(), 0755);
  for (int i = 0; i < 6; ++i) picture("in/p" + std::to_string(i) + ".pgm", 2400, 1800, i);
  write_file(dir / "in/a-damaged.pgm", "P5\n2400 1800\n255\n");  // first: it has failed when the signal comes
  for (int signal : {SIGINT, SIGTERM}) {
    int out_pipe[2];
    ASSERT_EQ(0, ::pipe(out_pipe));
    const std::string out = dir / ("out" + std::to_string(signal));
    const pid_t pid = ::fork();
    if (pid == 0) {
      reset_signals();
      ::dup2(out_pipe[1], 1);
      ::close(out_pipe[0]);
      const int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, 2);
      ::setenv("KELVANE_THREADS", "1", 1);
      ::execl(KELVANE_BINARY, KELVANE_BINARY, "range", (dir / "in").c_str(), out.c_str(), "31", "301",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out_pipe[1]);
    // Once the first output is in place, the run is well under way.
    for (int i = 0; i < 30000 && ScratchFolder::entries_of(out).empty(); ++i) ::usleep(1000);
    ::kill(pid, signal);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = ::read(out_pipe[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
    ::close(out_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    const std::vector<std::string> written = ScratchFolder::entries_of(out);
    EXPECT_GE(written.size(), 1u);
    EXPECT_LT(written.size(), 6u) << "the run stopped";
    // An output put in place just as the signal came may not be counted yet.
    const std::string told = "Interrupted: leveled " + std::to_string(written.size()) + " of 7 pictures, 1 failed.\n";
    const std::string told_one_less =
        "Interrupted: leveled " + std::to_string(written.size() - 1) + " of 7 pictures, 1 failed.\n";
    EXPECT_TRUE(said == told || said == told_one_less) << said;
    for (const std::string& name : written) {
      EXPECT_EQ('p', name[0]) << "no temporary file: " << name;
      EXPECT_EQ(2400, facts_of(out + "/" + name).width) << name;
    }
  }
}
