#include "files/bmp_writer.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "files/atomic_file.h"
#include "files/descriptor_io.h"
#include "files/file_error.h"
#include "files/metadata.h"
#include "image/samples.h"

namespace kelvane {

namespace {

void put16(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<unsigned char>(v);
  out[at + 1] = static_cast<unsigned char>(v >> 8);
}

void put32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v) {
  put16(out, at, v);
  put16(out, at + 2, v >> 16);
}

// Pixels per metre, as BMP keeps the resolution.
std::uint32_t per_metre(double per_unit, ResolutionUnit unit) {
  if (unit == ResolutionUnit::none || per_unit <= 0) return 0;
  const double metre = per_unit * (unit == ResolutionUnit::inch ? 1000.0 / 25.4 : 100.0);
  return metre < 4e9 ? static_cast<std::uint32_t>(std::lround(metre)) : 0;
}

class BmpWriter final : public PictureWriter {
 public:
  BmpWriter(const std::string& output, const PagePlan& plan, const PageInfo& input)
      : plan_(plan), file_(output), bytes_(file_.fd(), output) {
    const std::size_t channels = plan.store.channels.size();
    if (plan.width > 0x7fffffff || plan.height > 0x7fffffff || static_cast<long double>(stored_row()) * plan.height > 4.0e9L)
      throw write_error(output, "the picture is too large for a BMP file (4 GB)");
    const std::size_t palette = channels == 1 ? 256 * 4 : 0;
    header_ = 14 + 40 + palette;
    std::vector<unsigned char> h(header_, 0);
    h[0] = 'B', h[1] = 'M';
    put32(h, 2, static_cast<std::uint32_t>(header_ + stored_row() * plan.height));
    put32(h, 10, static_cast<std::uint32_t>(header_));
    put32(h, 14, 40);
    put32(h, 18, static_cast<std::uint32_t>(plan.width));
    put32(h, 22, static_cast<std::uint32_t>(plan.height));  // positive: the bottom row first
    put16(h, 26, 1);
    put16(h, 28, channels == 1 ? 8 : 24);
    put32(h, 34, static_cast<std::uint32_t>(stored_row() * plan.height));
    if (input.metadata) {
      put32(h, 38, per_metre(input.metadata->x_resolution, input.metadata->resolution_unit));
      put32(h, 42, per_metre(input.metadata->y_resolution, input.metadata->resolution_unit));
    }
    if (channels == 1) {
      put32(h, 46, 256);
      for (std::size_t i = 0; i < 256; ++i) h[54 + 4 * i] = h[55 + 4 * i] = h[56 + 4 * i] = static_cast<unsigned char>(i);
    }
    bytes_.put(h.data(), h.size(), 0);
    bytes_.check();
  }

  void write_rows(std::size_t, std::size_t y, std::size_t count, const double* values,
                  std::size_t channel_stride) override {
    const std::size_t channels = plan_.store.channels.size();
    std::vector<unsigned char> row(stored_row(), 0);
    for (std::size_t r = 0; r < count; ++r) {
      samples_from_values(values + r * plan_.width, channel_stride, plan_.width, plan_.store, row.data());
      if (channels == 3)  // BMP keeps blue, green, red
        for (std::size_t x = 0; x < plan_.width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
      const std::size_t stored_y = plan_.height - 1 - (y + r);
      bytes_.put(row.data(), row.size(), static_cast<off_t>(header_ + stored_y * stored_row()));
    }
    bytes_.check();
  }

  void commit() override {
    bytes_.check();
    file_.commit();
  }

 private:
  // Rows of 4-byte multiples.
  std::size_t stored_row() const { return (plan_.width * plan_.store.channels.size() + 3) / 4 * 4; }

  PagePlan plan_;
  AtomicFile file_;
  OutputBytes bytes_;
  std::size_t header_ = 0;
};

}  // namespace

std::unique_ptr<PictureWriter> create_bmp(const std::string& output, const PagePlan& plan, const PageInfo& input) {
  return std::make_unique<BmpWriter>(output, plan, input);
}

}  // namespace kelvane
