#pragma once
// Where the rows of a page come from and where the leveled rows go: a file being read and
// written, or a picture in memory.
#include <cstddef>
#include <memory>

#include "image/page_layout.h"

namespace kelvane {

class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual const PageLayout& layout() const = 0;
  // Rows are best read in runs of this many, starting at multiples of it (a TIFF's tiles).
  virtual std::size_t chunk_rows() const { return 1; }
  // Rows [y, y + count) as interleaved samples of the layout's type. Rows come in order, but
  // a source may be read again from the top.
  virtual void read_rows(std::size_t y, std::size_t count, void* rows) = 0;
  // Where every row already lies in memory as read_rows would give it (interleaved samples
  // of the layout), row y at the result + y * row_stride; null where rows must be read.
  virtual const unsigned char* held_rows(std::ptrdiff_t& row_stride) const {
    row_stride = 0;
    return nullptr;
  }
  // A second source of the same rows, read on its own from the top, or null where there is
  // none: a window too tall to keep its rows in memory reads them again instead.
  virtual std::unique_ptr<RowSource> another() { return nullptr; }
};

class RowSink {
 public:
  virtual ~RowSink() = default;
  // Rows [y, y + count), in order, as planar values: value channel c of row y + r, column x
  // at values[c * channel_stride + r * width + x] (colour channels first, alpha last).
  virtual void write_rows(std::size_t y, std::size_t count, const double* values, std::size_t channel_stride) = 0;
  // Whether the sink also takes pieces of rows through write_part, in any order and from any
  // thread (each piece written once): a picture in memory, not a file.
  virtual bool takes_parts() const { return false; }
  // The largest code of the integer samples write_part stores (values scaled by it, clamped
  // and truncated), or 0 where it stores values as they are.
  virtual double part_unit() const { return 0.0; }
  // Columns [x, x + count) of value channel c of row y.
  virtual void write_part(std::size_t /*y*/, std::size_t /*c*/, std::size_t /*x*/, std::size_t /*count*/,
                          const double* /*values*/) {}
  // The same from codes already saved (where part_unit is not 0), of the sink's sample type.
  virtual void write_part_codes(std::size_t /*y*/, std::size_t /*c*/, std::size_t /*x*/, std::size_t /*count*/,
                                const void* /*codes*/) {}
  // The same for value channels [0, channels) at once, codes[c] those of channel c: a sink
  // may write each pixel's samples together.
  virtual void write_pixel_codes(std::size_t y, std::size_t channels, std::size_t x, std::size_t count,
                                 const void* const* codes) {
    for (std::size_t c = 0; c < channels; ++c) write_part_codes(y, c, x, count, codes[c]);
  }
};

}  // namespace kelvane
