#include "image/saved_codes.h"

#include "image/vector_clones.h"

namespace kelvane {

namespace {

// saved_sample's clamp, written as selections that the compiler turns into vector compares
// and blends: (s > 0 ? s : 0) takes 0 for NaN as maxsd does, (s < unit ? s : unit) is minsd.
__attribute__((always_inline)) inline std::int32_t code_of(double v, double unit) {
  double s = v * unit;
  s = s > 0.0 ? s : 0.0;
  s = s < unit ? s : unit;
  return static_cast<std::int32_t>(s);
}

template <class T>
__attribute__((always_inline)) inline void codes_of(const double* __restrict v, std::size_t count, double unit,
                                                    T* __restrict out) {
  for (std::size_t x = 0; x < count; ++x) out[x] = static_cast<T>(code_of(v[x], unit));
}

template <class T>
__attribute__((always_inline)) inline std::size_t codes_of_bounds(const double* __restrict lo,
                                                                  const double* __restrict hi, std::size_t count,
                                                                  double unit, T* __restrict out) {
  std::uint32_t open = 0;
  for (std::size_t x = 0; x < count; ++x) {
    const std::int32_t a = code_of(lo[x], unit), b = code_of(hi[x], unit);
    out[x] = static_cast<T>(a);
    open += a != b;
  }
  return open;
}

}  // namespace

KELVANE_VECTOR_CLONES
void saved_codes(const double* v, std::size_t count, double unit, std::uint8_t* out) { codes_of(v, count, unit, out); }

KELVANE_VECTOR_CLONES
void saved_codes(const double* v, std::size_t count, double unit, std::uint16_t* out) { codes_of(v, count, unit, out); }

KELVANE_VECTOR_CLONES
std::size_t saved_codes_of_bounds(const double* lo, const double* hi, std::size_t count, double unit,
                                  std::uint8_t* out) {
  return codes_of_bounds(lo, hi, count, unit, out);
}

KELVANE_VECTOR_CLONES
std::size_t saved_codes_of_bounds(const double* lo, const double* hi, std::size_t count, double unit,
                                  std::uint16_t* out) {
  return codes_of_bounds(lo, hi, count, unit, out);
}

// In vector instructions: byte shuffles gather each pixel's three samples.
KELVANE_VECTOR_CLONES
void interleave_codes(const std::uint8_t* __restrict first, const std::uint8_t* __restrict second,
                      const std::uint8_t* __restrict third, std::size_t count, std::uint8_t* __restrict out) {
  for (std::size_t x = 0; x < count; ++x) {
    out[3 * x] = first[x];
    out[3 * x + 1] = second[x];
    out[3 * x + 2] = third[x];
  }
}

}  // namespace kelvane
