#pragma once
#include <cstddef>
#include <cstdint>

namespace kelvane {

// Reads a window argument of pixels: a whole decimal number with an optional sign, nothing
// else. A negative number wraps to 2^32 + n, a half window that covers any picture; a number
// outside the 32-bit range becomes the largest window, 2^32 - 1. Returns false for text that
// is not such a number.
bool parse_window(const char* text, std::uint32_t& window);

// A window as a share of the picture's shorter side, in millionths of a percent, so that
// the decimal the user wrote is held exactly: "12.5%" is 12,500,000.
using WindowShare = std::uint64_t;
constexpr WindowShare no_share = ~WindowShare(0);  // the window is in pixels

// Reads "D%" or "D.D%": digits, an optional decimal point with digits after it, one percent
// sign. Digits past the sixth decimal are dropped; shares of a million percent and more all
// give the largest window. Returns false for any other text.
bool parse_window_share(const char* text, WindowShare& share);

// A share as percent, and back (to the nearest millionth; shares past a million percent
// are a million percent; NaN and infinity are not shares, and negative percent is none).
double percent_of(WindowShare share);
WindowShare share_of_percent(double percent);

// The window of that share of the shorter side: the odd number of pixels nearest to it, the
// larger one where two are as near, at least 1 and at most 2^32 - 1.
std::uint32_t window_of_share(WindowShare share, std::size_t width, std::size_t height);

}  // namespace kelvane
