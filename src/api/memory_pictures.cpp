// Leveling pictures in memory: the caller's views checked, then streamed row by row.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "api/calls.h"
#include "files/memory_budget.h"
#include "stream/memory_rows.h"

namespace kelvane {

namespace {

bool known_sample(Sample sample) {
  return sample == Sample::u8 || sample == Sample::u16 || sample == Sample::f32 || sample == Sample::f64;
}

bool empty(const PictureView& view) { return view.width == 0 || view.height == 0 || view.channels == 0; }

// The sizes and strides of a view's three axes.
struct Axis {
  std::size_t count;
  std::ptrdiff_t stride;
};

std::vector<Axis> axes_of(const PictureView& view) {
  return {{view.height, view.row_stride}, {view.width, view.pixel_stride}, {view.channels, view.channel_stride}};
}

// The bytes a view's samples span, as [first, past) from its data pointer.
std::pair<long double, long double> extent_of(const PictureView& view) {
  long double first = 0, past = static_cast<long double>(sample_size(view.sample));
  for (const Axis& axis : axes_of(view)) {
    const long double reach = static_cast<long double>(axis.stride) * static_cast<long double>(axis.count - 1);
    (reach < 0 ? first : past) += reach;
  }
  return {first, past};
}

// Whether two samples of the view may share an address. Axes taken from the finest stride
// up, each must step over all that the finer ones span: exact for every layout of rows,
// pixels and channels that do not interleave, and cautious for the rest.
bool samples_may_collide(const PictureView& view) {
  std::vector<Axis> axes;
  for (const Axis& axis : axes_of(view))
    if (axis.count > 1) axes.push_back(axis);
  std::sort(axes.begin(), axes.end(),
            [](const Axis& a, const Axis& b) { return std::abs(a.stride) < std::abs(b.stride); });
  long double spanned = static_cast<long double>(sample_size(view.sample));
  for (const Axis& axis : axes) {
    const long double step = std::abs(static_cast<long double>(axis.stride));
    if (step < spanned) return true;
    spanned += step * static_cast<long double>(axis.count - 1);
  }
  return false;
}

void check_view(const PictureView& view, const char* which) {
  if (!known_sample(view.sample))
    throw Error(Error::Kind::illegal_view, std::string("the ") + which + " picture's sample type is none of u8, u16, f32, f64");
  if (view.alpha < -1 || (view.alpha >= 0 && static_cast<std::size_t>(view.alpha) >= view.channels))
    throw Error(Error::Kind::illegal_view, std::string("alpha is channel ") + std::to_string(view.alpha) + " of the " +
                                               which + " picture, which has " + std::to_string(view.channels) +
                                               " channels (0 to " + std::to_string(view.channels) + " - 1, or -1 for none)");
  if (!empty(view) && view.data == nullptr)
    throw Error(Error::Kind::illegal_view, std::string("the ") + which + " picture has " + std::to_string(view.width) +
                                               " x " + std::to_string(view.height) + " pixels but no data (a null pointer)");
}

bool same_view(const PictureView& a, const PictureView& b) {
  return a.data == b.data && a.sample == b.sample && a.row_stride == b.row_stride && a.pixel_stride == b.pixel_stride &&
         a.channel_stride == b.channel_stride;
}

// The output may be the input itself, or lie apart from it: written over in any other way,
// the input would be read after it changed.
void check_pair(const PictureView& in, const PictureView& out) {
  if (in.width != out.width || in.height != out.height || in.channels != out.channels)
    throw Error(Error::Kind::illegal_view, "the output must have the input's size and channels: " +
                                               std::to_string(in.width) + " x " + std::to_string(in.height) + " x " +
                                               std::to_string(in.channels) + " into " + std::to_string(out.width) +
                                               " x " + std::to_string(out.height) + " x " + std::to_string(out.channels));
  if (empty(out)) return;
  if (samples_may_collide(out))
    throw Error(Error::Kind::illegal_view, "the output's strides put two of its samples at one address");
  if (same_view(in, out)) return;
  const auto a = extent_of(in), b = extent_of(out);
  const long double in_start = static_cast<long double>(reinterpret_cast<std::uintptr_t>(in.data));
  const long double out_start = static_cast<long double>(reinterpret_cast<std::uintptr_t>(out.data));
  if (in_start + a.first < out_start + b.second && out_start + b.first < in_start + a.second)
    throw Error(Error::Kind::illegal_view,
                "the output overlaps the input without being it (the same data, strides and samples)");
}

// A picture in memory with floating-point samples must hold finite numbers, as files must;
// every sample is counted. Samples are copied out, as they need not be aligned.
void check_finite(const PictureView& view) {
  if (view.sample != Sample::f32 && view.sample != Sample::f64) return;
  std::size_t bad = 0;
  for (std::size_t y = 0; y < view.height; ++y)
    for (std::size_t x = 0; x < view.width; ++x)
      for (std::size_t c = 0; c < view.channels; ++c) {
        const unsigned char* p = static_cast<const unsigned char*>(view.data) +
                                 static_cast<std::ptrdiff_t>(y) * view.row_stride +
                                 static_cast<std::ptrdiff_t>(x) * view.pixel_stride +
                                 static_cast<std::ptrdiff_t>(c) * view.channel_stride;
        double v;
        if (view.sample == Sample::f32) {
          float f;
          std::memcpy(&f, p, sizeof f);
          v = f;
        } else {
          std::memcpy(&v, p, sizeof v);
        }
        bad += !std::isfinite(v);
      }
  if (bad > 0)
    throw Error(Error::Kind::picture, std::to_string(bad) + (bad == 1 ? " sample is" : " samples are") +
                                          " not a finite number (NaN or infinity); kelvane levels finite values only");
}

// The largest picture copied for a single walk, in bytes of its samples.
constexpr long double largest_copy_bytes = 256.0L * (1 << 20);

SampleType sample_type(Sample sample) {
  switch (sample) {
    case Sample::u8: return SampleType::u8;
    case Sample::u16: return SampleType::u16;
    case Sample::f32: return SampleType::f32;
    case Sample::f64: return SampleType::f64;
  }
  return SampleType::u8;
}

}  // namespace

PageLayout memory_layout(const PictureView& view, int alpha) {
  const SampleType type = sample_type(view.sample);
  PageLayout layout = integer_layout(view.width, view.height, view.channels, type,
                                     static_cast<unsigned>(8 * sample_size(view.sample)));
  if (is_floating(type))
    for (auto& coding : layout.coding) coding.unit = 1.0;
  layout.alpha = alpha;
  return layout;
}

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

Report level(const PictureView& picture, const Operation& operation, const Options& options) {
  return level(picture, picture, operation, options);
}

Report level(const PictureView& in, const PictureView& out, const Operation& operation, const Options& options) {
  const Leveling leveling = leveling_of(operation);
  check_view(in, "input");
  check_view(out, "output");
  check_pair(in, out);
  if (empty(in)) return Report();
  check_finite(in);
  return reported([&] {
    const PageLayout layout = memory_layout(in, in.alpha);
    StreamSettings settings = settings_of(options);
    const SampleType stored = memory_layout(out, in.alpha).sample;
    const bool single_walk = stored == SampleType::u8 || stored == SampleType::u16;
    // Leveled in place, rows are copied before they are written over.
    const MemorySource::Rows rows = same_view(in, out) ? MemorySource::Rows::overwritten : MemorySource::Rows::kept;
    MemorySource source(layout, MemoryPicture{in.data, in.row_stride, in.pixel_stride, in.channel_stride}, rows);
    // The single walk reads interleaved rows where they are. Others (in place, planar,
    // unaligned) are copied whole first where a single walk may follow and the copy fits: a
    // walk given up midway levels the page again from the copy, not from what it wrote over.
    // Large pictures are not copied: a caller who levels in place may have no room for two.
    std::ptrdiff_t stride = 0;
    const long double picture_bytes = static_cast<long double>(layout.row_bytes()) * layout.height;
    bool copied = single_walk && may_walk_once(leveling, layout.sample) && !leveling.algorithm->takes_method &&
                  !source.held_rows(stride) && picture_bytes <= largest_copy_bytes;
    const auto shortfall_of = [&] {
      const long double copy = copied ? picture_bytes : 0;
      return memory_shortfall(layout.width, layout.height,
                              copy + stream_bytes(leveling, layout, 1, settings, false, single_walk),
                              settings.memory_limit);
    };
    std::string shortfall = shortfall_of();
    // Strips hold the margins they hand over beside their rows: where those do not fit, the
    // walk goes over whole rows; where the copy does not fit either, the rows are not copied.
    if (!shortfall.empty() && single_walk) {
      settings.strip_columns = StreamSettings::whole_rows;
      shortfall = shortfall_of();
    }
    if (!shortfall.empty() && copied) {
      copied = false;
      shortfall = shortfall_of();
    }
    if (!shortfall.empty()) throw Error(Error::Kind::memory, shortfall);
    HeldSource copy(source);
    MemorySink sink(memory_layout(out, in.alpha), out.data, out.row_stride, out.pixel_stride, out.channel_stride);
    Report report;
    report.channel_by_channel =
        level_page(leveling, copied ? static_cast<RowSource&>(copy) : source, sink, settings).channel_by_channel;
    return report;
  });
}

}  // namespace kelvane
