#include "files/samples.h"

#include <cmath>
#include <cstdint>

namespace {

// Where a stored channel goes among the values: colour channels keep their order, alpha
// goes last.
std::size_t value_channel(const PageLayout& layout, std::size_t c) {
  const std::size_t alpha = static_cast<std::size_t>(layout.alpha);
  if (layout.alpha < 0 || c < alpha) return c;
  return c == alpha ? layout.channels - 1 : c - 1;
}

template <class T>
void to_values(const T* in, const PageLayout& layout, double* out, std::size_t stride) {
  const std::size_t channels = layout.channels;
  for (std::size_t c = 0; c < channels; ++c) {
    const SampleCoding& k = layout.coding[c];
    double* o = out + value_channel(layout, c) * stride;
    const T* s = in + c;
    if (k.stretch != 0.0) {
      for (std::size_t x = 0; x < layout.width; ++x, s += channels)
        o[x] = std::nearbyint(static_cast<double>(*s) * k.stretch) / k.unit;
    } else if (k.offset != 0.0) {
      for (std::size_t x = 0; x < layout.width; ++x, s += channels)
        o[x] = (static_cast<double>(*s) + k.offset) / k.unit;
    } else if (k.unit != 1.0) {
      for (std::size_t x = 0; x < layout.width; ++x, s += channels) o[x] = static_cast<double>(*s) / k.unit;
    } else {
      for (std::size_t x = 0; x < layout.width; ++x, s += channels) o[x] = static_cast<double>(*s);
    }
  }
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
