#pragma once
// Summed-area tables: S(x, y) is the sum of the plane over columns 0..x and rows 0..y.
#include <cstddef>

#include "image/picture.h"

// Fills S (width * height, row-major) from the plane, taking value(I(x, y)) for every entry:
//   S(0, 0) = I(0, 0)
//   S(x, 0) = I(x, 0) + S(x - 1, 0)
//   S(0, y) = I(0, y) + S(0, y - 1)
//   S(x, y) = ((S(x - 1, y) + S(x, y - 1)) - S(x - 1, y - 1)) + I(x, y)
// Each entry depends only on its left, upper and upper-left neighbours, so filling row by row
// gives the same bits as any other order that respects those dependencies.
template <class Value>
void fill_summed_area(const double* plane, std::size_t width, std::size_t height, double* S,
                      Value value) {
  if (width == 0 || height == 0) return;
  S[0] = value(plane[0]);
  for (std::size_t x = 1; x < width; ++x) S[x] = value(plane[x]) + S[x - 1];
  for (std::size_t y = 1; y < height; ++y) {
    const double* in = plane + width * y;
    double* row = S + width * y;
    const double* above = row - width;
    row[0] = value(in[0]) + above[0];
    for (std::size_t x = 1; x < width; ++x)
      row[x] = ((row[x - 1] + above[x]) - above[x - 1]) + value(in[x]);
  }
}

// The summed-area table of channel c of the source.
Plane& integral_image(const Picture& source, Plane& table, int c);
