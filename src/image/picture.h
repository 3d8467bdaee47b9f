#pragma once
// The containers every operation works on.
//
// A Picture is a view of planar double values: channel c of the pixel at column x, row y of
// slice z is at data[x + width * (y + height * z) + channel_stride * c], with a channel
// stride of width * height * depth. Pictures from image files have one slice; a volume (a
// multi-page TIFF) is leveled slice by slice, each slice as a picture of its own.
#include <cstddef>
#include <vector>

#include "image/big_allocator.h"

struct Picture {
  double* data = nullptr;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t spectrum = 0;
  std::size_t channel_stride = 0;
  std::size_t depth = 1;

  std::size_t pixel_count() const { return width * height; }
  // Channel c of the first slice.
  double* channel(std::size_t c) const { return data + channel_stride * c; }
  // Slice z, a picture of depth 1 that shares the values.
  Picture slice(std::size_t z) const {
    return Picture{data + width * height * z, width, height, spectrum, channel_stride, 1};
  }
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
};

// The pixel count as a divisor: 64 bits, so that no picture size wraps.
inline double pixel_count_divisor(std::size_t width, std::size_t height) {
  return static_cast<double>(static_cast<unsigned long long>(width) * height);
}
