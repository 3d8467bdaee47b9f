#pragma once
// Picture files for the tests: written with each format's own library as other programs
// would write them (libvips for PNG, JPEG and the like, libtiff, OpenEXR, cfitsio), read back
// the way kelvane reads them, and described the way libvips reads them.
#include <string>
#include <vector>

#include "files/metadata.h"
#include "image/page_layout.h"

// Bytes of a fixed seed: samples of noise, or the contents of a damaged file.
std::vector<unsigned char> random_bytes(std::size_t n, unsigned seed);

struct LoadedPage {
  kelvane::PageLayout layout;
  std::vector<double> values;  // planar: colour channels first, alpha last
};

// Every page of a file, as kelvane loads it.
std::vector<LoadedPage> load_pages(const std::string& path);

// A page to write: interleaved samples of the given type, alpha (if any) last.
struct TestPage {
  unsigned width = 1, height = 1, channels = 1;
  kelvane::SampleType sample = kelvane::SampleType::u8;
  std::vector<unsigned char> samples;
  bool alpha = false;
  kelvane::Metadata metadata;
};

TestPage test_page(unsigned width, unsigned height, unsigned channels, const std::vector<unsigned char>& samples,
                   kelvane::SampleType sample = kelvane::SampleType::u8);

// Writes the pages in the format of the path's extension (several pages: TIFF and OpenEXR).
// `big` asks for a BigTIFF. Fails the test if the library refuses.
void write_picture(const std::string& path, const std::vector<TestPage>& pages, bool big = false);

// Samples of a type as bytes.
template <class T>
std::vector<unsigned char> as_bytes(const std::vector<T>& samples) {
  const auto* p = reinterpret_cast<const unsigned char*>(samples.data());
  return std::vector<unsigned char>(p, p + samples.size() * sizeof(T));
}

// What libvips reads of a page of a file.
struct Facts {
  bool read = false;
  int width = 0, height = 0, bands = 0;
  kelvane::SampleType sample = kelvane::SampleType::u8;
  bool alpha = false;
  bool cmyk = false;
  int orientation = 0;
  double dots_per_inch = 0;  // from the resolution, whatever its unit
  std::string icc_profile;
  std::string description;  // a TIFF's description or a PNG's text "Description"
};
Facts facts_of(const std::string& path, int page = 0);

// The samples of a file's first page as stored, converted to 8 bits by libvips.
std::vector<unsigned char> samples_of(const std::string& path);
