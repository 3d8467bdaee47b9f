// The public library: pictures in memory and picture files, over the row stream.
#include "kelvane/kelvane.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "files/file_error.h"
#include "files/memory_budget.h"
#include "files/picture_reader.h"
#include "gray/gray_methods.h"
#include "image/thread_pool.h"
#include "jobs/level_file.h"
#include "leveling/algorithms.h"
#include "stream/level_page.h"
#include "stream/memory_rows.h"

namespace kelvane {

struct File::Reader {
  std::unique_ptr<PictureReader> picture;
};

namespace {

SampleType sample_type(Sample sample) {
  switch (sample) {
    case Sample::u8: return SampleType::u8;
    case Sample::u16: return SampleType::u16;
    case Sample::f32: return SampleType::f32;
    case Sample::f64: return SampleType::f64;
  }
  return SampleType::u8;
}

std::string braced(const std::string& text) { return "{" + text + "}"; }

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// A window's share of the shorter side, from percent; negative percent: none.
WindowShare share_of(double percent) {
  if (percent < 0) return no_share;
  const WindowShare share = share_of_percent(percent);
  if (share == no_share)
    throw Error(Error::Kind::illegal_window, "Illegal window: " + braced(number_text(percent) + "%") + ". Try {5%}.");
  return share;
}

// The operation as the stream takes it; throws Error for an unknown keyword.
Leveling leveling_of(const Operation& operation) {
  Leveling leveling;
  leveling.algorithm = find_algorithm(operation.algorithm.c_str());
  if (!leveling.algorithm)
    throw Error(Error::Kind::illegal_function, "Illegal function: " + braced(operation.algorithm) + ". Try {mean}.");
  if (operation.windows != 1 && operation.windows != 2)
    throw Error(Error::Kind::illegal_window, "Function " + braced(operation.algorithm) + " takes one window or two.");
  if (leveling.algorithm->takes_method) {
    leveling.method = find_gray_method(operation.method.c_str());
    if (!leveling.method) throw Error(Error::Kind::illegal_method, "Illegal method: " + braced(operation.method) + ". Try {value}.");
  }
  leveling.windows = operation.windows;
  leveling.window1 = operation.window1;
  leveling.window2 = operation.window2;
  leveling.share1 = share_of(operation.window1_percent);
  leveling.share2 = share_of(operation.window2_percent);
  leveling.level_alpha = operation.level_alpha;
  if (!(operation.max_gain >= 1.0))
    throw Error(Error::Kind::illegal_gain, "Illegal maximum gain: " + braced(number_text(operation.max_gain)) +
                                               ". Try {4}: a gain of at least 1.");
  leveling.max_gain = operation.max_gain;
  return leveling;
}

// Pages of files whose samples take at most this are decoded once and walked in memory; larger
// ones stream in memory that grows with the width only.
constexpr long double held_file_page_bytes = 64.0L * (1 << 20);

StreamSettings settings_of(const Options& options) {
  StreamSettings settings;
  settings.threads = options.threads > 0 ? options.threads : default_threads();
  settings.memory_limit = options.memory_limit;
  settings.held_page_bytes = held_file_page_bytes;
  return settings;
}

// The layout of a picture in memory, as the stream reads it: integer samples stand for
// code / (2^b - 1), floating-point ones for themselves.
PageLayout layout_of(const PictureView& view) {
  const SampleType type = sample_type(view.sample);
  PageLayout layout = integer_layout(view.width, view.height, view.channels, type,
                                     static_cast<unsigned>(8 * sample_size(view.sample)));
  if (is_floating(type))
    for (auto& coding : layout.coding) coding.unit = 1.0;
  layout.alpha = view.alpha >= 0 && static_cast<std::size_t>(view.alpha) < view.channels ? view.alpha : -1;
  return layout;
}

// A picture in memory with floating-point samples must hold finite numbers, as files must.
void check_finite(const PictureView& view) {
  if (view.sample != Sample::f32 && view.sample != Sample::f64) return;
  std::size_t bad = 0;
  for (std::size_t y = 0; y < view.height; ++y)
    for (std::size_t x = 0; x < view.width; ++x)
      for (std::size_t c = 0; c < view.channels; ++c) {
        const unsigned char* p = static_cast<const unsigned char*>(view.data) + static_cast<std::ptrdiff_t>(y) * view.row_stride +
                                 static_cast<std::ptrdiff_t>(x) * view.pixel_stride +
                                 static_cast<std::ptrdiff_t>(c) * view.channel_stride;
        const double v = view.sample == Sample::f32 ? *reinterpret_cast<const float*>(p) : *reinterpret_cast<const double*>(p);
        bad += !std::isfinite(v);
      }
  if (bad > 0)
    throw Error(Error::Kind::picture, std::to_string(bad) + (bad == 1 ? " sample is" : " samples are") +
                                          " not a finite number (NaN or infinity); kelvane levels finite values only");
}

// Runs a call, turning the failures of the layers below into Error.
template <class Call>
Report reported(Call call) {
  try {
    return call();
  } catch (const FileError& e) {
    throw Error(Error::Kind::file, e.what());
  } catch (const std::bad_alloc&) {
    throw Error(Error::Kind::picture, "not enough memory to level the picture");
  }
}

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

std::size_t sample_size(Sample sample) { return kelvane::sample_bytes(sample_type(sample)); }

namespace {

// A view of the picture's sizes and samples, its strides left to the layout.
PictureView view_of(void* data, std::size_t width, std::size_t height, std::size_t channels, Sample sample) {
  PictureView view;
  view.data = data;
  view.width = width;
  view.height = height;
  view.channels = channels;
  view.sample = sample;
  return view;
}

}  // namespace

PictureView interleaved(void* data, std::size_t width, std::size_t height, std::size_t channels, Sample sample,
                        std::ptrdiff_t row_stride) {
  const std::ptrdiff_t size = static_cast<std::ptrdiff_t>(sample_size(sample));
  PictureView view = view_of(data, width, height, channels, sample);
  view.channel_stride = size;
  view.pixel_stride = size * static_cast<std::ptrdiff_t>(channels);
  view.row_stride = row_stride != 0 ? row_stride : view.pixel_stride * static_cast<std::ptrdiff_t>(width);
  return view;
}

PictureView planar(void* data, std::size_t width, std::size_t height, std::size_t channels, Sample sample) {
  const std::ptrdiff_t size = static_cast<std::ptrdiff_t>(sample_size(sample));
  PictureView view = view_of(data, width, height, channels, sample);
  view.pixel_stride = size;
  view.row_stride = size * static_cast<std::ptrdiff_t>(width);
  view.channel_stride = view.row_stride * static_cast<std::ptrdiff_t>(height);
  return view;
}

std::vector<std::string> algorithms() {
  std::vector<std::string> names;
  for (const Algorithm& a : kelvane::algorithm_table) names.push_back(a.keyword);
  return names;
}

std::vector<std::string> gray_methods() {
  std::vector<std::string> names;
  for (const GrayMethodEntry& m : kelvane::gray_method_table) names.push_back(m.keyword);
  return names;
}

void check(const Operation& operation) { leveling_of(operation); }

Report level(const PictureView& picture, const Operation& operation, const Options& options) {
  return level(picture, picture, operation, options);
}

Report level(const PictureView& in, const PictureView& out, const Operation& operation, const Options& options) {
  const Leveling leveling = leveling_of(operation);
  if (in.width != out.width || in.height != out.height || in.channels != out.channels)
    throw Error(Error::Kind::picture, "the output must have the input's size and channels");
  if (in.width == 0 || in.height == 0 || in.channels == 0) return Report();
  check_finite(in);
  return reported([&] {
    const PageLayout layout = layout_of(in);
    const StreamSettings settings = settings_of(options);
    const std::string shortfall =
        memory_shortfall(layout.width, layout.height, stream_bytes(leveling, layout, 1, settings), settings.memory_limit);
    if (!shortfall.empty()) throw Error(Error::Kind::picture, shortfall);
    MemorySource source(layout, MemoryPicture{in.data, in.row_stride, in.pixel_stride, in.channel_stride});
    MemorySink sink(layout_of(out), out.data, out.row_stride, out.pixel_stride, out.channel_stride);
    Report report;
    report.channel_by_channel = level_page(leveling, source, sink, settings).channel_by_channel;
    return report;
  });
}

bool is_picture_file(const std::string& path) { return looks_like_picture(path); }

File::File(const std::string& path, const Options& options) : reader_(new Reader) {
  try {
    reader_->picture = open_picture(path, options.memory_limit);
  } catch (const FileError& e) {
    throw Error(Error::Kind::file, e.what());
  }
}

File::~File() = default;
File::File(File&&) noexcept = default;
File& File::operator=(File&&) noexcept = default;

std::size_t File::pages() const { return reader_->picture->pages().size(); }
std::size_t File::width(std::size_t page) const { return reader_->picture->pages().at(page).layout.width; }
std::size_t File::height(std::size_t page) const { return reader_->picture->pages().at(page).layout.height; }
std::size_t File::channels(std::size_t page) const { return reader_->picture->pages().at(page).layout.channels; }

Report level_file(File& input, const std::string& output, const Operation& operation, const Options& options,
                  void (*progress)(double fraction, void* context), void* context) {
  const Leveling leveling = leveling_of(operation);
  return reported([&] {
    StreamSettings settings = settings_of(options);
    if (progress)
      settings.progress = [&](std::size_t done, std::size_t total) {
        progress(static_cast<double>(done) / static_cast<double>(total), context);
      };
    Report report;
    report.channel_by_channel =
        kelvane::level_file(*input.reader().picture, output, leveling, encoding_of(options), settings).channel_by_channel;
    return report;
  });
}

Report level_file(const std::string& input, const std::string& output, const Operation& operation,
                  const Options& options) {
  File file(input, options);
  return level_file(file, output, operation, options);
}

}  // namespace kelvane
