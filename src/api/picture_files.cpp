// Leveling picture files: a file opened to its headers, then every page streamed into an
// output that replaces an existing one only once it is complete.
#include <algorithm>
#include <string>
#include <vector>

#include "api/calls.h"
#include "files/atomic_file.h"
#include "files/picture_reader.h"
#include "image/samples.h"
#include "jobs/level_file.h"
#include "stream/memory_rows.h"

namespace kelvane {

struct File::Impl {
  std::string path;
  std::unique_ptr<PictureReader> picture;
};

namespace {

// Pages of files whose samples take at most this are decoded once and walked in memory; larger
// ones stream in memory that grows with the width only.
constexpr long double held_file_page_bytes = 64.0L * (1 << 20);

EncodingChoices encoding_of(const Options& options) {
  EncodingChoices choices;
  choices.jpeg_quality = options.jpeg_quality;
  choices.png_compression = options.png_compression;
  choices.tiff_compression = options.tiff_compression;
  choices.jpeg_subsampling = options.jpeg_subsampling;
  choices.webp = options.webp;
  return choices;
}

}  // namespace

bool is_picture_file(const std::string& path) { return looks_like_picture(path) || named_as_picture(path); }

File::File(const std::string& path, const Options& options) : impl_(new Impl{path, nullptr}) {
  impl_->picture = reported([&] { return open_picture(path, options.memory_limit); });
}

File::~File() = default;
File::File(File&&) noexcept = default;
File& File::operator=(File&&) noexcept = default;

const std::string& File::path() const { return impl_->path; }
std::size_t File::pages() const { return impl_->picture->pages().size(); }
std::size_t File::width(std::size_t page) const { return impl_->picture->pages().at(page).layout.width; }
std::size_t File::height(std::size_t page) const { return impl_->picture->pages().at(page).layout.height; }
std::size_t File::channels(std::size_t page) const { return impl_->picture->pages().at(page).layout.channels; }
bool File::has_alpha(std::size_t page) const { return impl_->picture->pages().at(page).layout.alpha >= 0; }

Sample File::sample(std::size_t page) const {
  const PageLayout& layout = impl_->picture->pages().at(page).layout;
  if (layout.sample == SampleType::f32 || layout.sample == SampleType::f16) return Sample::f32;
  if (is_floating(layout.sample) || layout.premultiplied) return Sample::f64;
  // Codes of 8 or 16 bits come back whole: code / (2^b - 1) * (2^b - 1) is the code again.
  for (const double unit : {255.0, 65535.0}) {
    bool all = true;
    for (const SampleCoding& coding : layout.coding)
      all = all && coding.unit == unit && coding.offset == 0.0 && coding.stretch == 0.0;
    if (all) return unit == 255.0 ? Sample::u8 : Sample::u16;
  }
  return Sample::f64;
}

void File::read(std::size_t page, const PictureView& into) {
  const PageLayout& layout = impl_->picture->pages().at(page).layout;
  if (into.width != layout.width || into.height != layout.height || into.channels != layout.channels)
    throw Error(Error::Kind::illegal_view, "the picture in memory must have the page's size and channels: " +
                                               std::to_string(layout.width) + " x " + std::to_string(layout.height) +
                                               " x " + std::to_string(layout.channels));
  if (layout.pixel_count() == 0 || layout.channels == 0) return;
  if (!into.data) throw Error(Error::Kind::illegal_view, "the picture in memory has no data (a null pointer)");
  reported([&] {
    // A band of rows at a time: the file's samples, their values, then the view's samples.
    const std::size_t band = std::max<std::size_t>(1, (std::size_t(1) << 20) / std::max<std::size_t>(1, layout.row_bytes()));
    std::vector<unsigned char> rows(layout.row_bytes() * std::min(band, layout.height));
    std::vector<double> values(layout.width * layout.channels);
    MemorySink sink(memory_layout(into, layout.alpha >= 0 ? static_cast<int>(layout.channels) - 1 : -1), into.data,
                    into.row_stride, into.pixel_stride, into.channel_stride);
    for (std::size_t y = 0; y < layout.height; y += band) {
      const std::size_t count = std::min(band, layout.height - y);
      impl_->picture->read_rows(page, y, count, rows.data());
      for (std::size_t r = 0; r < count; ++r) {
        values_from_samples(rows.data() + r * layout.row_bytes(), layout, values.data(), layout.width);
        sink.write_rows(y + r, 1, values.data(), layout.width);
      }
    }
  });
}

Report level_file(File& input, const std::string& output, const Operation& operation, const Options& options) {
  const Leveling leveling = leveling_of(operation);
  check_options(options);
  return reported([&] {
    StreamSettings settings = settings_of(options);
    settings.held_page_bytes = held_file_page_bytes;
    Report report;
    report.channel_by_channel =
        level_file(*input.impl_->picture, output, leveling, encoding_of(options), settings).channel_by_channel;
    return report;
  });
}

Report level_file(const std::string& input, const std::string& output, const Operation& operation,
                  const Options& options) {
  // A mistyped operation is told before the file is opened.
  leveling_of(operation);
  check_options(options);
  File file(input, options);
  return level_file(file, output, operation, options);
}

void forget_unfinished_outputs() { unlink_unfinished(); }

}  // namespace kelvane
