#include "leveling/soft_stats.h"

#include "leveling/elementwise.h"
#include "window_stats/integral_image.h"

PowerTables power_tables(const PlanePass& pass, double p) {
  PowerTables t{Plane(pass.width, pass.height), Plane(pass.width, pass.height)};
  parallel_each(2, [&](std::size_t i) {
    if (i == 0)
      fill_summed_area(pass.in, pass.width, pass.height, t.power.values.data(),
                       [p](double v) { return std::pow(v, p); });
    else
      fill_summed_area(pass.in, pass.width, pass.height, t.complement_power.values.data(),
                       [p](double v) { return std::pow(complement_of(v), p); });
  });
  return t;
}

SoftRange global_soft_range(const PowerTables& t, double q) {
  const double n = pixel_count_divisor(t.power.width, t.power.height);
  return SoftRange{1.0 - soft_root(t.complement_power.last() / n, q),
                   soft_root(t.power.last() / n, q)};
}
