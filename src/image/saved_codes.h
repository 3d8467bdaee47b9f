#pragma once
// Values into the codes of integer samples, a row at a time.
#include <cstddef>
#include <cstdint>

namespace kelvane {

// The code saved for each of `count` values in samples whose largest code is `unit` (255 or
// 65535): saved_sample, truncated toward zero. out[x] for v[x].
void saved_codes(const double* v, std::size_t count, double unit, std::uint8_t* out);
void saved_codes(const double* v, std::size_t count, double unit, std::uint16_t* out);

}  // namespace kelvane
