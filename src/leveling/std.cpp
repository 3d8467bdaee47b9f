// Contrast leveling: every value's distance from the local mean is rescaled by
// (reference deviation / local deviation) and added to the reference mean, so dull regions
// gain contrast and harsh ones lose it.
#include <utility>

#include "leveling/elementwise.h"
#include "leveling/leveling.h"
#include "leveling/plane_pass.h"
#include "window_stats/box_stats.h"
#include "window_stats/integral_image.h"

namespace {

// Summed-area tables of the values and of their squares.
struct MomentTables {
  Plane values;
  Plane squares;
};

MomentTables moment_tables(const PlanePass& pass) {
  MomentTables t{Plane(pass.width, pass.height), Plane(pass.width, pass.height)};
  build_summed_area(pass.in, pass.width, pass.height, t.values.values.data(), identity_of);
  build_summed_area(pass.in, pass.width, pass.height, t.squares.values.data(), square_of);
  return t;
}

// One window: with G and S the plane's global mean and deviation,
//   v <- ((v - m) * (S / s)) + G   where the local deviation s passes the guard, else G.
void level_plane_std(const PlanePass& pass, std::uint32_t window) {
  const std::uint32_t r = window >> 1;
  const MomentTables t = moment_tables(pass);
  const double n = pixel_count_divisor(pass.width, pass.height);
  const double G = t.values.last() / n;
  const double S = deviation_from(t.squares.last() / n, G);
  for_each_row(pass, [&](std::size_t y, const double* in, double* out) {
    const WindowRows v = window_rows(t.values, y, r), q = window_rows(t.squares, y, r);
    for (std::size_t x = 0; x < pass.width; ++x) {
      const MeanStd local = window_mean_std(v, q, x, r, pass.width);
      out[x] = passes_guard(local.std) ? ((in[x] - local.mean) * (S / local.std)) + G : G;
    }
  });
}

// Two windows: v <- ((v - m1) * (s2 / s1)) + m2 where s1 passes the guard, else m2.
void level_plane_std2(const PlanePass& pass, std::uint32_t window1, std::uint32_t window2) {
  const std::uint32_t r1 = window1 >> 1, r2 = window2 >> 1;
  const MomentTables t = moment_tables(pass);
  for_each_row(pass, [&](std::size_t y, const double* in, double* out) {
    const WindowRows v1 = window_rows(t.values, y, r1), q1 = window_rows(t.squares, y, r1);
    const WindowRows v2 = window_rows(t.values, y, r2), q2 = window_rows(t.squares, y, r2);
    for (std::size_t x = 0; x < pass.width; ++x) {
      const MeanStd w1 = window_mean_std(v1, q1, x, r1, pass.width);
      const MeanStd w2 = window_mean_std(v2, q2, x, r2, pass.width);
      out[x] = passes_guard(w1.std) ? ((in[x] - w1.mean) * (w2.std / w1.std)) + w2.mean : w2.mean;
    }
  });
}

}  // namespace

Picture& level_std(Picture& image, std::uint32_t window) {
  return level_each_channel(image, [&](const PlanePass& p) { level_plane_std(p, window); });
}

Picture& level_std2(Picture& image, std::uint32_t window1, std::uint32_t window2) {
  return level_each_channel(image,
                            [&](const PlanePass& p) { level_plane_std2(p, window1, window2); });
}

Picture& level_std_fn(Picture& image, std::uint32_t window, GrayMethod method) {
  return level_gray_or_channels(image, method, false,
                                [&](const PlanePass& p) { level_plane_std(p, window); });
}

Picture& level_std_fn2(Picture& image, std::uint32_t window1, std::uint32_t window2,
                       GrayMethod method) {
  return level_gray_or_channels(image, method, false,
                                [&](const PlanePass& p) { level_plane_std2(p, window1, window2); });
}
