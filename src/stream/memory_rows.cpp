#include "stream/memory_rows.h"

#include <cstdint>
#include <cstring>

#include "image/samples.h"

namespace kelvane {

namespace {

// Samples of one channel of a row, `pixel` bytes apart, into every `channels`-th slot.
template <class T>
void gather(const unsigned char* from, std::ptrdiff_t pixel, std::size_t width, std::size_t channels, T* to) {
  for (std::size_t x = 0; x < width; ++x) std::memcpy(to + x * channels, from + static_cast<std::ptrdiff_t>(x) * pixel, sizeof(T));
}

}  // namespace

void MemorySource::read_rows(std::size_t y, std::size_t count, void* rows) {
  const std::size_t bytes = sample_bytes(layout_.sample), n = layout_.channels, w = layout_.width;
  const bool interleaved = picture_.channel_stride == static_cast<std::ptrdiff_t>(bytes) &&
                           picture_.pixel_stride == static_cast<std::ptrdiff_t>(n * bytes);
  unsigned char* out = static_cast<unsigned char*>(rows);
  for (std::size_t r = 0; r < count; ++r, out += w * n * bytes) {
    const unsigned char* row = static_cast<const unsigned char*>(picture_.base) + static_cast<std::ptrdiff_t>(y + r) * picture_.row_stride;
    if (interleaved) {
      std::memcpy(out, row, w * n * bytes);
      continue;
    }
    for (std::size_t c = 0; c < n; ++c) {
      const unsigned char* from = row + static_cast<std::ptrdiff_t>(c) * picture_.channel_stride;
      switch (bytes) {
        case 1: gather(from, picture_.pixel_stride, w, n, out + c); break;
        case 2: gather(from, picture_.pixel_stride, w, n, reinterpret_cast<std::uint16_t*>(out) + c); break;
        case 4: gather(from, picture_.pixel_stride, w, n, reinterpret_cast<std::uint32_t*>(out) + c); break;
        default: gather(from, picture_.pixel_stride, w, n, reinterpret_cast<std::uint64_t*>(out) + c); break;
      }
    }
  }
}

namespace {

template <class T>
void store(const double* values, std::size_t stride, std::size_t width, std::size_t channels, double unit,
           const PageLayout& layout, unsigned char* row, std::ptrdiff_t pixel, std::ptrdiff_t channel) {
  for (std::size_t c = 0; c < channels; ++c) {
    const double* v = values + value_channel(layout, c) * stride;
    for (std::size_t x = 0; x < width; ++x) {
      const T sample = unit == 0.0 ? static_cast<T>(v[x]) : static_cast<T>(saved_sample(v[x], unit));
      std::memcpy(row + static_cast<std::ptrdiff_t>(x) * pixel + static_cast<std::ptrdiff_t>(c) * channel, &sample,
                  sizeof(T));
    }
  }
}

}  // namespace

void MemorySink::write_rows(std::size_t y, std::size_t count, const double* values, std::size_t channel_stride) {
  const std::size_t w = layout_.width, n = layout_.channels;
  for (std::size_t r = 0; r < count; ++r) {
    unsigned char* row = base_ + static_cast<std::ptrdiff_t>(y + r) * row_stride_;
    const double* v = values + r * w;
    switch (layout_.sample) {
      case SampleType::u8: store<std::uint8_t>(v, channel_stride, w, n, 255.0, layout_, row, pixel_stride_, channel_stride_); break;
      case SampleType::u16: store<std::uint16_t>(v, channel_stride, w, n, 65535.0, layout_, row, pixel_stride_, channel_stride_); break;
      case SampleType::f32: store<float>(v, channel_stride, w, n, 0.0, layout_, row, pixel_stride_, channel_stride_); break;
      default: store<double>(v, channel_stride, w, n, 0.0, layout_, row, pixel_stride_, channel_stride_); break;
    }
  }
}

}  // namespace kelvane
