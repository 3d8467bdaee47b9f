#include "jobs/level_file.h"

#include "files/file_error.h"
#include "files/memory_budget.h"
#include "files/page_values.h"
#include "image/big_allocator.h"
#include "image/image.h"

namespace {

// One-channel images of the page's size that the operation holds besides the page itself:
// its summed-area tables, and the gray and corrected gray planes of the gray forms.
std::size_t planes_while_leveling(const Algorithm& algorithm) {
  const std::string keyword = algorithm.keyword;
  const std::size_t tables = keyword.rfind("mean", 0) == 0 ? 1 : keyword.rfind("range", 0) == 0 ? 3 : 2;
  return tables + (algorithm.takes_method ? 2 : 0);
}

long double page_bytes(const PageLayout& layout, const Algorithm& algorithm) {
  const long double pixels = static_cast<long double>(layout.width) * layout.height;
  // The values as doubles, the operation's planes, and a decoder that may hold the page in
  // its own samples (interlaced and progressive files).
  return pixels * (8.0L * (layout.channels + planes_while_leveling(algorithm)) +
                   layout.channels * sample_bytes(layout.sample));
}

}  // namespace

LevelingReport level_file(PictureReader& input, const std::string& output, const Leveling& leveling,
                          const EncodingChoices& choices) {
  const std::vector<PageInfo>& pages = input.pages();
  for (const PageInfo& page : pages)
    check_memory(input.path(), page.layout.width, page.layout.height, page_bytes(page.layout, *leveling.algorithm));
  const OutputFormat& format = output_format(output);
  const std::vector<PagePlan> plans = plan_output(format, output, pages);

  LevelingReport report;
  // Blocks kept for reuse between the channels of a page go back to the system at the end.
  struct ReleaseKeptBlocks {
    ~ReleaseKeptBlocks() { release_kept_blocks(); }
  } release;
  std::unique_ptr<PictureWriter> writer = create_picture(output, format, plans, pages, choices);
  for (std::size_t p = 0; p < pages.size(); ++p) {
    const PageLayout& layout = pages[p].layout;
    Image image = read_page_values(input, p);
    const std::size_t leveled = leveling.level_alpha ? layout.channels : layout.colour_channels();
    Picture picture = image.picture();
    picture.spectrum = leveled;
    if (levels_channel_by_channel(*leveling.algorithm, leveled)) report.channel_by_channel = true;
    if (leveling.windows == 1) leveling.algorithm->one_window(picture, leveling.window1, leveling.method);
    else leveling.algorithm->two_windows(picture, leveling.window1, leveling.window2, leveling.method);
    writer->write_rows(p, 0, layout.height, image.values.get(), layout.pixel_count());
  }
  writer->commit();
  return report;
}
