#pragma once
// Picture files for the tests: written with the image library as other programs would write
// them, and read back the way kelvane reads them.
#include <OpenImageIO/imageio.h>

#include <string>
#include <vector>

#include "image/page_layout.h"

struct LoadedPage {
  kelvane::PageLayout layout;
  std::vector<double> values;  // planar: colour channels first, alpha last
};

// Every page of a file, as kelvane loads it.
std::vector<LoadedPage> load_pages(const std::string& path);

// Writes pages with the image library: image_info and samples (interleaved, of the image_info's format)
// for each. Fails the test if the library refuses.
void write_with_library(const std::string& path, const std::vector<OIIO::ImageSpec>& specs,
                        const std::vector<std::vector<unsigned char>>& samples);

// Samples of a type as bytes, for write_with_library.
template <class T>
std::vector<unsigned char> as_bytes(const std::vector<T>& samples) {
  const auto* p = reinterpret_cast<const unsigned char*>(samples.data());
  return std::vector<unsigned char>(p, p + samples.size() * sizeof(T));
}

// The image_info of the first page of a file, as the image library reads it.
OIIO::ImageSpec library_image_info(const std::string& path, int page = 0);
