#include "files/tiff_extra_samples.h"

#include <tiffio.h>
#include <unistd.h>

#include <vector>

namespace kelvane {

bool tag_extra_samples(const std::string& name) {
  // libtiff's own messages would reach the console; failures are reported by the result.
  const TIFFErrorHandler errors = TIFFSetErrorHandler(nullptr), warnings = TIFFSetWarningHandler(nullptr);
  TIFF* tiff = TIFFOpen(name.c_str(), "r+");
  bool updated = tiff != nullptr;
  for (tdir_t page = 0; updated && TIFFSetDirectory(tiff, page); ++page) {
    uint16_t samples = 1, photometric = PHOTOMETRIC_MINISBLACK, count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    const uint16_t colours = photometric == PHOTOMETRIC_RGB ? 3 : 1;
    if (samples <= colours || TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &extra)) continue;
    const std::vector<uint16_t> unspecified(samples - colours, EXTRASAMPLE_UNSPECIFIED);
    updated = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(unspecified.size()), unspecified.data()) &&
              TIFFRewriteDirectory(tiff);
  }
  if (tiff) TIFFClose(tiff);
  TIFFSetErrorHandler(errors);
  TIFFSetWarningHandler(warnings);
  return updated;
}

std::size_t tiff_pages(int fd) {
  const TIFFErrorHandler errors = TIFFSetErrorHandler(nullptr), warnings = TIFFSetWarningHandler(nullptr);
  const int copy = ::dup(fd);
  TIFF* tiff = copy >= 0 ? TIFFFdOpen(copy, "pages", "rm") : nullptr;
  std::size_t pages = 0;
  if (tiff) {
    pages = TIFFNumberOfDirectories(tiff);
    TIFFClose(tiff);  // closes the copy
  } else if (copy >= 0) {
    ::close(copy);
  }
  TIFFSetErrorHandler(errors);
  TIFFSetWarningHandler(warnings);
  return pages;
}

}  // namespace kelvane
