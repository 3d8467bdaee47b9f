#pragma once
// Pictures read through the image I/O library (OpenImageIO): PNG, JPEG, TIFF, BMP, PFM, FITS,
// OpenEXR, Radiance HDR, WebP, HEIF, JPEG 2000.
#include <memory>
#include <string>

#include "files/picture_reader.h"

namespace kelvane {

// Reads the open descriptor `fd` (which the reader then owns) with the library's plug-in of
// that name; `format` names the format in messages.
std::unique_ptr<PictureReader> open_with_image_library(const std::string& path, int fd, const char* plugin,
                                                       const char* format, unsigned long long memory_limit);

}  // namespace kelvane
