#include "image/page_layout.h"

#include <cmath>

namespace kelvane {

std::size_t sample_bytes(SampleType type) {
  switch (type) {
    case SampleType::u8: case SampleType::i8: return 1;
    case SampleType::u16: case SampleType::i16: case SampleType::f16: return 2;
    case SampleType::u32: case SampleType::i32: case SampleType::f32: return 4;
    case SampleType::f64: return 8;
  }
  return 1;
}

bool is_floating(SampleType type) { return type == SampleType::f16 || type == SampleType::f32 || type == SampleType::f64; }

bool is_signed(SampleType type) { return type == SampleType::i8 || type == SampleType::i16 || type == SampleType::i32; }

const char* sample_name(SampleType type) {
  switch (type) {
    case SampleType::u8: return "8-bit";
    case SampleType::u16: return "16-bit";
    case SampleType::u32: return "32-bit";
    case SampleType::i8: return "signed 8-bit";
    case SampleType::i16: return "signed 16-bit";
    case SampleType::i32: return "signed 32-bit";
    case SampleType::f16: return "16-bit floating-point";
    case SampleType::f32: return "32-bit floating-point";
    case SampleType::f64: return "64-bit floating-point";
  }
  return "";
}

PageLayout integer_layout(std::size_t width, std::size_t height, std::size_t channels,
                          SampleType sample, unsigned bits) {
  PageLayout layout;
  layout.width = width;
  layout.height = height;
  layout.channels = channels;
  layout.sample = sample;
  layout.bits = bits;
  SampleCoding coding;
  coding.unit = std::ldexp(1.0, static_cast<int>(bits)) - 1.0;
  layout.coding.assign(channels, coding);
  return layout;
}

}  // namespace kelvane
