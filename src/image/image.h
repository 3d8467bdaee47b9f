#pragma once
// The working image as loaded: planar doubles, channel c of voxel (x, y, z) at
// x + width * (y + height * (z + depth * c)).
#include <cstddef>
#include <memory>

#include "image/picture.h"

struct Image {
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t depth = 0;
  std::size_t spectrum = 0;
  std::unique_ptr<double[]> values;

  std::size_t size() const { return width * height * depth * spectrum; }
  bool empty() const { return size() == 0; }
  // Slice z as a picture of its own: same channels, rows and columns.
  Picture slice(std::size_t z) const {
    return Picture{values.get() + width * height * z, width, height, spectrum,
                   width * height * depth};
  }
};
