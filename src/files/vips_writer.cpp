#include "files/vips_writer.h"

#include <vips/vips.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "files/atomic_file.h"
#include "files/descriptor_io.h"
#include "files/file_error.h"
#include "files/inserting_output.h"
#include "files/metadata.h"
#include "files/png_chunks.h"
#include "files/vips_metadata.h"
#include "files/vips_runtime.h"
#include "image/samples.h"

namespace kelvane {

namespace {

VipsBandFormat band_format(SampleType type) {
  switch (type) {
    case SampleType::u16: return VIPS_FORMAT_USHORT;
    case SampleType::f32: return VIPS_FORMAT_FLOAT;
    case SampleType::f64: return VIPS_FORMAT_DOUBLE;
    default: return VIPS_FORMAT_UCHAR;
  }
}

// The colour model that makes the savers write the samples as they are, without converting.
VipsInterpretation interpretation_of(const PagePlan& plan) {
  const std::size_t colours = plan.store.channels.size() - (plan.alpha >= 0 ? 1 : 0);
  const bool deep = plan.store.sample == SampleType::u16;
  if (is_floating(plan.store.sample)) return colours == 3 ? VIPS_INTERPRETATION_scRGB : VIPS_INTERPRETATION_B_W;
  if (colours == 1) return deep ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W;
  if (colours == 3) return deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB;
  return VIPS_INTERPRETATION_MULTIBAND;
}

class VipsWriter final : public PictureWriter {
 public:
  VipsWriter(const std::string& output, const OutputFormat& format, const PagePlan& plan, const PageInfo& input,
             const EncodingChoices& choices)
      : path_(output), format_(format), plan_(plan), choices_(choices),
        metadata_(input.metadata ? *input.metadata : Metadata()), encoding_(input.encoding), file_(output),
        row_bytes_(plan.width * plan.store.channels.size() * sample_bytes(plan.store.sample)),
        capacity_(std::max<std::size_t>(64, (std::size_t(4) << 20) / std::max<std::size_t>(1, row_bytes_))) {
    start_vips();
  }

  ~VipsWriter() override {
    // Unfinished: the saver is told that no more rows come, fails, and is waited for.
    {
      std::lock_guard<std::mutex> hold(lock_);
      abandoned_ = true;
    }
    changed_.notify_all();
    if (saver_.joinable()) saver_.join();
  }

  void write_rows(std::size_t, std::size_t y, std::size_t count, const double* values,
                  std::size_t channel_stride) override {
    if (!saver_.joinable()) saver_ = std::thread([this] { save(); });
    std::vector<std::vector<unsigned char>> rows(count, std::vector<unsigned char>(row_bytes_));
    for (std::size_t r = 0; r < count; ++r)
      samples_from_values(values + r * plan_.width, channel_stride, plan_.width, plan_.store, rows[r].data());
    std::unique_lock<std::mutex> hold(lock_);
    // Rows wait here only while the saver has enough and asks for nothing.
    changed_.wait(hold, [&] { return failed_ || waiting_ > 0 || pushed_ - first_ < capacity_; });
    if (failed_) throw failure();
    for (std::size_t r = 0; r < count; ++r) {
      rows_.push_back(std::move(rows[r]));
      taken_.push_back(0);
    }
    pushed_ = y + count;
    changed_.notify_all();
  }

  void commit() override {
    if (!saver_.joinable()) saver_ = std::thread([this] { save(); });
    saver_.join();
    if (failed_) throw failure();
    file_.commit();
  }

 private:
  // On the saver's thread: an image whose pixels are the pushed rows, saved to the file.
  void save() {
    VipsImage* image = vips_image_new();
    vips_image_init_fields(image, static_cast<int>(plan_.width), static_cast<int>(plan_.height),
                           static_cast<int>(plan_.store.channels.size()), band_format(plan_.store.sample),
                           VIPS_CODING_NONE, interpretation_of(plan_), 1.0, 1.0);
    set_metadata(image, metadata_);
    vips_image_pipelinev(image, VIPS_DEMAND_STYLE_THINSTRIP, nullptr);
    int result = vips_image_generate(image, nullptr, generate, nullptr, this, nullptr);
    VipsTargetCustom* target = vips_target_custom_new();
    g_signal_connect(target, "write", G_CALLBACK(write_bytes), this);
    if (result == 0) result = run_saver(image, VIPS_TARGET(target));
    if (result == 0 && vips_target_end(VIPS_TARGET(target)) != 0) result = -1;
    output_.finish();
    g_object_unref(target);
    g_object_unref(image);
    if (result != 0) {
      const bool memory = for_want_of_memory(take_vips_error());
      std::lock_guard<std::mutex> hold(lock_);
      failed_ = true;
      short_of_memory_ = memory;
    }
    changed_.notify_all();
  }

