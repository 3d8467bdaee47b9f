// Extremum stretch: every window's soft range [soft min, soft max] is stretched onto the
// reference soft range, which evens out local contrast.
#include "leveling/leveling.h"
#include "leveling/plane_pass.h"
#include "leveling/soft_stats.h"

namespace {

// Maps v from the source range onto the target range where the source range L passes the
// guard: target.min + ((v - source.min) / L) * target.range; else the target's midpoint.
inline double stretch(double v, const SoftRange& source, const SoftRange& target) {
  const double L = source.range();
  const double moved = target.min + ((v - source.min) / L) * target.range();
  return passes_guard(L) ? moved : target.midpoint();
}

void level_plane_minmax(const PlanePass& pass, std::uint32_t window, double p) {
  const double q = 1.0 / p;
  const std::uint32_t r = window >> 1;
  const PowerTables t = power_tables(pass, p);
  const SoftRange global = global_soft_range(t, q);
  for_each_row(pass, 2, [&](std::size_t y, const double* in, double* out, double* scratch) {
    double* min = scratch;
    double* max = scratch + pass.width;
    soft_range_row(t, y, r, q, min, max);
    for (std::size_t x = 0; x < pass.width; ++x) out[x] = stretch(in[x], SoftRange{min[x], max[x]}, global);
  });
}

void level_plane_minmax2(const PlanePass& pass, std::uint32_t window1, std::uint32_t window2,
                         double p) {
  const double q = 1.0 / p;
  const std::uint32_t r1 = window1 >> 1, r2 = window2 >> 1;
  const PowerTables t = power_tables(pass, p);
  for_each_row(pass, 4, [&](std::size_t y, const double* in, double* out, double* scratch) {
    double* min1 = scratch;
    double* max1 = scratch + pass.width;
    double* min2 = scratch + 2 * pass.width;
    double* max2 = scratch + 3 * pass.width;
    soft_range_row(t, y, r1, q, min1, max1);
    soft_range_row(t, y, r2, q, min2, max2);
    for (std::size_t x = 0; x < pass.width; ++x)
      out[x] = stretch(in[x], SoftRange{min1[x], max1[x]}, SoftRange{min2[x], max2[x]});
  });
}

}  // namespace

Picture& level_minmax(Picture& image, std::uint32_t window, double p) {
  return level_each_channel(image, [&](const PlanePass& s) { level_plane_minmax(s, window, p); });
}

Picture& level_minmax2(Picture& image, std::uint32_t window1, std::uint32_t window2, double p) {
  return level_each_channel(
      image, [&](const PlanePass& s) { level_plane_minmax2(s, window1, window2, p); });
}

Picture& level_minmax_fn(Picture& image, std::uint32_t window, GrayMethod method, double p) {
  return level_gray_or_channels(image, method, false,
                                [&](const PlanePass& s) { level_plane_minmax(s, window, p); });
}

Picture& level_minmax_fn2(Picture& image, std::uint32_t window1, std::uint32_t window2,
                          GrayMethod method, double p) {
  return level_gray_or_channels(image, method, false, [&](const PlanePass& s) {
    level_plane_minmax2(s, window1, window2, p);
  });
}
