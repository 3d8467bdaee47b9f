#include "files/turned_reader.h"

#include <algorithm>
#include <cstring>

#include "files/metadata.h"

namespace kelvane {

namespace {

int orientation_of(const PageInfo& page) { return page.metadata ? page.metadata->orientation : 1; }

// Orientations 5 to 8 swap rows and columns.
bool transposed(int orientation) { return orientation >= 5 && orientation <= 8; }

class TurnedReader final : public PictureReader {
 public:
  explicit TurnedReader(PictureReader& input) : PictureReader(input.path(), input.format()), input_(input) {
    for (const PageInfo& in : input.pages()) {
      PageInfo page = in;
      const int orientation = orientation_of(in);
      if (transposed(orientation)) std::swap(page.layout.width, page.layout.height);
      if (in.metadata && orientation != 1) {
        auto metadata = std::make_shared<Metadata>(*in.metadata);
        metadata->orientation = 1;
        if (transposed(orientation)) std::swap(metadata->x_resolution, metadata->y_resolution);
        page.metadata = metadata;
      }
      // The whole page is held while it is turned.
      if (orientation != 1) page.decoder_bytes += static_cast<long double>(in.layout.row_bytes()) * in.layout.height;
      pages_.push_back(page);
    }
  }

  void read_rows(std::size_t page, std::size_t y, std::size_t count, void* rows) override {
    const PageInfo& in = input_.pages()[page];
    const int orientation = orientation_of(in);
    if (orientation == 1) return input_.read_rows(page, y, count, rows);
    if (held_page_ != page) hold(page);
    // Pixel (x', y') of the page as shown is the stored pixel (x, y):
    //   2: (W-1-x', y')   3: (W-1-x', H-1-y')   4: (x', H-1-y')   5: (y', x')
    //   6: (y', H-1-x')   7: (W-1-y', H-1-x')   8: (W-1-y', x')
    const std::size_t W = in.layout.width, H = in.layout.height, pixel = in.layout.row_bytes() / W;
    const std::size_t shown_width = pages_[page].layout.width;
    unsigned char* out = static_cast<unsigned char*>(rows);
    for (std::size_t r = 0; r < count; ++r) {
      const std::size_t yy = y + r;
      for (std::size_t xx = 0; xx < shown_width; ++xx, out += pixel) {
        std::size_t x = xx, y_stored = yy;
        switch (orientation) {
          case 2: x = W - 1 - xx; break;
          case 3: x = W - 1 - xx, y_stored = H - 1 - yy; break;
          case 4: y_stored = H - 1 - yy; break;
          case 5: x = yy, y_stored = xx; break;
          case 6: x = yy, y_stored = H - 1 - xx; break;
          case 7: x = W - 1 - yy, y_stored = H - 1 - xx; break;
          case 8: x = W - 1 - yy, y_stored = xx; break;
          default: break;
        }
        std::memcpy(out, held_.data() + (y_stored * W + x) * pixel, pixel);
      }
    }
  }

 private:
  void hold(std::size_t page) {
    const PageLayout& layout = input_.pages()[page].layout;
    held_.clear();
    held_.shrink_to_fit();
    held_.resize(layout.row_bytes() * layout.height);
    const std::size_t band = 64;
    for (std::size_t y = 0; y < layout.height; y += band)
      input_.read_rows(page, y, std::min(band, layout.height - y), held_.data() + y * layout.row_bytes());
    held_page_ = page;
  }

  PictureReader& input_;
  std::vector<unsigned char> held_;  // the stored samples of the page being turned
  std::size_t held_page_ = static_cast<std::size_t>(-1);
};

}  // namespace

bool shown_turned(const PictureReader& input) {
  for (const PageInfo& page : input.pages())
    if (orientation_of(page) != 1) return true;
  return false;
}

std::unique_ptr<PictureReader> turned(PictureReader& input) { return std::make_unique<TurnedReader>(input); }

}  // namespace kelvane
