// Shrinks a picture by a whole factor, averaging factor x factor blocks: for the gallery.
//
//   kelvane_thumbnail input output factor
#include <cstdio>
#include <cstdlib>

#include "main/image_file.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kelvane_thumbnail input output factor\n");
    return 2;
  }
  const std::size_t factor = std::strtoul(argv[3], nullptr, 10);
  try {
    const Image in = load_unit_image(argv[1]);
    if (factor == 0 || in.width < factor || in.height < factor) throw FileError("factor too large");
    Image out = make_image(in.width / factor, in.height / factor, 1, in.spectrum);
    out.unit = in.unit;
    out.bits = in.bits;
    for (std::size_t c = 0; c < in.spectrum; ++c)
      for (std::size_t y = 0; y < out.height; ++y)
        for (std::size_t x = 0; x < out.width; ++x) {
          double sum = 0;
          for (std::size_t j = 0; j < factor; ++j)
            for (std::size_t i = 0; i < factor; ++i)
              sum += in.values[x * factor + i + in.width * (y * factor + j + in.height * c)];
          out.values[x + out.width * (y + out.height * c)] = sum / double(factor * factor);
        }
    save_unit_image(out, argv[2]);
  } catch (const FileError& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return 0;
}
