#include "window_stats/integral_image.h"

Plane& integral_image(const Picture& source, Plane& table, int c) {
  build_summed_area(source.channel(static_cast<std::size_t>(c)), source.width, source.height,
                   table.values.data(), [](double v) { return v; });
  return table;
}
