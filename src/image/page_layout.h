#pragma once
// What one page of a picture file holds, and how its stored samples become the values the
// algorithms work on: integer codes of b bits are divided by 2^b - 1 (a PNM's by its maxval),
// signed ones first offset by 2^(b-1) onto 0 .. 2^b - 1, floating-point samples are taken as
// they are (1.0 is white).
#include <cstddef>
#include <vector>

namespace kelvane {

enum class SampleType { u8, u16, u32, i8, i16, i32, f16, f32, f64 };

std::size_t sample_bytes(SampleType type);
bool is_floating(SampleType type);
bool is_signed(SampleType type);
const char* sample_name(SampleType type);

// How the stored samples of one channel become values.
struct SampleCoding {
  double unit = 255.0;   // the code that loads as 1.0; 1 for floating-point samples
  double offset = 0.0;   // added to every stored sample first (2^(b-1) for signed samples)
  // Nonzero where the decoder stretched b-bit codes over its wider sample type (a 5-bit BMP
  // channel as 8 bits, say): the file's code is round(sample * stretch).
  double stretch = 0.0;
};

struct PageLayout {
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t channels = 0;
  int alpha = -1;  // the channel the file marks as alpha, or -1
  // The colours are stored multiplied by alpha (associated alpha); their values are the
  // colours divided by it, 0 where alpha is 0.
  bool premultiplied = false;
  SampleType sample = SampleType::u8;
  unsigned bits = 8;  // significant bits of the deepest channel (32 or 64 for floats)
  std::vector<SampleCoding> coding;  // one per channel

  std::size_t colour_channels() const { return alpha >= 0 ? channels - 1 : channels; }
  std::size_t row_bytes() const { return width * channels * sample_bytes(sample); }
  std::size_t pixel_count() const { return width * height; }
};

// Integer samples of `bits` bits in a sample type that holds them as they are.
PageLayout integer_layout(std::size_t width, std::size_t height, std::size_t channels,
                          SampleType sample, unsigned bits);

}  // namespace kelvane
