#include "leveling/elementwise.h"

Picture& square_values(Picture& image) {
  for (std::size_t c = 0; c < image.spectrum; ++c) {
    double* v = image.channel(c);
    for (std::size_t i = 0; i < image.pixel_count(); ++i) v[i] = square_of(v[i]);
  }
  return image;
}
