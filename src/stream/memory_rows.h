#pragma once
// Rows of a picture held in memory: samples of any type, interleaved or planar, rows of any
// stride; and leveled rows written back into such a picture.
#include <cstddef>

#include "image/big_block.h"
#include "stream/rows.h"

namespace kelvane {

// Where the samples of a picture in memory are: sample (x, y) of stored channel c at
// base + y * row_stride + x * pixel_stride + c * channel_stride, strides in bytes.
struct MemoryPicture {
  const void* base = nullptr;
  std::ptrdiff_t row_stride = 0, pixel_stride = 0, channel_stride = 0;
};

class MemorySource final : public RowSource {
 public:
  // Whether the picture's rows stay as they are while they are leveled, or are written over
  // (leveled in place): those are copied as they are read, never read where they are.
  enum class Rows { kept, overwritten };
  MemorySource(const PageLayout& layout, const MemoryPicture& picture, Rows rows = Rows::kept)
      : layout_(layout), picture_(picture), rows_(rows) {}
  const PageLayout& layout() const override { return layout_; }
  void read_rows(std::size_t y, std::size_t count, void* rows) override;
  const unsigned char* held_rows(std::ptrdiff_t& row_stride) const override;

 private:
  PageLayout layout_;
  MemoryPicture picture_;
  Rows rows_;
};

// A page read whole from another source the first time a row is asked for, then handed out
// from memory: a file is decoded once, however many times its rows are walked.
class HeldSource final : public RowSource {
 public:
  explicit HeldSource(RowSource& source) : source_(source) {}
  const PageLayout& layout() const override { return source_.layout(); }
  void read_rows(std::size_t y, std::size_t count, void* rows) override;
  const unsigned char* held_rows(std::ptrdiff_t& row_stride) const override;

 private:
  void hold() const;
  RowSource& source_;
  mutable BigBlock samples_;
  mutable bool held_ = false;
};

// Writes leveled values into a picture in memory: integer samples as a file's writer would
// (v * largest code, clamped, truncated), floating-point ones as they are.
class MemorySink final : public RowSink {
 public:
  MemorySink(const PageLayout& layout, void* base, std::ptrdiff_t row_stride, std::ptrdiff_t pixel_stride,
             std::ptrdiff_t channel_stride)
      : layout_(layout), base_(static_cast<unsigned char*>(base)), row_stride_(row_stride),
        pixel_stride_(pixel_stride), channel_stride_(channel_stride) {}
  void write_rows(std::size_t y, std::size_t count, const double* values, std::size_t channel_stride) override;
  bool takes_parts() const override { return true; }
  double part_unit() const override;
  void write_part_codes(std::size_t y, std::size_t c, std::size_t x, std::size_t count, const void* codes) override;
  void write_pixel_codes(std::size_t y, std::size_t channels, std::size_t x, std::size_t count,
                         const void* const* codes) override;
  void write_part(std::size_t y, std::size_t c, std::size_t x, std::size_t count, const double* values) override;

 private:
  PageLayout layout_;
  unsigned char* base_;
  std::ptrdiff_t row_stride_, pixel_stride_, channel_stride_;
};

}  // namespace kelvane
