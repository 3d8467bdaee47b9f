#include "leveling/soft_stats.h"

#include "leveling/elementwise.h"
#include "window_stats/integral_image.h"

namespace {

// True when every value is k / 255 for a whole k in 0..255, as loaded from an 8-bit file.
bool holds_8bit_codes(const PlanePass& pass) {
  const std::size_t n = pass.width * pass.height;
  bool all = true;
  parallel_ranges(n, [&](std::size_t begin, std::size_t end) {
    bool mine = true;
    for (std::size_t i = begin; i < end && mine; ++i) {
      const double v = pass.in[i];
      // -0.0 equals 0 / 255 but can raise to a different zero: it takes the general path.
      mine = v >= 0.0 && v <= 1.0 && !std::signbit(v) &&
             v == static_cast<double>(static_cast<int>(v * 255.0 + 0.5)) / 255.0;
    }
    if (!mine) all = false;  // only ever set to false, by any thread
  });
  return all;
}

}  // namespace

PowerTables power_tables(const PlanePass& pass, double p) {
  PowerTables t{Plane(pass.width, pass.height), Plane(pass.width, pass.height)};
  double* power = t.power.values.data();
  double* complement_power = t.complement_power.values.data();
  if (holds_8bit_codes(pass)) {
    // 256 distinct values: pow of each, computed exactly as below, then looked up.
    double powers[256], complement_powers[256];
    for (int k = 0; k < 256; ++k) {
      powers[k] = std::pow(k / 255.0, p);
      complement_powers[k] = std::pow(complement_of(k / 255.0), p);
    }
    const auto code = [](double v) { return static_cast<int>(v * 255.0 + 0.5); };
    build_summed_area(pass.in, pass.width, pass.height, power, [&](double v) { return powers[code(v)]; });
    build_summed_area(pass.in, pass.width, pass.height, complement_power,
                      [&](double v) { return complement_powers[code(v)]; });
  } else {
    build_summed_area(pass.in, pass.width, pass.height, power, [p](double v) { return std::pow(v, p); });
    build_summed_area(pass.in, pass.width, pass.height, complement_power,
                      [p](double v) { return std::pow(complement_of(v), p); });
  }
  return t;
}

void soft_range_row(const PowerTables& t, std::size_t y, std::uint32_t r, double q, double* min, double* max) {
  box_mean_row(t.power, y, r, max);
  box_mean_row(t.complement_power, y, r, min);
  for (std::size_t x = 0; x < t.power.width; ++x) {
    max[x] = soft_root(max[x], q);
    min[x] = 1.0 - soft_root(min[x], q);
  }
}

SoftRange global_soft_range(const PowerTables& t, double q) {
  const double n = pixel_count_divisor(t.power.width, t.power.height);
  return SoftRange{1.0 - soft_root(t.complement_power.last() / n, q),
                   soft_root(t.power.last() / n, q)};
}
