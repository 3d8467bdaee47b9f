#include "stream/memory_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/samples.h"
#include "image/saved_codes.h"

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

const unsigned char* MemorySource::held_rows(std::ptrdiff_t& row_stride) const {
  // Interleaved rows are read where they are, if their samples are aligned to their size
  // (they are read as numbers of their type there) and nothing writes over them.
  const std::ptrdiff_t bytes = static_cast<std::ptrdiff_t>(sample_bytes(layout_.sample));
  row_stride = picture_.row_stride;
  const bool interleaved = picture_.channel_stride == bytes &&
                           picture_.pixel_stride == bytes * static_cast<std::ptrdiff_t>(layout_.channels);
  const bool aligned = reinterpret_cast<std::uintptr_t>(picture_.base) % static_cast<std::uintptr_t>(bytes) == 0 &&
                       picture_.row_stride % bytes == 0;
  return interleaved && aligned && rows_ == Rows::kept ? static_cast<const unsigned char*>(picture_.base) : nullptr;
}

void HeldSource::hold() const {
  if (held_) return;
  const PageLayout& layout = source_.layout();
  samples_ = BigBlock(layout.row_bytes() * layout.height);
  unsigned char* samples = static_cast<unsigned char*>(samples_.data());
  const std::size_t run = std::max<std::size_t>(64, source_.chunk_rows());
  for (std::size_t y = 0; y < layout.height; y += run)
    source_.read_rows(y, std::min(run, layout.height - y), samples + y * layout.row_bytes());
  held_ = true;
}

void HeldSource::read_rows(std::size_t y, std::size_t count, void* rows) {
  hold();
  const std::size_t row = layout().row_bytes();
  std::memcpy(rows, static_cast<const unsigned char*>(samples_.data()) + y * row, count * row);
}

const unsigned char* HeldSource::held_rows(std::ptrdiff_t& row_stride) const {
  hold();
  row_stride = static_cast<std::ptrdiff_t>(layout().row_bytes());
  return static_cast<const unsigned char*>(samples_.data());
}

namespace {

// Floats as they are, but beyond the range of floats the largest float of that sign.
template <class T>
T float_sample(double v) {
  if (sizeof(T) == sizeof(float)) {
    constexpr double largest = 3.4028234663852886e38;
    return static_cast<T>(v > largest ? largest : v < -largest ? -largest : v);
  }
  return static_cast<T>(v);
}

// Stored channel c of a row from its samples, `pixel` bytes apart. Samples aligned to their
// size (as a caller's arrays are) are stored as they are; others a byte at a time.
template <class T, class SampleOf>
void store_samples(std::size_t width, unsigned char* first, std::ptrdiff_t pixel, SampleOf sample_of) {
  if (reinterpret_cast<std::uintptr_t>(first) % alignof(T) == 0 && pixel % static_cast<std::ptrdiff_t>(sizeof(T)) == 0) {
    T* s = reinterpret_cast<T*>(first);
    const std::ptrdiff_t step = pixel / static_cast<std::ptrdiff_t>(sizeof(T));
    for (std::size_t x = 0; x < width; ++x) s[static_cast<std::ptrdiff_t>(x) * step] = sample_of(x);
    return;
  }
  for (std::size_t x = 0; x < width; ++x) {
    const T sample = sample_of(x);
    std::memcpy(first + static_cast<std::ptrdiff_t>(x) * pixel, &sample, sizeof(T));
  }
}

template <class T>
void store_codes(const double* v, std::size_t width, double unit, unsigned char* first, std::ptrdiff_t pixel) {
  saved_code_stretches<T>(v, width, unit, [first, pixel](std::size_t begin, const T* codes, std::size_t count) {
    store_samples<T>(count, first + static_cast<std::ptrdiff_t>(begin) * pixel, pixel,
                     [codes](std::size_t x) { return codes[x]; });
  });
}

template <class T>
void store_floats(const double* v, std::size_t width, unsigned char* first, std::ptrdiff_t pixel) {
  store_samples<T>(width, first, pixel, [v](std::size_t x) { return float_sample<T>(v[x]); });
}

void store(SampleType type, const double* v, std::size_t width, unsigned char* row, std::ptrdiff_t pixel,
           std::ptrdiff_t channel_offset) {
  unsigned char* first = row + channel_offset;
  switch (type) {
    case SampleType::u8: return store_codes<std::uint8_t>(v, width, 255.0, first, pixel);
    case SampleType::u16: return store_codes<std::uint16_t>(v, width, 65535.0, first, pixel);
    case SampleType::f32: return store_floats<float>(v, width, first, pixel);
    default: return store_floats<double>(v, width, first, pixel);
  }
}

}  // namespace

