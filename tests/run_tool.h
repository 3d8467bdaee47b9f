#pragma once
// Runs the built kelvane binary and collects what it printed and how it ended.
#include <string>
#include <vector>

struct ToolRun {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

struct RunLimits {
  // > 0: runs it as on a nearly full disk: writes past that many bytes fail (with SIGXFSZ
  // ignored, they fail with EFBIG instead of killing the process).
  long file_size = 0;
  long address_space = 0;         // > 0: ulimit -v, in bytes
  std::vector<std::string> env;   // NAME=value settings added to the environment
  bool as_nobody = false;         // drops root's privileges first, so that permissions bind
  std::string binary;             // the program to run, when not the one built (KELVANE_BINARY)
  std::string directory;          // the working folder to run it in, when not the test's own
};

// Signals as a program started from a plain shell finds them: the test run itself may have
// been started with some ignored (nohup) or blocked, which a child would inherit.
void reset_signals();

ToolRun run_tool(const std::vector<std::string>& args, const RunLimits& limits = RunLimits());
