#include "image/saved_codes.h"

#include "image/vector_clones.h"

namespace kelvane {

namespace {

template <class T>
__attribute__((always_inline)) inline void codes_of(const double* __restrict v, std::size_t count, double unit,
                                                    T* __restrict out) {
  for (std::size_t x = 0; x < count; ++x) out[x] = static_cast<T>(saved_code(v[x], unit));
}

}  // namespace

KELVANE_VECTOR_CLONES
void saved_codes(const double* v, std::size_t count, double unit, std::uint8_t* out) { codes_of(v, count, unit, out); }

KELVANE_VECTOR_CLONES
void saved_codes(const double* v, std::size_t count, double unit, std::uint16_t* out) { codes_of(v, count, unit, out); }

}  // namespace kelvane