void MemorySink::write_rows(std::size_t y, std::size_t count, const double* values, std::size_t channel_stride) {
  const std::size_t w = layout_.width;
  for (std::size_t r = 0; r < count; ++r) {
    unsigned char* row = base_ + static_cast<std::ptrdiff_t>(y + r) * row_stride_;
    for (std::size_t c = 0; c < layout_.channels; ++c)
      store(layout_.sample, values + value_channel(layout_, c) * channel_stride + r * w, w, row, pixel_stride_,
            static_cast<std::ptrdiff_t>(c) * channel_stride_);
  }
}

double MemorySink::part_unit() const {
  return layout_.sample == SampleType::u8 ? 255.0 : layout_.sample == SampleType::u16 ? 65535.0 : 0.0;
}

void MemorySink::write_part(std::size_t y, std::size_t c, std::size_t x, std::size_t count, const double* values) {
  unsigned char* row = base_ + static_cast<std::ptrdiff_t>(y) * row_stride_ + static_cast<std::ptrdiff_t>(x) * pixel_stride_;
  store(layout_.sample, values, count, row, pixel_stride_,
        static_cast<std::ptrdiff_t>(stored_channel(layout_, c)) * channel_stride_);
}

void MemorySink::write_part_codes(std::size_t y, std::size_t c, std::size_t x, std::size_t count, const void* codes) {
  unsigned char* first = base_ + static_cast<std::ptrdiff_t>(y) * row_stride_ + static_cast<std::ptrdiff_t>(x) * pixel_stride_ +
                         static_cast<std::ptrdiff_t>(stored_channel(layout_, c)) * channel_stride_;
  if (layout_.sample == SampleType::u8) {
    const auto* u8 = static_cast<const std::uint8_t*>(codes);
    store_samples<std::uint8_t>(count, first, pixel_stride_, [u8](std::size_t i) { return u8[i]; });
  } else {
    const auto* u16 = static_cast<const std::uint16_t*>(codes);
    store_samples<std::uint16_t>(count, first, pixel_stride_, [u16](std::size_t i) { return u16[i]; });
  }
}

void MemorySink::write_pixel_codes(std::size_t y, std::size_t channels, std::size_t x, std::size_t count,
                                   const void* const* codes) {
  // 8-bit red, green and blue side by side, alpha after them or none: each pixel's three
  // samples are stored together, so that its bytes are written once rather than in three
  // passes over the row.
  const bool rgb = layout_.sample == SampleType::u8 && channels == 3 && channel_stride_ == 1 &&
                   (pixel_stride_ == 3 || pixel_stride_ == 4) && stored_channel(layout_, 0) == 0 &&
                   stored_channel(layout_, 1) == 1 && stored_channel(layout_, 2) == 2;
  if (!rgb) return RowSink::write_pixel_codes(y, channels, x, count, codes);
  unsigned char* first = base_ + static_cast<std::ptrdiff_t>(y) * row_stride_ + static_cast<std::ptrdiff_t>(x) * pixel_stride_;
  const auto* r = static_cast<const std::uint8_t*>(codes[0]);
  const auto* g = static_cast<const std::uint8_t*>(codes[1]);
  const auto* b = static_cast<const std::uint8_t*>(codes[2]);
  if (pixel_stride_ == 3) return interleave_codes(r, g, b, count, first);
  for (std::size_t i = 0; i < count; ++i) {
    first[4 * i] = r[i];
    first[4 * i + 1] = g[i];
    first[4 * i + 2] = b[i];
  }
}

}  // namespace kelvane
