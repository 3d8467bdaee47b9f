// Mean leveling: every value is shifted by (reference mean - local mean), which removes slow
// changes of brightness and keeps local detail.
#include "leveling/elementwise.h"
#include "leveling/leveling.h"
#include "leveling/plane_pass.h"
#include "window_stats/box_stats.h"
#include "window_stats/integral_image.h"

namespace {

Plane value_table(const PlanePass& pass) {
  Plane table(pass.width, pass.height);
  build_summed_area(pass.in, pass.width, pass.height, table.values.data(), identity_of);
  return table;
}

// v <- (v - local mean) + g, with g the plane's global mean.
void level_plane_mean(const PlanePass& pass, std::uint32_t window) {
  const std::uint32_t r = window >> 1;
  const Plane S = value_table(pass);
  const double g = S.last() / pixel_count_divisor(pass.width, pass.height);
  for_each_row(pass, 1, [&](std::size_t y, const double* in, double* out, double* mean) {
    box_mean_row(S, y, r, mean);
    for (std::size_t x = 0; x < pass.width; ++x) out[x] = (in[x] - mean[x]) + g;
  });
}

// v <- (v - mean over window 1) + mean over window 2.
void level_plane_mean2(const PlanePass& pass, std::uint32_t window1, std::uint32_t window2) {
  const std::uint32_t r1 = window1 >> 1, r2 = window2 >> 1;
  const Plane S = value_table(pass);
  for_each_row(pass, 2, [&](std::size_t y, const double* in, double* out, double* scratch) {
    double* mean1 = scratch;
    double* mean2 = scratch + pass.width;
    box_mean_row(S, y, r1, mean1);
    box_mean_row(S, y, r2, mean2);
    for (std::size_t x = 0; x < pass.width; ++x) out[x] = (in[x] - mean1[x]) + mean2[x];
  });
}

}  // namespace

Picture& level_mean(Picture& image, std::uint32_t window) {
  return level_each_channel(image, [&](const PlanePass& p) { level_plane_mean(p, window); });
}

Picture& level_mean2(Picture& image, std::uint32_t window1, std::uint32_t window2) {
  return level_each_channel(image,
                            [&](const PlanePass& p) { level_plane_mean2(p, window1, window2); });
}

Picture& level_mean_fn(Picture& image, std::uint32_t window, GrayMethod method) {
  return level_gray_or_channels(image, method, true,
                                [&](const PlanePass& p) { level_plane_mean(p, window); });
}

Picture& level_mean_fn2(Picture& image, std::uint32_t window1, std::uint32_t window2,
                        GrayMethod method) {
  return level_gray_or_channels(image, method, true,
                                [&](const PlanePass& p) { level_plane_mean2(p, window1, window2); });
}
