#pragma once

namespace kelvane {
// The ten ways of turning a pixel's red, green and blue into one gray value.

// A gray method: (red, green, blue) -> gray.
using GrayMethod = double (*)(double, double, double);

// Guard below which a gray value, local deviation or local soft range is not divided by: the
// single-precision number nearest 1e-6, widened to double. Comparisons with it are strict, and
// a NaN never passes.
constexpr double guard_threshold = 9.999999974752427e-07;

inline bool passes_guard(double divisor) { return divisor > guard_threshold; }

struct GrayMethodEntry {
  const char* keyword;
  GrayMethod method;
  const char* description;
};

// The methods in lookup order: lightness, value, max, min, med, mid, red, green, blue, y709.
extern const GrayMethodEntry gray_method_table[10];

// The method whose keyword equals name exactly (case-sensitive, whole string), or null.
GrayMethod find_gray_method(const char* name);

}  // namespace kelvane
