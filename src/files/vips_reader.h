#pragma once
// Pictures read through libvips: PNG, JPEG, WebP, HEIF and AVIF, JPEG 2000, GIF, Radiance HDR,
// and BMP through its ImageMagick module. Rows are decoded in order as they are asked for;
// a page read again from the top is opened again.
#include <memory>
#include <string>

#include "files/picture_reader.h"

namespace kelvane {

// Which of libvips's loaders, and how the format is named in messages.
struct VipsLoader {
  const char* operation;  // "pngload_source"; a loader without "_source" reads the file by name
  const char* format;     // "PNG"
  bool pages;             // the loader numbers pages (GIF, WebP, HEIF and ImageMagick's formats)
};

// Reads the open descriptor `fd`, which the reader then owns. Throws FileError.
std::unique_ptr<PictureReader> open_with_vips(const std::string& path, int fd, const VipsLoader& loader,
                                              unsigned long long memory_limit);

}  // namespace kelvane
