#pragma once
// A progress line on standard error, for runs long enough to wait for: only when standard
// error is a terminal (logs and pipes stay clean), only once a run has taken a couple of
// seconds, redrawn in place, and erased when the run ends.
#include <chrono>
#include <string>

namespace kelvane {

class ProgressLine {
 public:
  explicit ProgressLine(std::string what);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // How far the work is, as a fraction of it; `detail` says it in its own units.
  void show(double fraction, const std::string& detail = "");

 private:
  using Clock = std::chrono::steady_clock;
  std::string what_;
  bool terminal_;
  bool shown_ = false;
  Clock::time_point start_, last_;
};

}  // namespace kelvane
