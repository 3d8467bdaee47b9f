#include "jobs/level_file.h"

#include <cmath>

#include "files/file_error.h"
#include "files/memory_budget.h"
#include "files/turned_reader.h"
#include "stream/memory_rows.h"
#include "image/samples.h"

namespace kelvane {

namespace {

// A page of the input as a source of rows. Floating-point samples must be finite numbers:
// on the first that is not, the rest of the page is counted and the file refused.
class PageSource final : public RowSource {
 public:
  PageSource(PictureReader& input, std::size_t page) : input_(input), page_(page), info_(input.pages()[page]) {}
  // On a reader of its own.
  PageSource(std::unique_ptr<PictureReader> owned, std::size_t page)
      : owned_(std::move(owned)), input_(*owned_), page_(page), info_(input_.pages()[page]) {}
  const PageLayout& layout() const override { return info_.layout; }
  std::size_t chunk_rows() const override { return info_.chunk_rows; }
  void read_rows(std::size_t y, std::size_t count, void* rows) override {
    input_.read_rows(page_, y, count, rows);
    if (!is_floating(info_.layout.sample)) return;
    std::size_t bad = not_finite(rows, count);
    if (bad == 0) return;
    std::vector<unsigned char> rest(info_.layout.row_bytes());
    for (std::size_t r = y + count; r < info_.layout.height; ++r) {
      input_.read_rows(page_, r, 1, rest.data());
      bad += not_finite(rest.data(), 1);
    }
    throw read_error(input_.path(), std::to_string(bad) + (bad == 1 ? " sample is" : " samples are") +
                                        " not a finite number (NaN or infinity); kelvane levels finite values only");
  }
  std::unique_ptr<RowSource> another() override {
    std::unique_ptr<PictureReader> reader = input_.another();
    if (!reader || reader->pages().size() <= page_) return nullptr;
    return std::make_unique<PageSource>(std::move(reader), page_);
  }

 private:
  std::size_t not_finite(const void* rows, std::size_t count) const {
    return count_not_finite(rows, info_.layout.sample, count * info_.layout.width * info_.layout.channels);
  }

  std::unique_ptr<PictureReader> owned_;
  PictureReader& input_;
  std::size_t page_;
  const PageInfo& info_;
};

class PageSink final : public RowSink {
 public:
  PageSink(PictureWriter& output, std::size_t page) : output_(output), page_(page) {}
  void write_rows(std::size_t y, std::size_t count, const double* values, std::size_t channel_stride) override {
    output_.write_rows(page_, y, count, values, channel_stride);
  }

 private:
  PictureWriter& output_;
  std::size_t page_;
};

// Whether a page's samples are decoded once and held.
bool held(const PageLayout& layout, const StreamSettings& settings) {
  return static_cast<long double>(layout.row_bytes()) * layout.height <= settings.held_page_bytes;
}

}  // namespace

LevelingReport level_file(PictureReader& file, const std::string& output, const Leveling& leveling,
                          const EncodingChoices& choices, const StreamSettings& settings) {
  const OutputFormat& format = output_format(output);
  // A picture shown turned is turned where the output cannot say how to show it.
  std::unique_ptr<PictureReader> shown;
  if (!format.orientation && shown_turned(file)) shown = turned(file);
  PictureReader& input = shown ? *shown : file;
  const std::vector<PageInfo>& pages = input.pages();
  const auto check = [&](bool whole_output) {
    for (const PageInfo& page : pages) {
      const PageLayout& layout = page.layout;
      const long double output_bytes = whole_output ? static_cast<long double>(layout.pixel_count()) * layout.channels * 8 : 0;
      // A page whose samples are held is walked in memory. Streamed, a window too tall to keep
      // its rows reads them again, each reader with its decoder.
      const bool again = !held(layout, settings) && input.has_another();
      const long double stream = stream_bytes(leveling, layout, page.chunk_rows, settings, again);
      const long double leveling_bytes =
          held(layout, settings) ? static_cast<long double>(layout.row_bytes()) * layout.height + stream : stream;
      const long double decoders = page.decoder_bytes * (again ? stream_readers(leveling, layout, settings) : 1);
      check_memory(input.path(), layout.width, layout.height, leveling_bytes + decoders + output_bytes,
                   settings.memory_limit);
    }
  };
  check(false);
  const std::vector<PagePlan> plans = plan_output(format, output, pages);
  // The image library's own formats are written whole, as doubles.
  if (holds_whole_pages(format)) check(true);

  LevelingReport report;
  std::unique_ptr<PictureWriter> writer = create_picture(output, format, plans, pages, choices);
  // Progress over the file: pages count by their pixels.
  long double pixels = 0, before = 0;
  for (const PageInfo& page : pages) pixels += static_cast<long double>(page.layout.pixel_count());
  for (std::size_t p = 0; p < pages.size(); ++p) {
    PageSource file_rows(input, p);
    // A page whose samples fit is decoded once and walked in memory.
    HeldSource held_rows(file_rows);
    RowSource& source = held(pages[p].layout, settings) ? static_cast<RowSource&>(held_rows) : file_rows;
    PageSink sink(*writer, p);
    StreamSettings page_settings = settings;
    const long double share = static_cast<long double>(pages[p].layout.pixel_count()) / pixels;
    if (settings.progress)
      page_settings.progress = [&](std::size_t done, std::size_t total) {
        settings.progress(static_cast<std::size_t>((before + share * done / total) * 1e6), 1000000);
      };
    if (level_page(leveling, source, sink, page_settings).channel_by_channel) report.channel_by_channel = true;
    before += share;
  }
  writer->commit();
  return report;
}

}  // namespace kelvane
