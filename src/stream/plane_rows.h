#pragma once
// What a page's leveling works on: the planes (each leveled channel, or one gray plane whose
// correction is carried back onto the channels), the summed-area tables their algorithm
// reads, and the values of a plane and of its tables, a row of the page's samples at a time.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gray/color.h"
#include "image/samples.h"
#include "leveling/algorithms.h"

namespace kelvane {

struct Planes {
  bool gray = false;
  std::size_t leveled = 0;  // value channels leveled (colour ones, or all with alpha)
  std::size_t count() const { return gray ? 1 : leveled; }
};

Planes planes_of(const Leveling& leveling, const PageLayout& layout);

// The tables the family reads, in a fixed order.
std::vector<Table> tables_list(Family family);

// The value a table sums for a plane value v: v, v * v, v^p or (1 - v)^p, the last with
// 1 - v formed as (v * -1.0) + 1.0.
double table_value(Table table, double v, double p);

// Scratch rows of the calling thread, at least `count` doubles.
double* scratch_rows(std::size_t count);

// A plane's values, and the values its tables sum, from a row of the page's samples. A
// channel of 8- or 16-bit codes is looked up in tables of what each code gives, computed by
// the same operations: the results are the same, without a pow for every sample.
class PlaneRows {
 public:
  PlaneRows(const Leveling& leveling, const PageLayout& layout, const Planes& planes, const std::vector<Table>& tables)
      : layout_(layout), planes_(planes), tables_(tables), method_(leveling.method) {
    // Tables of codes for the leveled channels (all of them: the gray reads three); the
    // last table of each channel holds the values themselves.
    codes_.resize(layout.channels);
    for (std::size_t c = 0; c < layout.channels; ++c) {
      std::vector<double> values = code_values(layout, c);
      if (values.empty()) continue;
      codes_[c].resize(tables.size() + 1);
      for (std::size_t t = 0; t < tables.size() && !planes.gray && c < planes.leveled; ++t) {
        codes_[c][t].resize(values.size());
        for (std::size_t s = 0; s < values.size(); ++s) codes_[c][t][s] = table_value(tables[t], values[s], power_exponent);
      }
      codes_[c][tables.size()] = std::move(values);
    }
  }

  // Value channel c of a row.
  void channel(const unsigned char* row, std::size_t c, double* out) const {
    if (codes_[c].empty()) return channel_values(row, layout_, c, out);
    lookup(row, c, codes_[c].back().data(), out);
  }

  // Columns [begin, end) of value channel c of a row whose samples are codes, column x into
  // out[x - begin].
  void coded_channel(const unsigned char* row, std::size_t c, std::size_t begin, std::size_t end, double* out) const {
    lookup(row, c, codes_[c].back().data(), out, begin, end);
  }

  // The same for value channels [0, channels) at once, channel c into out + c * out_stride.
  void coded_planes(const unsigned char* row, std::size_t channels, std::size_t begin, std::size_t end, double* out,
                    std::size_t out_stride) const {
    // Red, green and blue side by side in bytes: each pixel's read together.
    const std::size_t step = layout_.channels;
    if (layout_.sample == SampleType::u8 && channels == 3 && stored_channel(layout_, 0) == 0 &&
        stored_channel(layout_, 1) == 1 && stored_channel(layout_, 2) == 2) {
      const double* r = codes_[0].back().data();
      const double* g = codes_[1].back().data();
      const double* b = codes_[2].back().data();
      const std::uint8_t* pixel = row + begin * step;
      double* red = out;
      double* green = out + out_stride;
      double* blue = out + 2 * out_stride;
      for (std::size_t x = 0; x < end - begin; ++x, pixel += step) {
        red[x] = r[pixel[0]];
        green[x] = g[pixel[1]];
        blue[x] = b[pixel[2]];
      }
      return;
    }
    for (std::size_t c = 0; c < channels; ++c) coded_channel(row, c, begin, end, out + c * out_stride);
  }

  // The plane's values of a row; `scratch` holds three rows for the gray.
  void values(const unsigned char* row, std::size_t plane, double* out, double* scratch) const {
    if (!planes_.gray) return channel(row, plane, out);
    const std::size_t w = layout_.width;
    for (std::size_t c = 0; c < 3; ++c) channel(row, c, scratch + c * w);
    gray_row(scratch, scratch + w, scratch + 2 * w, w, method_, out);
  }

  // Where table t of the plane sums a table of codes of 8-bit (u8) or 16-bit samples: the
  // table, with the samples' type, the step between a row's samples of the plane and the
  // first; or null.
  struct Coded {
    const double* codes = nullptr;
    SampleType sample = SampleType::u8;
    std::size_t step = 0, first = 0;
  };
  Coded coded(std::size_t plane, std::size_t t) const {
    if (planes_.gray || codes_[plane].empty()) return Coded();
    return Coded{codes_[plane][t].data(), layout_.sample, layout_.channels, stored_channel(layout_, plane)};
  }

  // What table t of the plane sums for each pixel of a row.
  void table_values(const unsigned char* row, std::size_t plane, std::size_t t, double* out, double* scratch) const {
    if (!planes_.gray && !codes_[plane].empty()) return lookup(row, plane, codes_[plane][t].data(), out);
    values(row, plane, out, scratch);
    const Table table = tables_[t];
    if (table != Table::values)
      for (std::size_t x = 0; x < layout_.width; ++x) out[x] = table_value(table, out[x], power_exponent);
  }

 private:
  // Columns [begin, end) of a row (by default all), column x into out[x - begin].
  void lookup(const unsigned char* row, std::size_t value_channel, const double* table, double* out,
              std::size_t begin = 0, std::size_t end = 0) const {
    if (end == 0) end = layout_.width;
    const std::size_t step = layout_.channels, first = begin * step + stored_channel(layout_, value_channel);
    const std::size_t n = end - begin;
    if (layout_.sample == SampleType::u8)
      for (std::size_t x = 0; x < n; ++x) out[x] = table[row[first + x * step]];
    else
      for (std::size_t x = 0; x < n; ++x) out[x] = table[reinterpret_cast<const std::uint16_t*>(row)[first + x * step]];
  }

  const PageLayout& layout_;
  Planes planes_;
  std::vector<Table> tables_;
  GrayMethod method_;
  std::vector<std::vector<std::vector<double>>> codes_;  // [value channel][table, then the values][code]
};

}  // namespace kelvane
