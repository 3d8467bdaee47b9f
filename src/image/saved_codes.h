#pragma once
// Values into the codes of integer samples, a row at a time.
#include <cstddef>
#include <cstdint>

namespace kelvane {

// The code saved for each of `count` values in samples whose largest code is `unit` (255 or
// 65535): saved_sample, truncated toward zero. out[x] for v[x].
void saved_codes(const double* v, std::size_t count, double unit, std::uint8_t* out);
void saved_codes(const double* v, std::size_t count, double unit, std::uint16_t* out);

// The codes of lo[x] into out[x], as above; returns how many x have another code for hi[x]
// than for lo[x].
std::size_t saved_codes_of_bounds(const double* lo, const double* hi, std::size_t count, double unit,
                                  std::uint8_t* out);
std::size_t saved_codes_of_bounds(const double* lo, const double* hi, std::size_t count, double unit,
                                  std::uint16_t* out);

// Three channels' 8-bit codes side by side, as the samples of pixels of three bytes: out[3x],
// out[3x + 1] and out[3x + 2] from first[x], second[x] and third[x].
void interleave_codes(const std::uint8_t* first, const std::uint8_t* second, const std::uint8_t* third,
                      std::size_t count, std::uint8_t* out);

// The codes of `width` values made a stretch at a time, in vector instructions, and handed
// to store(begin, codes, count) for values [begin, begin + count).
template <class T, class Store>
void saved_code_stretches(const double* v, std::size_t width, double unit, Store store) {
  constexpr std::size_t stretch = 512;
  T codes[stretch];
  for (std::size_t begin = 0; begin < width; begin += stretch) {
    const std::size_t count = width - begin < stretch ? width - begin : stretch;
    saved_codes(v + begin, count, unit, codes);
    store(begin, static_cast<const T*>(codes), count);
  }
}

}  // namespace kelvane
