// Shrinks a picture by a whole factor, averaging factor x factor blocks: for the gallery.
//
//   kelvane_thumbnail input output factor
#include <cstdio>
#include <cstdlib>

#include "files/file_error.h"
#include "files/page_values.h"

using namespace kelvane;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kelvane_thumbnail input output factor\n");
    return 2;
  }
  const std::size_t factor = std::strtoul(argv[3], nullptr, 10);
  try {
    std::unique_ptr<PictureReader> input = open_picture(argv[1]);
    PageLayout layout = input->pages()[0].layout;
    const std::vector<double> in = read_page_values(*input, 0);
    if (factor == 0 || layout.width < factor || layout.height < factor) throw FileError("factor too large");
    const std::size_t w = layout.width / factor, h = layout.height / factor;
    std::vector<double> out(w * h * layout.channels);
    for (std::size_t c = 0; c < layout.channels; ++c)
      for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
          double sum = 0;
          for (std::size_t j = 0; j < factor; ++j)
            for (std::size_t i = 0; i < factor; ++i)
              sum += in[x * factor + i + layout.width * (y * factor + j + layout.height * c)];
          out[x + w * (y + h * c)] = sum / double(factor * factor);
        }
    layout.width = w;
    layout.height = h;
    // The gallery's files live in the repository: compressed harder than kelvane's outputs.
    EncodingChoices choices;
    choices.png_compression = 9;
    write_page_values(argv[2], layout, out.data(), choices);
  } catch (const FileError& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return 0;
}
