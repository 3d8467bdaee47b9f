// Range stretch: every value's distance from the local mean is rescaled by
// (reference soft range / local soft range) and added to the reference mean, leveling
// brightness and contrast in one step.
#include "leveling/elementwise.h"
#include "leveling/leveling.h"
#include "leveling/plane_pass.h"
#include "leveling/soft_stats.h"
#include "window_stats/integral_image.h"

namespace {

// v <- target mean + ((v - source mean) / L) * target range where the source soft range L
// passes the guard, else the target mean.
inline double shift_and_stretch(double v, double source_mean, const SoftRange& source, double target_mean,
                                double target_range) {
  const double L = source.range();
  const double moved = target_mean + ((v - source_mean) / L) * target_range;
  return passes_guard(L) ? moved : target_mean;
}

struct RangeTables {
  PowerTables powers;
  Plane values;
};

RangeTables range_tables(const PlanePass& pass, double p) {
  RangeTables t{power_tables(pass, p), Plane(pass.width, pass.height)};
  build_summed_area(pass.in, pass.width, pass.height, t.values.values.data(), identity_of);
  return t;
}

// The soft minimum, soft maximum and mean of every window of row y, into three buffers.
void range_stats_row(const RangeTables& t, std::size_t y, std::uint32_t r, double q, double* stats) {
  const std::size_t width = t.values.width;
  soft_range_row(t.powers, y, r, q, stats, stats + width);
  box_mean_row(t.values, y, r, stats + 2 * width);
}

void level_plane_range(const PlanePass& pass, std::uint32_t window, double p) {
  const double q = 1.0 / p;
  const std::uint32_t r = window >> 1;
  const RangeTables t = range_tables(pass, p);
  const SoftRange global = global_soft_range(t.powers, q);
  const double global_mean = t.values.last() / pixel_count_divisor(pass.width, pass.height);
  const double global_range = global.range();
  const std::size_t w = pass.width;
  for_each_row(pass, 3, [&](std::size_t y, const double* in, double* out, double* s) {
    range_stats_row(t, y, r, q, s);
    for (std::size_t x = 0; x < w; ++x)
      out[x] = shift_and_stretch(in[x], s[2 * w + x], SoftRange{s[x], s[w + x]}, global_mean, global_range);
  });
}

void level_plane_range2(const PlanePass& pass, std::uint32_t window1, std::uint32_t window2,
                        double p) {
  const double q = 1.0 / p;
  const std::uint32_t r1 = window1 >> 1, r2 = window2 >> 1;
  const RangeTables t = range_tables(pass, p);
  const std::size_t w = pass.width;
  for_each_row(pass, 6, [&](std::size_t y, const double* in, double* out, double* s) {
    double* s2 = s + 3 * w;
    range_stats_row(t, y, r1, q, s);
    range_stats_row(t, y, r2, q, s2);
    for (std::size_t x = 0; x < w; ++x)
      out[x] = shift_and_stretch(in[x], s[2 * w + x], SoftRange{s[x], s[w + x]}, s2[2 * w + x],
                                 SoftRange{s2[x], s2[w + x]}.range());
  });
}

}  // namespace

Picture& level_range(Picture& image, std::uint32_t window, double p) {
  return level_each_channel(image, [&](const PlanePass& s) { level_plane_range(s, window, p); });
}

Picture& level_range2(Picture& image, std::uint32_t window1, std::uint32_t window2, double p) {
  return level_each_channel(
      image, [&](const PlanePass& s) { level_plane_range2(s, window1, window2, p); });
}

Picture& level_range_fn(Picture& image, std::uint32_t window, GrayMethod method, double p) {
  return level_gray_or_channels(image, method, false,
                                [&](const PlanePass& s) { level_plane_range(s, window, p); });
}

Picture& level_range_fn2(Picture& image, std::uint32_t window1, std::uint32_t window2,
                         GrayMethod method, double p) {
  return level_gray_or_channels(image, method, false, [&](const PlanePass& s) {
    level_plane_range2(s, window1, window2, p);
  });
}
