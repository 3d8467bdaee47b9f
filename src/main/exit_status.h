#pragma once

namespace kelvane {
// How a run ends, as the process exit status.
enum ExitStatus : int {
  exit_ok = 0,       // output written, or usage, help or version shown
  exit_failure = 1,  // input or output trouble: missing, unreadable or unwritable file, no pixels
  exit_misuse = 2,   // command line not understood: keyword, argument count, method, window
};

}  // namespace kelvane
