#include "gray/color.h"

#include "image/parallel.h"

Plane& to_gray(const Picture& source, Plane& gray, GrayMethod method) {
  const double* red = source.channel(0);
  const double* green = source.channel(1);
  const double* blue = source.channel(2);
  parallel_ranges(source.height, [&](std::size_t y_begin, std::size_t y_end) {
    for (std::size_t y = y_begin; y < y_end; ++y) {
      const std::size_t row = source.width * y;
      double* out = gray.row(y);
      for (std::size_t x = 0; x < source.width; ++x)
        out[x] = method(red[row + x], green[row + x], blue[row + x]);
    }
  });
  return gray;
}

Picture& reproject_color(Picture& image, const Plane& gray, const Plane& corrected) {
  parallel_ranges(image.height, [&](std::size_t y_begin, std::size_t y_end) {
    for (std::size_t c = 0; c < image.spectrum; ++c) {
      double* channel = image.channel(c);
      for (std::size_t y = y_begin; y < y_end; ++y) {
        const double* G = gray.row(y);
        const double* K = corrected.row(y);
        double* v = channel + image.width * y;
        for (std::size_t x = 0; x < image.width; ++x)
          v[x] = passes_guard(G[x]) ? (v[x] / G[x]) * K[x] : K[x];
      }
    }
  });
  return image;
}
