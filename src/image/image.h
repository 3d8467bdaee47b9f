#pragma once
// The working image as loaded: planar doubles, channel c of voxel (x, y, z) at
// x + width * (y + height * (z + depth * c)).
#include <cstddef>
#include <memory>

#include "image/big_allocator.h"
#include "image/picture.h"

// Frees an image's values the way they were allocated: a mapped block of ours, or new[].
struct ImageValuesRelease {
  std::size_t mapped_bytes = 0;  // 0: allocated with new[]
  void operator()(double* values) const {
    if (mapped_bytes) unmap_big_block(values, mapped_bytes);
    else delete[] values;
  }
};

struct Image {
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t depth = 0;
  std::size_t spectrum = 0;
  std::unique_ptr<double[], ImageValuesRelease> values;

  std::size_t size() const { return width * height * depth * spectrum; }
  bool empty() const { return size() == 0; }
  // The whole image as a picture, every slice included.
  Picture picture() const {
    return Picture{values.get(), width, height, spectrum, width * height * depth, depth};
  }
};

// An image of this size with its values unset, on huge pages.
inline Image make_image(std::size_t width, std::size_t height, std::size_t depth,
                        std::size_t spectrum) {
  Image image;
  image.width = width;
  image.height = height;
  image.depth = depth;
  image.spectrum = spectrum;
  const std::size_t bytes = image.size() * sizeof(double);
  image.values = std::unique_ptr<double[], ImageValuesRelease>(
      static_cast<double*>(map_big_block(bytes)), ImageValuesRelease{bytes ? bytes : 1});
  return image;
}