  int run_saver(VipsImage* image, VipsTarget* target) {
    switch (format_.encoder) {
      case Encoder::png:
        // The sub filter alone: on photographs within a few percent of trying every filter
        // on every row, in two thirds of the time.
        return vips_pngsave_target(image, target, "compression", choices_.png_compression, "filter",
                                   VIPS_FOREIGN_PNG_FILTER_SUB, nullptr);
      case Encoder::jpeg: {
        // A JPEG input's chroma subsampling is kept (the encoder subsamples as 4:2:0 or not at
        // all); otherwise the encoder's choice: none at quality 90 and above.
        const std::string& s = !choices_.jpeg_subsampling.empty() ? choices_.jpeg_subsampling : encoding_;
        const VipsForeignSubsample mode = s == "4:4:4"                                 ? VIPS_FOREIGN_SUBSAMPLE_OFF
                                          : s.size() == 5 && s.compare(0, 2, "4:") == 0 ? VIPS_FOREIGN_SUBSAMPLE_ON
                                                                                        : VIPS_FOREIGN_SUBSAMPLE_AUTO;
        return vips_jpegsave_target(image, target, "Q", choices_.jpeg_quality, "subsample_mode", mode, nullptr);
      }
      case Encoder::webp: {
        const std::string& kind = !choices_.webp.empty() ? choices_.webp : encoding_;
        // (Lossless but for the colours under full transparency, which the encoder drops.)
        if (kind == "lossless") return vips_webpsave_target(image, target, "lossless", TRUE, nullptr);
        return vips_webpsave_target(image, target, "Q", choices_.jpeg_quality, nullptr);
      }
      case Encoder::heif: return vips_heifsave_target(image, target, "Q", choices_.jpeg_quality, nullptr);
      case Encoder::jpeg2000: return vips_jp2ksave_target(image, target, "lossless", TRUE, nullptr);
      case Encoder::radiance: return vips_radsave_target(image, target, nullptr);
      default: return -1;
    }
  }

  // What the encoder does not write itself: a PNG's texts, with their encoding, and its
  // colour-space chunks; a JPEG's comments (from a comment, or else a description).
  static std::string inserted(const OutputFormat& format, const Metadata& m) {
    std::string bytes;
    if (format.encoder == Encoder::png) {
      for (const auto& text : m.texts) bytes += png_text_chunk(text.first, text.second);
      bytes += m.png_colour_chunks;
    }
    if (format.encoder == Encoder::jpeg) {
      for (const auto& text : m.texts)
        if (text.first == "Comment") bytes += jpeg_comment_segment(text.second);
      if (bytes.empty())
        if (const std::string* description = m.text("Description")) bytes = jpeg_comment_segment(*description);
    }
    return bytes;
  }

  static InsertingOutput::Format inserting_format(const OutputFormat& format) {
    return format.encoder == Encoder::png    ? InsertingOutput::Format::png
           : format.encoder == Encoder::jpeg ? InsertingOutput::Format::jpeg
                                             : InsertingOutput::Format::other;
  }

  // The saver asks for rows [top, top + height): they are waited for, copied and let go.
  static int generate(VipsRegion* region, void*, void* a, void*, gboolean*) {
    VipsWriter& w = *static_cast<VipsWriter*>(a);
    const VipsRect& r = region->valid;
    const std::size_t top = static_cast<std::size_t>(r.top), bottom = top + static_cast<std::size_t>(r.height);
    const std::size_t pixel = w.row_bytes_ / w.plan_.width;
    std::unique_lock<std::mutex> hold(w.lock_);
    ++w.waiting_;
    w.changed_.notify_all();
    w.changed_.wait(hold, [&] { return w.abandoned_ || w.pushed_ >= bottom; });
    --w.waiting_;
    if (w.abandoned_ || top < w.first_) {
      vips_error("kelvane", "no rows");
      return -1;
    }
    for (std::size_t y = top; y < bottom; ++y) {
      const std::size_t i = y - w.first_;
      std::memcpy(VIPS_REGION_ADDR(region, r.left, static_cast<int>(y)), w.rows_[i].data() + pixel * r.left,
                  pixel * static_cast<std::size_t>(r.width));
      w.taken_[i] += static_cast<std::size_t>(r.width);
    }
    while (!w.rows_.empty() && w.taken_.front() >= w.plan_.width) {
      w.rows_.pop_front();
      w.taken_.pop_front();
      ++w.first_;
    }
    w.changed_.notify_all();
    return 0;
  }

  static gint64 write_bytes(VipsTargetCustom*, const void* bytes, gint64 size, void* a) {
    VipsWriter& w = *static_cast<VipsWriter*>(a);
    w.output_.write(bytes, static_cast<std::size_t>(size));
    return w.output_.bytes().error() ? -1 : size;
  }

  FileError failure() const {
    if (output_.bytes().error()) return write_error(path_, output_.bytes().error());
    if (short_of_memory_) return FileError("cannot write " + path_ + ": not enough memory to encode it", path_, ENOMEM);
    return write_error(path_, std::string("the ") + format_.name + " encoder failed");
  }

  std::string path_;
  const OutputFormat& format_;
  PagePlan plan_;
  EncodingChoices choices_;
  Metadata metadata_;
  std::string encoding_;  // the input's, for an output of its format
  AtomicFile file_;
  InsertingOutput output_{file_.fd(), path_, inserting_format(format_), inserted(format_, metadata_)};
  std::size_t row_bytes_;
  std::size_t capacity_;  // rows held before the pushing side waits

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::vector<unsigned char>> rows_;  // rows [first_, pushed_)
  std::deque<std::size_t> taken_;                // columns of each the saver has taken
  std::size_t first_ = 0, pushed_ = 0;
  int waiting_ = 0;  // requests of the saver waiting for rows
  bool failed_ = false, abandoned_ = false, short_of_memory_ = false;
  std::thread saver_;
};

}  // namespace

std::unique_ptr<PictureWriter> create_with_vips(const std::string& output, const OutputFormat& format,
                                                const PagePlan& plan, const PageInfo& input,
                                                const EncodingChoices& choices) {
  return std::make_unique<VipsWriter>(output, format, plan, input, choices);
}

}  // namespace kelvane
