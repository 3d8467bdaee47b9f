#include "image/samples.h"

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "image/saved_codes.h"

namespace kelvane {

namespace {

// A half float's 16 bits, told apart from a 16-bit integer sample.
struct Half {
  std::uint16_t bits;
};

inline double number(std::uint8_t s) { return s; }
inline double number(std::uint16_t s) { return s; }
inline double number(std::uint32_t s) { return s; }
inline double number(std::int8_t s) { return s; }
inline double number(std::int16_t s) { return s; }
inline double number(std::int32_t s) { return s; }
inline double number(Half s) { return from_half(s.bits); }
inline double number(float s) { return s; }
inline double number(double s) { return s; }

// The value of one stored sample.
template <class T>
inline double value_of(T s, const SampleCoding& k) {
  if (k.stretch != 0.0) return std::nearbyint(number(s) * k.stretch) / k.unit;
  if (k.offset != 0.0) return (number(s) + k.offset) / k.unit;
  if (k.unit != 1.0) return number(s) / k.unit;
  return number(s);
}

// Stored channel c of every pixel of a row: value_of, with its choice made once a row.
template <class T>
void channel_to_values(const T* in, const PageLayout& layout, std::size_t c, double* out) {
  const SampleCoding& k = layout.coding[c];
  const std::size_t n = layout.channels, w = layout.width;
  const T* s = in + c;
  if (k.stretch != 0.0)
    for (std::size_t x = 0; x < w; ++x) out[x] = std::nearbyint(number(s[x * n]) * k.stretch) / k.unit;
  else if (k.offset != 0.0)
    for (std::size_t x = 0; x < w; ++x) out[x] = (number(s[x * n]) + k.offset) / k.unit;
  else if (k.unit != 1.0)
    for (std::size_t x = 0; x < w; ++x) out[x] = number(s[x * n]) / k.unit;
  else
    for (std::size_t x = 0; x < w; ++x) out[x] = number(s[x * n]);
  // Colours multiplied by alpha: divided by it again.
  if (!layout.premultiplied || layout.alpha < 0 || static_cast<int>(c) == layout.alpha) return;
  const std::size_t a = static_cast<std::size_t>(layout.alpha);
  const SampleCoding& ka = layout.coding[a];
  for (std::size_t x = 0; x < w; ++x) {
    const double alpha = value_of(in[x * n + a], ka);
    out[x] = alpha > 0.0 ? out[x] / alpha : 0.0;
  }
}

template <class T>
void to_values(const T* in, const PageLayout& layout, double* out, std::size_t stride) {
  for (std::size_t c = 0; c < layout.channels; ++c) channel_to_values(in, layout, c, out + value_channel(layout, c) * stride);
}

template <class T>
std::vector<double> code_table(const PageLayout& layout, std::size_t c) {
  std::vector<double> table(std::size_t(1) << (8 * sizeof(T)));
  for (std::size_t s = 0; s < table.size(); ++s) table[s] = value_of(static_cast<T>(s), layout.coding[c]);
  return table;
}

// The value written for colour k of pixel x: multiplied by alpha where the store says so.
inline double written(const double* v, const double* alpha, std::size_t x) { return alpha ? v[x] * alpha[x] : v[x]; }

// The same for integer codes, which hold no value beyond 1: multiplied, a colour stays
// within its alpha.
inline double written_code(const double* v, const double* alpha, std::size_t x) {
  if (!alpha) return v[x];
  const double straight = v[x] > 1.0 ? 1.0 : (v[x] > 0.0 ? v[x] : 0.0);
  return straight * alpha[x];
}

template <class T>
void to_integers(const double* in, std::size_t stride, std::size_t width, const SampleStore& store, T* row) {
  const std::size_t n = store.channels.size();
  const long long offset = static_cast<long long>(store.offset);
  for (std::size_t k = 0; k < n; ++k) {
    const double* v = in + store.channels[k] * stride;
    const double* alpha = store.premultiplied_by >= 0 && static_cast<int>(k) != store.premultiplied_by
                              ? in + store.channels[static_cast<std::size_t>(store.premultiplied_by)] * stride
                              : nullptr;
    T* s = row + k;
    if constexpr (std::is_same<T, std::uint8_t>::value || std::is_same<T, std::uint16_t>::value)
      if (offset == 0 && !alpha) {
        saved_code_stretches<T>(v, width, store.unit, [s, n](std::size_t begin, const T* codes, std::size_t count) {
          for (std::size_t x = 0; x < count; ++x) s[(begin + x) * n] = codes[x];
        });
        continue;
      }
    if (offset == 0)
      for (std::size_t x = 0; x < width; ++x, s += n) *s = static_cast<T>(saved_sample(written_code(v, alpha, x), store.unit));
    else
      for (std::size_t x = 0; x < width; ++x, s += n)
        *s = static_cast<T>(static_cast<long long>(saved_sample(written_code(v, alpha, x), store.unit)) - offset);
  }
}

// Floating-point samples as they are, except beyond the range of floats: the largest float
// of that sign, not an undefined conversion.
inline float as_float(double v) {
  constexpr double largest = 3.4028234663852886e38;
  return v > largest ? static_cast<float>(largest) : v < -largest ? static_cast<float>(-largest) : static_cast<float>(v);
}
inline void store_float(double v, float* s) { *s = as_float(v); }
inline void store_float(double v, double* s) { *s = v; }
inline void store_float(double v, std::uint16_t* s) { *s = to_half(v); }

template <class T>
void to_floats(const double* in, std::size_t stride, std::size_t width, const SampleStore& store, T* row) {
  const std::size_t n = store.channels.size();
  for (std::size_t k = 0; k < n; ++k) {
    const double* v = in + store.channels[k] * stride;
    const double* alpha = store.premultiplied_by >= 0 && static_cast<int>(k) != store.premultiplied_by
                              ? in + store.channels[static_cast<std::size_t>(store.premultiplied_by)] * stride
                              : nullptr;
    T* s = row + k;
    for (std::size_t x = 0; x < width; ++x, s += n) store_float(written(v, alpha, x), s);
  }
}

}  // namespace

double from_half(std::uint16_t h) {
  const int exponent = (h >> 10) & 0x1f, mantissa = h & 0x3ff;
  double v;
  if (exponent == 0) v = std::ldexp(static_cast<double>(mantissa), -24);
  else if (exponent == 31) v = mantissa ? NAN : INFINITY;
  else v = std::ldexp(static_cast<double>(mantissa | 0x400), exponent - 25);
  return (h & 0x8000) ? -v : v;
}

std::uint16_t to_half(double v) {
  const std::uint16_t sign = std::signbit(v) ? 0x8000 : 0;
  if (std::isnan(v)) return sign | 0x7e00;
  const double a = std::fabs(v);
  // Halfway between the largest half (65504) and the next power of two rounds to the even
  // one, which is infinity.
  if (a >= 65520.0) return sign | 0x7c00;
  if (a < std::ldexp(1.0, -14)) {
    // Subnormal: a multiple of 2^-24; 1024 of them is the smallest normal half.
    return static_cast<std::uint16_t>(sign | static_cast<unsigned>(std::nearbyint(std::ldexp(a, 24))));
  }
  int e = 0;
  const double fraction = std::frexp(a, &e);  // a = fraction * 2^e, fraction in [0.5, 1)
  unsigned mantissa = static_cast<unsigned>(std::nearbyint(std::ldexp(fraction, 11)));  // 1024 .. 2048
  int exponent = e - 1 + 15;
  if (mantissa == 2048) {
    mantissa = 1024;
    ++exponent;
  }
  return static_cast<std::uint16_t>(sign | exponent << 10 | (mantissa - 1024));
}

std::size_t value_channel(const PageLayout& layout, std::size_t c) {
  const std::size_t alpha = static_cast<std::size_t>(layout.alpha);
  if (layout.alpha < 0 || c < alpha) return c;
  return c == alpha ? layout.channels - 1 : c - 1;
}

std::size_t stored_channel(const PageLayout& layout, std::size_t v) {
  const std::size_t alpha = static_cast<std::size_t>(layout.alpha);
  if (layout.alpha < 0 || v < alpha) return v;
  return v == layout.channels - 1 ? alpha : v + 1;
}

void channel_values(const void* row, const PageLayout& layout, std::size_t value, double* out) {
  const std::size_t c = stored_channel(layout, value);
  switch (layout.sample) {
    case SampleType::u8: return channel_to_values(static_cast<const std::uint8_t*>(row), layout, c, out);
    case SampleType::u16: return channel_to_values(static_cast<const std::uint16_t*>(row), layout, c, out);
    case SampleType::u32: return channel_to_values(static_cast<const std::uint32_t*>(row), layout, c, out);
    case SampleType::i8: return channel_to_values(static_cast<const std::int8_t*>(row), layout, c, out);
    case SampleType::i16: return channel_to_values(static_cast<const std::int16_t*>(row), layout, c, out);
    case SampleType::i32: return channel_to_values(static_cast<const std::int32_t*>(row), layout, c, out);
    case SampleType::f16: return channel_to_values(static_cast<const Half*>(row), layout, c, out);
    case SampleType::f32: return channel_to_values(static_cast<const float*>(row), layout, c, out);
    case SampleType::f64: return channel_to_values(static_cast<const double*>(row), layout, c, out);
  }
}

std::vector<double> code_values(const PageLayout& layout, std::size_t value) {
  const std::size_t c = stored_channel(layout, value);
  if (layout.premultiplied && layout.alpha >= 0 && static_cast<int>(c) != layout.alpha) return {};
  if (layout.sample == SampleType::u8) return code_table<std::uint8_t>(layout, c);
  if (layout.sample == SampleType::u16) return code_table<std::uint16_t>(layout, c);
  return {};
}

void values_from_samples(const void* row, const PageLayout& layout, double* out, std::size_t stride) {
  switch (layout.sample) {
    case SampleType::u8: return to_values(static_cast<const std::uint8_t*>(row), layout, out, stride);
    case SampleType::u16: return to_values(static_cast<const std::uint16_t*>(row), layout, out, stride);
    case SampleType::u32: return to_values(static_cast<const std::uint32_t*>(row), layout, out, stride);
    case SampleType::i8: return to_values(static_cast<const std::int8_t*>(row), layout, out, stride);
    case SampleType::i16: return to_values(static_cast<const std::int16_t*>(row), layout, out, stride);
    case SampleType::i32: return to_values(static_cast<const std::int32_t*>(row), layout, out, stride);
    case SampleType::f16: return to_values(static_cast<const Half*>(row), layout, out, stride);
    case SampleType::f32: return to_values(static_cast<const float*>(row), layout, out, stride);
    case SampleType::f64: return to_values(static_cast<const double*>(row), layout, out, stride);
  }
}

std::size_t count_not_finite(const void* samples, SampleType type, std::size_t count) {
  std::size_t bad = 0;
  if (type == SampleType::f16)
    for (std::size_t i = 0; i < count; ++i) bad += (static_cast<const std::uint16_t*>(samples)[i] & 0x7c00) == 0x7c00;
  else if (type == SampleType::f32)
    for (std::size_t i = 0; i < count; ++i) bad += !std::isfinite(static_cast<const float*>(samples)[i]);
  else if (type == SampleType::f64)
    for (std::size_t i = 0; i < count; ++i) bad += !std::isfinite(static_cast<const double*>(samples)[i]);
  return bad;
}

void samples_from_values(const double* in, std::size_t stride, std::size_t width, const SampleStore& store,
                         void* row) {
  switch (store.sample) {
    case SampleType::u8: return to_integers(in, stride, width, store, static_cast<std::uint8_t*>(row));
    case SampleType::u16: return to_integers(in, stride, width, store, static_cast<std::uint16_t*>(row));
    case SampleType::u32: return to_integers(in, stride, width, store, static_cast<std::uint32_t*>(row));
    case SampleType::i8: return to_integers(in, stride, width, store, static_cast<std::int8_t*>(row));
    case SampleType::i16: return to_integers(in, stride, width, store, static_cast<std::int16_t*>(row));
    case SampleType::i32: return to_integers(in, stride, width, store, static_cast<std::int32_t*>(row));
    case SampleType::f16: return to_floats(in, stride, width, store, static_cast<std::uint16_t*>(row));
    case SampleType::f32: return to_floats(in, stride, width, store, static_cast<float*>(row));
    case SampleType::f64: return to_floats(in, stride, width, store, static_cast<double*>(row));
  }
}

}  // namespace kelvane
