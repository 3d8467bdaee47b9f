#include "main/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace kelvane {

namespace {

constexpr double redraw_seconds = 0.2;

std::string duration_text(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, s / 60 % 60);
  else if (s >= 60) std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
  else std::snprintf(text, sizeof text, "%ld s", s);
  return text;
}

// Columns of the terminal on standard error now (it may have been resized), 80 if it will not
// say.
std::size_t terminal_width() {
  struct winsize size = {};
  return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// The line cut to fewer characters than the terminal has columns, so that it never wraps
// (a full line would put the cursor on the next one); UTF-8 is cut between characters.
std::string fitted(const std::string& line, std::size_t columns) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if ((static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) continue;
    if (++characters == columns) return line.substr(0, i);
  }
  return line;
}

}  // namespace

ProgressLine::ProgressLine(std::string what, double delay)
    : what_(std::move(what)), delay_(delay), terminal_(::isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
  last_ = Clock::time_point();
}

void ProgressLine::show(double fraction, const std::string& detail) {
  if (!terminal_) return;
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  if (elapsed < delay_ || std::chrono::duration<double>(now - last_).count() < redraw_seconds) return;
  last_ = now;
  shown_ = true;
  std::string line = what_ + ": " + std::to_string(static_cast<int>(fraction * 100)) + "%";
  if (!detail.empty()) line += ", " + detail;
  if (fraction > 0.01) line += ", " + duration_text(elapsed * (1 - fraction) / fraction) + " left";
  std::fprintf(stderr, "\r\033[K%s", fitted(line, terminal_width()).c_str());
  std::fflush(stderr);
}

}  // namespace kelvane
