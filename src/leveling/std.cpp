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

// v <- ((v - m) * (T / s)) + M where the local deviation s passes the guard, else M: the
// target mean and deviation M and T are the plane's global ones, or the second window's.
// Both sides are computed and one is kept, so that the loop runs in vector instructions.
inline double rescaled(double v, double m, double s, double M, double T) {
  const double moved = ((v - m) * (T / s)) + M;
  return passes_guard(s) ? moved : M;
}

// One window: the target is the plane's global mean G and deviation S.
void level_plane_std(const PlanePass& pass, std::uint32_t window) {
  const std::uint32_t r = window >> 1;
  const MomentTables t = moment_tables(pass);
  const double n = pixel_count_divisor(pass.width, pass.height);
  const double G = t.values.last() / n;
  const double S = deviation_from(t.squares.last() / n, G);
  for_each_row(pass, 2, [&](std::size_t y, const double* in, double* out, double* scratch) {
    double* mean = scratch;
    double* std = scratch + pass.width;
    box_mean_std_row(t.values, t.squares, y, r, mean, std);
    for (std::size_t x = 0; x < pass.width; ++x) out[x] = rescaled(in[x], mean[x], std[x], G, S);
  });
}

// Two windows: the first window's mean and deviation are replaced by the second's.
void level_plane_std2(const PlanePass& pass, std::uint32_t window1, std::uint32_t window2) {
  const std::uint32_t r1 = window1 >> 1, r2 = window2 >> 1;
  const MomentTables t = moment_tables(pass);
  for_each_row(pass, 4, [&](std::size_t y, const double* in, double* out, double* scratch) {
    double* mean1 = scratch;
    double* std1 = scratch + pass.width;
    double* mean2 = scratch + 2 * pass.width;
    double* std2 = scratch + 3 * pass.width;
    box_mean_std_row(t.values, t.squares, y, r1, mean1, std1);
    box_mean_std_row(t.values, t.squares, y, r2, mean2, std2);
    for (std::size_t x = 0; x < pass.width; ++x)
      out[x] = rescaled(in[x], mean1[x], std1[x], mean2[x], std2[x]);
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
