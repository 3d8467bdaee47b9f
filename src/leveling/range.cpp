// Range stretch: every value's distance from the local mean is rescaled by
// (reference soft range / local soft range) and added to the reference mean, leveling
// brightness and contrast in one step.
#include "leveling/elementwise.h"
#include "leveling/leveling.h"
#include "leveling/plane_pass.h"
#include "leveling/soft_stats.h"
#include "window_stats/integral_image.h"

namespace {

// The soft range and mean of a window, or of the whole plane.
struct RangeStats {
  SoftRange soft;
  double mean;
};

// v <- target.mean + ((v - source.mean) / L) * target range where the source soft range L
// passes the guard, else target.mean.
double shift_and_stretch(double v, const RangeStats& source, const RangeStats& target) {
  const double L = source.soft.range();
  return passes_guard(L) ? target.mean + ((v - source.mean) / L) * target.soft.range()
                         : target.mean;
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

struct RangeRows {
  PowerRows powers;
  WindowRows values;
};

RangeRows range_rows(const RangeTables& t, std::size_t y, std::uint32_t r) {
  return RangeRows{power_rows(t.powers, y, r), window_rows(t.values, y, r)};
}

RangeStats window_range_stats(const RangeRows& rows, std::size_t x, std::uint32_t r,
                              std::size_t width, double q) {
  return RangeStats{window_soft_range(rows.powers, x, r, width, q),
                    window_mean(rows.values, x, r, width)};
}

void level_plane_range(const PlanePass& pass, std::uint32_t window, double p) {
  const double q = 1.0 / p;
  const std::uint32_t r = window >> 1;
  const RangeTables t = range_tables(pass, p);
  const RangeStats global{global_soft_range(t.powers, q),
                          t.values.last() / pixel_count_divisor(pass.width, pass.height)};
  for_each_row(pass, [&](std::size_t y, const double* in, double* out) {
    const RangeRows rows = range_rows(t, y, r);
    for (std::size_t x = 0; x < pass.width; ++x)
      out[x] = shift_and_stretch(in[x], window_range_stats(rows, x, r, pass.width, q), global);
  });
}

void level_plane_range2(const PlanePass& pass, std::uint32_t window1, std::uint32_t window2,
                        double p) {
  const double q = 1.0 / p;
  const std::uint32_t r1 = window1 >> 1, r2 = window2 >> 1;
  const RangeTables t = range_tables(pass, p);
  for_each_row(pass, [&](std::size_t y, const double* in, double* out) {
    const RangeRows rows1 = range_rows(t, y, r1), rows2 = range_rows(t, y, r2);
    for (std::size_t x = 0; x < pass.width; ++x)
      out[x] = shift_and_stretch(in[x], window_range_stats(rows1, x, r1, pass.width, q),
                                 window_range_stats(rows2, x, r2, pass.width, q));
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
