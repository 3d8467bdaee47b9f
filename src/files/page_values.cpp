#include "files/page_values.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "files/file_error.h"
#include "files/picture_writer.h"
#include "image/samples.h"

namespace kelvane {

std::vector<double> read_page_values(PictureReader& input, std::size_t page) {
  const PageLayout& layout = input.pages()[page].layout;
  std::vector<double> image(layout.pixel_count() * layout.channels);
  const std::size_t plane = layout.pixel_count();
  const std::size_t band = std::max<std::size_t>(1, (std::size_t(1) << 20) / std::max<std::size_t>(1, layout.row_bytes()));
  std::vector<unsigned char> rows(layout.row_bytes() * std::min(band, layout.height));
  for (std::size_t y = 0; y < layout.height; y += band) {
    const std::size_t count = std::min(band, layout.height - y);
    input.read_rows(page, y, count, rows.data());
    for (std::size_t r = 0; r < count; ++r)
      values_from_samples(rows.data() + r * layout.row_bytes(), layout, image.data() + (y + r) * layout.width,
                          plane);
  }
  if (is_floating(layout.sample)) {
    std::size_t not_finite = 0;
    for (double v : image) not_finite += !std::isfinite(v);
    if (not_finite > 0)
      throw read_error(input.path(), std::to_string(not_finite) + (not_finite == 1 ? " sample is" : " samples are") +
                                         " not a finite number (NaN or infinity); kelvane levels finite values only");
  }
  return image;
}

void write_page_values(const std::string& path, const PageLayout& layout, const double* values,
                       const EncodingChoices& choices) {
  const std::vector<PageInfo> pages = {PageInfo{layout, nullptr, ""}};
  const OutputFormat& format = output_format(path);
  const std::vector<PagePlan> plans = plan_output(format, path, pages);
  std::unique_ptr<PictureWriter> writer = create_picture(path, format, plans, pages, choices);
  writer->write_rows(0, 0, layout.height, values, layout.pixel_count());
  writer->commit();
}

}  // namespace kelvane
