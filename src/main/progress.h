#pragma once
// A progress line on standard error, for runs long enough to wait for: only when standard
// error is a terminal (logs and pipes stay clean), only once a run has taken a little while
// (two seconds unless KELVANE_PROGRESS_DELAY says otherwise), redrawn in place within the
// terminal's width, and erased when the run ends.
#include <chrono>
#include <string>

namespace kelvane {

class ProgressLine {
 public:
  // `delay`: seconds of work before the line first appears.
  ProgressLine(std::string what, double delay);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // How far the work is, as a fraction of it; `detail` says it in its own units.
  void show(double fraction, const std::string& detail = "");
  // Erases the line, before something else is written to the terminal; the next show()
  // draws it again.
  void clear();

 private:
  using Clock = std::chrono::steady_clock;
  std::string what_;
  double delay_;
  bool terminal_;
  bool shown_ = false;
  Clock::time_point start_, last_;
};

}  // namespace kelvane
