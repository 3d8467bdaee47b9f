#pragma once
// Converting between file samples and the values the algorithms work on.
#include <cstddef>
#include <string>

// What saving stores for a value: v * unit clamped to [0, unit]; NaN becomes 0. Converted to
// an integer sample, it is truncated toward zero, as the image library converts doubles.
inline double saved_sample(double v, double unit) {
  const double scaled = v * unit;
  return scaled > unit ? unit : (scaled > 0.0 ? scaled : 0.0);
}

// Throws FileError unless a picture of this size can be held and leveled in this machine's
// memory (or in KELVANE_MEMORY_LIMIT_MB, when set): checked from the size a header
// announces, before anything is allocated.
void check_picture_fits(std::size_t width, std::size_t height, std::size_t depth,
                        std::size_t spectrum, const std::string& path);
