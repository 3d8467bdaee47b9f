#pragma once
// The containers every operation works on.
//
// A Picture is a view of planar double values: channel c of the pixel at column x, row y is at
// data[x + width * y + channel_stride * c]. For a picture of depth 1 the channel stride is
// width * height; for one slice of a volume it is width * height * depth, so that each slice
// can be leveled as a picture of its own without copying it.
#include <cstddef>
#include <vector>

#include "image/big_allocator.h"

struct Picture {
  double* data = nullptr;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t spectrum = 0;
  std::size_t channel_stride = 0;

  std::size_t pixel_count() const { return width * height; }
  double* channel(std::size_t c) const { return data + channel_stride * c; }
};

// An owned one-channel image of doubles: summed-area tables, local statistics, gray and
// corrected gray images. Its values are unset until an operation fills every one of them.
struct Plane {
  std::size_t width = 0;
  std::size_t height = 0;
  std::vector<double, BigAllocator<double>> values;

  Plane(std::size_t w, std::size_t h) : width(w), height(h), values(w * h) {}

  double* row(std::size_t y) { return values.data() + width * y; }
  const double* row(std::size_t y) const { return values.data() + width * y; }
  double last() const { return values.back(); }
  Picture picture() { return Picture{values.data(), width, height, 1, width * height}; }
};

// The pixel count as a divisor: 64 bits, so that no picture size wraps.
inline double pixel_count_divisor(std::size_t width, std::size_t height) {
  return static_cast<double>(static_cast<unsigned long long>(width) * height);
}
