#include "image/saved_codes.h"

#include "image/vector_clones.h"

namespace kelvane {

namespace {

// saved_sample's clamp, written as selections that the compiler turns into vector compares
// and blends: (s > 0 ? s : 0) takes 0 for NaN as maxsd does, (s < unit ? s : unit) is minsd.
template <class T>
__attribute__((always_inline)) inline void codes_of(const double* __restrict v, std::size_t count, double unit,
                                                    T* __restrict out) {
  for (std::size_t x = 0; x < count; ++x) {
    double s = v[x] * unit;
    s = s > 0.0 ? s : 0.0;
    s = s < unit ? s : unit;
    out[x] = static_cast<T>(static_cast<std::int32_t>(s));
  }
}

}  // namespace

KELVANE_VECTOR_CLONES
void saved_codes(const double* v, std::size_t count, double unit, std::uint8_t* out) { codes_of(v, count, unit, out); }

KELVANE_VECTOR_CLONES
void saved_codes(const double* v, std::size_t count, double unit, std::uint16_t* out) { codes_of(v, count, unit, out); }

}  // namespace kelvane
