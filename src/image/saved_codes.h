#pragma once
// Values into the codes of integer samples, a row at a time.
#include <cstddef>
#include <cstdint>

namespace kelvane {

// The code saved for a value in samples whose largest code is `unit` (255 or 65535):
// saved_sample, truncated toward zero. Its clamp is written as selections that compilers
// turn into vector compares and blends: (s > 0 ? s : 0) takes 0 for NaN as maxsd does, and
// (s < unit ? s : unit) is minsd.
__attribute__((always_inline)) inline std::int32_t saved_code(double v, double unit) {
  double s = v * unit;
  s = s > 0.0 ? s : 0.0;
  s = s < unit ? s : unit;
  return static_cast<std::int32_t>(s);
}

// Takes the two bounds of the value of column x: keeps the code of the lower in codes[x], and
// counts 1 where the upper has another (the sample is open).
template <class T>
struct CodesOfBounds {
  T* __restrict codes;
  double unit;
  __attribute__((always_inline)) std::uint32_t operator()(std::size_t x, double lo, double hi) const {
    const std::int32_t a = saved_code(lo, unit), b = saved_code(hi, unit);
    codes[x] = static_cast<T>(a);
    return static_cast<std::uint32_t>(a != b);
  }
};

// The codes of `count` values: out[x] for v[x].
void saved_codes(const double* v, std::size_t count, double unit, std::uint8_t* out);
void saved_codes(const double* v, std::size_t count, double unit, std::uint16_t* out);

}  // namespace kelvane
