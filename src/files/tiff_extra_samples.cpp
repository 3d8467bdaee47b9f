#include "files/tiff_extra_samples.h"

#include <tiffio.h>

#include <cstdarg>
#include <unistd.h>

#include <vector>

namespace kelvane {

namespace {

// libtiff's messages would reach the console: they are taken here, for this file only (its
// handlers for all files are the process's, the image library's to set), and failures are
// told by the results.
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct QuietOptions {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  QuietOptions() {
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
  }
  ~QuietOptions() { TIFFOpenOptionsFree(options); }
};

}  // namespace

bool tag_extra_samples(const std::string& name) {
  QuietOptions quiet_options;
  TIFF* tiff = TIFFOpenExt(name.c_str(), "r+", quiet_options.options);
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
  return updated;
}

std::size_t tiff_pages(int fd) {
  QuietOptions quiet_options;
  const int copy = ::dup(fd);
  TIFF* tiff = copy >= 0 ? TIFFFdOpenExt(copy, "pages", "rm", quiet_options.options) : nullptr;
  std::size_t pages = 0;
  if (tiff) {
    pages = TIFFNumberOfDirectories(tiff);
    TIFFClose(tiff);  // closes the copy
  } else if (copy >= 0) {
    ::close(copy);
  }
  return pages;
}

}  // namespace kelvane
