// Leveling picture files: a file opened to its headers, then every page streamed into an
// output that replaces an existing one only once it is complete.
#include <string>

#include "api/calls.h"
#include "files/atomic_file.h"
#include "files/picture_reader.h"
#include "jobs/level_file.h"

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
