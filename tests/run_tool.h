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

// file_size_limit > 0 runs it as on a nearly full disk: writes past that many bytes fail
// (with SIGXFSZ ignored, they fail with EFBIG instead of killing the process).
ToolRun run_tool(const std::vector<std::string>& args, long file_size_limit = 0);
