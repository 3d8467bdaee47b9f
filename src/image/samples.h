#pragma once
// Converting between stored samples and the values the algorithms work on.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/page_layout.h"

namespace kelvane {

// What saving stores for a value in integer samples whose largest code is `unit`: v * unit,
// clamped to [0, unit], NaN as 0; converted to the sample type it is truncated toward zero.
inline double saved_sample(double v, double unit) {
  double scaled = v * unit;
#if defined(__x86_64__)
  // maxsd keeps its destination where it is the greater and takes the source otherwise (NaN
  // included), minsd likewise: the same choices, without the branches that random pictures
  // mispredict. (Written as instructions: compilers fold their builtins as if NaN could not
  // occur.)
  double zero = 0.0;
  __asm__("maxsd %1, %0" : "+x"(scaled) : "x"(zero));
  __asm__("minsd %1, %0" : "+x"(scaled) : "x"(unit));
  return scaled;
#else
  return scaled > unit ? unit : (scaled > 0.0 ? scaled : 0.0);
#endif
}

// A half-precision float's value (exact), and the half nearest to a double (ties to even;
// beyond the largest half, infinity).
double from_half(std::uint16_t half);
std::uint16_t to_half(double v);

// One row of interleaved samples into planar values: value channel c of pixel x goes to
// out[c * channel_stride + x]. The value channels are the colour channels in their order,
// then alpha, wherever the file keeps it.
void values_from_samples(const void* row, const PageLayout& layout, double* out,
                         std::size_t channel_stride);

// The value channel of a stored channel, and back: the colour channels keep their order,
// alpha goes last.
std::size_t value_channel(const PageLayout& layout, std::size_t stored);
std::size_t stored_channel(const PageLayout& layout, std::size_t value);

// One value channel of a row of interleaved samples.
void channel_values(const void* row, const PageLayout& layout, std::size_t value, double* out);

// A table of the value of every code of a channel whose samples are 8- or 16-bit integers
// (256 or 65536 entries), or empty for other sample types and for colours stored multiplied
// by alpha (whose values depend on the alpha beside them).
std::vector<double> code_values(const PageLayout& layout, std::size_t value);

// How many of `count` samples of floating-point type are NaN or infinite (0 for integers).
std::size_t count_not_finite(const void* samples, SampleType type, std::size_t count);

// How values are stored in an output: the channels written, in order, and their sample type.
struct SampleStore {
  std::vector<std::size_t> channels;  // channels of the values, in the order they are written
  SampleType sample = SampleType::u8;
  double unit = 255.0;  // largest integer code (of the unsigned range); unused for floats
  // Signed samples: 2^(b-1), taken from the unsigned code (the code of value 0 is -2^(b-1)).
  double offset = 0.0;
  // Colours written multiplied by the alpha at this position of `channels`, or -1.
  int premultiplied_by = -1;
};

// One row of planar values (channel c of pixel x at in[c * channel_stride + x]) into
// interleaved samples of `width` pixels.
void samples_from_values(const double* in, std::size_t channel_stride, std::size_t width,
                         const SampleStore& store, void* row);

}  // namespace kelvane
