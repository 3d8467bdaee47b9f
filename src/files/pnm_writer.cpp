#include "files/pnm_writer.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "files/atomic_file.h"
#include "files/file_error.h"
#include "files/descriptor_io.h"
#include "image/samples.h"

namespace kelvane {

namespace {

class PnmWriter final : public PictureWriter {
 public:
  PnmWriter(const std::string& output, const PagePlan& plan)
      : plan_(plan), file_(output), bytes_(file_.fd(), output) {
    const std::size_t channels = plan.store.channels.size();
    const std::string size = std::to_string(plan.width) + " " + std::to_string(plan.height) + "\n";
    if (plan.bits == 1) header_ = "P4\n" + size;
    else if (plan.store.sample == SampleType::f32) header_ = (channels == 3 ? "PF\n" : "Pf\n") + size + "-1.0\n";
    else header_ = (channels == 3 ? "P6\n" : "P5\n") + size + (plan.bits == 16 ? "65535\n" : "255\n");
    put(header_.data(), header_.size(), 0);
  }

  void write_rows(std::size_t, std::size_t y, std::size_t count, const double* values,
                  std::size_t channel_stride) override {
    const std::size_t row_bytes = stored_row_bytes();
    std::vector<unsigned char> row(std::max(row_bytes, plan_.width * plan_.store.channels.size() * 2));
    for (std::size_t r = 0; r < count; ++r) {
      const double* v = values + r * plan_.width;
      if (plan_.bits == 1) {
        std::fill(row.begin(), row.end(), 0);
        for (std::size_t x = 0; x < plan_.width; ++x)
          if (static_cast<unsigned char>(saved_sample(v[x], 255.0)) < 128) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
      } else {
        samples_from_values(v, channel_stride, plan_.width, plan_.store, row.data());
        if (plan_.bits == 16)  // PNM's 16-bit samples are big-endian
          for (std::size_t i = 0; i + 1 < row_bytes; i += 2) std::swap(row[i], row[i + 1]);
      }
      // PFM stores the bottom row first.
      const std::size_t stored_y = plan_.store.sample == SampleType::f32 ? plan_.height - 1 - (y + r) : y + r;
      put(row.data(), row_bytes, header_.size() + stored_y * row_bytes);
    }
  }

  void commit() override { file_.commit(); }

 private:
  std::size_t stored_row_bytes() const {
    if (plan_.bits == 1) return (plan_.width + 7) / 8;
    return plan_.width * plan_.store.channels.size() * sample_bytes(plan_.store.sample);
  }

  void put(const void* bytes, std::size_t size, std::size_t offset) {
    bytes_.put(bytes, size, static_cast<off_t>(offset));
    bytes_.check();
  }

  PagePlan plan_;
  AtomicFile file_;
  OutputBytes bytes_;
  std::string header_;
};

}  // namespace

std::unique_ptr<PictureWriter> create_pnm(const std::string& output, const PagePlan& plan) {
  return std::make_unique<PnmWriter>(output, plan);
}

}  // namespace kelvane
