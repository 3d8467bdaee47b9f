// Shrinks a picture by a whole factor, averaging factor x factor blocks: for the gallery.
//
//   kelvane_thumbnail input output factor
#include <cstdio>
#include <cstdlib>

#include "files/file_error.h"
#include "files/page_values.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kelvane_thumbnail input output factor\n");
    return 2;
  }
  const std::size_t factor = std::strtoul(argv[3], nullptr, 10);
  try {
    std::unique_ptr<PictureReader> input = open_picture(argv[1]);
    PageLayout layout = input->pages()[0].layout;
    const Image in = read_page_values(*input, 0);
    if (factor == 0 || in.width < factor || in.height < factor) throw FileError("factor too large");
    Image out = make_image(in.width / factor, in.height / factor, 1, in.spectrum);
    for (std::size_t c = 0; c < in.spectrum; ++c)
      for (std::size_t y = 0; y < out.height; ++y)
        for (std::size_t x = 0; x < out.width; ++x) {
          double sum = 0;
          for (std::size_t j = 0; j < factor; ++j)
            for (std::size_t i = 0; i < factor; ++i)
              sum += in.values[x * factor + i + in.width * (y * factor + j + in.height * c)];
          out.values[x + out.width * (y + out.height * c)] = sum / double(factor * factor);
        }
    layout.width = out.width;
    layout.height = out.height;
    write_page_values(argv[2], layout, out.values.get());
  } catch (const FileError& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return 0;
}
