#include "image/samples.h"

#include <cmath>
#include <cstdint>

namespace kelvane {

namespace {

// The value of one stored sample.
template <class T>
inline double value_of(T s, const SampleCoding& k) {
  if (k.stretch != 0.0) return std::nearbyint(static_cast<double>(s) * k.stretch) / k.unit;
  if (k.offset != 0.0) return (static_cast<double>(s) + k.offset) / k.unit;
  if (k.unit != 1.0) return static_cast<double>(s) / k.unit;
  return static_cast<double>(s);
}

// Stored channel c of every pixel of a row: value_of, with its choice made once a row.
template <class T>
void channel_to_values(const T* in, const PageLayout& layout, std::size_t c, double* out) {
  const SampleCoding& k = layout.coding[c];
  const std::size_t n = layout.channels, w = layout.width;
  const T* s = in + c;
  if (k.stretch != 0.0)
    for (std::size_t x = 0; x < w; ++x) out[x] = std::nearbyint(static_cast<double>(s[x * n]) * k.stretch) / k.unit;
  else if (k.offset != 0.0)
    for (std::size_t x = 0; x < w; ++x) out[x] = (static_cast<double>(s[x * n]) + k.offset) / k.unit;
  else if (k.unit != 1.0)
    for (std::size_t x = 0; x < w; ++x) out[x] = static_cast<double>(s[x * n]) / k.unit;
  else
    for (std::size_t x = 0; x < w; ++x) out[x] = static_cast<double>(s[x * n]);
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

template <class T>
void to_integers(const double* in, std::size_t stride, std::size_t width, const SampleStore& store, T* row) {
  const std::size_t n = store.channels.size();
  for (std::size_t k = 0; k < n; ++k) {
    const double* v = in + store.channels[k] * stride;
    T* s = row + k;
    for (std::size_t x = 0; x < width; ++x, s += n) *s = static_cast<T>(saved_sample(v[x], store.unit));
  }
}

template <class T>
void to_floats(const double* in, std::size_t stride, std::size_t width, const SampleStore& store, T* row) {
  const std::size_t n = store.channels.size();
  for (std::size_t k = 0; k < n; ++k) {
    const double* v = in + store.channels[k] * stride;
    T* s = row + k;
    for (std::size_t x = 0; x < width; ++x, s += n) *s = static_cast<T>(v[x]);
  }
}

}  // namespace

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
    case SampleType::f32: return channel_to_values(static_cast<const float*>(row), layout, c, out);
    case SampleType::f64: return channel_to_values(static_cast<const double*>(row), layout, c, out);
  }
}

std::vector<double> code_values(const PageLayout& layout, std::size_t value) {
  const std::size_t c = stored_channel(layout, value);
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
    case SampleType::f32: return to_values(static_cast<const float*>(row), layout, out, stride);
    case SampleType::f64: return to_values(static_cast<const double*>(row), layout, out, stride);
  }
}

void samples_from_values(const double* in, std::size_t stride, std::size_t width, const SampleStore& store,
                         void* row) {
  switch (store.sample) {
    case SampleType::u8: return to_integers(in, stride, width, store, static_cast<std::uint8_t*>(row));
    case SampleType::u16: return to_integers(in, stride, width, store, static_cast<std::uint16_t*>(row));
    case SampleType::u32: return to_integers(in, stride, width, store, static_cast<std::uint32_t*>(row));
    case SampleType::f32: return to_floats(in, stride, width, store, static_cast<float*>(row));
    case SampleType::f64: return to_floats(in, stride, width, store, static_cast<double*>(row));
    default: return to_integers(in, stride, width, store, static_cast<std::uint16_t*>(row));
  }
}

}  // namespace kelvane
