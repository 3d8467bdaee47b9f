#include "gray/gray_methods.h"

#include "gray/color.h"
#include "image/vector_clones.h"

#include <cmath>
#include <cstring>

namespace kelvane {

namespace {

double largest(double r, double g, double b) {
  const double gb = g > b ? g : b;
  return r > gb ? r : gb;
}

double smallest(double r, double g, double b) {
  const double gb = g < b ? g : b;
  return r < gb ? r : gb;
}

// The single-precision number nearest sqrt(3), widened: value(1, 1, 1) is 1.0000000179482318.
constexpr double value_divisor = 1.73205077648162841796875;

double lightness(double r, double g, double b) { return ((r + g) + b) / 3.0; }
double value(double r, double g, double b) { return std::sqrt((r * r + g * g) + b * b) / value_divisor; }
double max(double r, double g, double b) { return largest(r, g, b); }
double min(double r, double g, double b) { return smallest(r, g, b); }
// The middle value by subtraction, so it may differ from the middle argument in the last place.
double med(double r, double g, double b) { return (((r + g) + b) - largest(r, g, b)) - smallest(r, g, b); }
double mid(double r, double g, double b) { return (smallest(r, g, b) + largest(r, g, b)) * 0.5; }
double red(double r, double, double) { return r; }
double green(double, double g, double) { return g; }
double blue(double, double, double b) { return b; }
double y709(double r, double g, double b) { return ((g * 0.7154) + (r * 0.2125)) + (b * 0.0721); }

}  // namespace

const GrayMethodEntry gray_method_table[10] = {
    {"lightness", lightness, "(r + g + b) / 3"},
    {"value", value, "length of (r, g, b) / sqrt(3)"},
    {"max", max, "largest of r, g, b"},
    {"min", min, "smallest of r, g, b"},
    {"med", med, "middle of r, g, b"},
    {"mid", mid, "(smallest + largest) / 2"},
    {"red", red, "r"},
    {"green", green, "g"},
    {"blue", blue, "b"},
    {"y709", y709, "0.2125 r + 0.7154 g + 0.0721 b (Rec. 709 luma)"},
};

namespace {

template <GrayMethod method>
void gray_loop(const double* red, const double* green, const double* blue, std::size_t width, double* gray) {
  for (std::size_t x = 0; x < width; ++x) gray[x] = method(red[x], green[x], blue[x]);
}

}  // namespace

// The methods of the table are inlined into loops of their own, which run in vector
// instructions; any other method is called for every pixel.
KELVANE_VECTOR_CLONES
void gray_row(const double* r, const double* g, const double* b, std::size_t width, GrayMethod method, double* gray) {
  if (method == lightness) return gray_loop<lightness>(r, g, b, width, gray);
  if (method == value) return gray_loop<value>(r, g, b, width, gray);
  if (method == max) return gray_loop<max>(r, g, b, width, gray);
  if (method == min) return gray_loop<min>(r, g, b, width, gray);
  if (method == med) return gray_loop<med>(r, g, b, width, gray);
  if (method == mid) return gray_loop<mid>(r, g, b, width, gray);
  if (method == y709) return gray_loop<y709>(r, g, b, width, gray);
  for (std::size_t x = 0; x < width; ++x) gray[x] = method(r[x], g[x], b[x]);
}

GrayMethod find_gray_method(const char* name) {
  for (const auto& entry : gray_method_table)
    if (std::strcmp(name, entry.keyword) == 0) return entry.method;
  return nullptr;
}

}  // namespace kelvane
