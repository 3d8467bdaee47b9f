#include "leveling/window_arg.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace kelvane {

bool parse_window(const char* text, std::uint32_t& window) {
  const char* digit = text;
  const bool negative = *digit == '-';
  if (*digit == '-' || *digit == '+') ++digit;
  if (*digit == '\0') return false;
  // Saturates past 2^32 so that long numbers cannot overflow.
  unsigned long long magnitude = 0;
  for (; *digit != '\0'; ++digit) {
    if (!std::isdigit(static_cast<unsigned char>(*digit))) return false;
    if (magnitude <= 0xFFFFFFFFull) magnitude = magnitude * 10 + static_cast<unsigned>(*digit - '0');
  }
  constexpr unsigned long long two_to_31 = 0x80000000ull, largest = 0xFFFFFFFFull;
  if (negative)
    window = magnitude > two_to_31 ? static_cast<std::uint32_t>(largest)
                                   : static_cast<std::uint32_t>((largest + 1 - magnitude) & largest);
  else
    window = static_cast<std::uint32_t>(magnitude > largest ? largest : magnitude);
  return true;
}

namespace {

constexpr WindowShare per_percent = 1000000;              // millionths of a percent in one percent
constexpr WindowShare largest_share = 1000000 * per_percent;  // a million percent: past any picture

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool parse_window_share(const char* text, WindowShare& share) {
  const char* c = text;
  if (!is_digit(*c)) return false;
  WindowShare whole = 0;
  for (; is_digit(*c); ++c) whole = std::min(largest_share, whole * 10 + static_cast<WindowShare>(*c - '0'));
  WindowShare fraction = 0, scale = per_percent;
  if (*c == '.') {
    ++c;
    if (!is_digit(*c)) return false;
    for (; is_digit(*c); ++c)
      if (scale > 1) fraction += static_cast<WindowShare>(*c - '0') * (scale /= 10);
  }
  if (c[0] != '%' || c[1] != '\0') return false;
  share = std::min(largest_share, whole * per_percent + fraction);
  return true;
}

double percent_of(WindowShare share) { return static_cast<double>(share) / static_cast<double>(per_percent); }

WindowShare share_of_percent(double percent) {
  if (!(percent >= 0) || std::isinf(percent)) return no_share;
  const double largest = static_cast<double>(largest_share);
  return static_cast<WindowShare>(std::llround(std::min(percent * static_cast<double>(per_percent), largest)));
}

std::uint32_t window_of_share(WindowShare share, std::size_t width, std::size_t height) {
  // t = share * side / 10^8 pixels; the nearest odd number to t is 2 * floor(t / 2) + 1
  // (ties, at even whole t, go to t + 1). Whole numbers throughout, so no rounding.
  const unsigned __int128 side = std::min(width, height);
  const unsigned __int128 halves = static_cast<unsigned __int128>(share) * side / (2 * per_percent * 100);
  const unsigned __int128 window = 2 * halves + 1;
  return window > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(window);
}

}  // namespace kelvane
