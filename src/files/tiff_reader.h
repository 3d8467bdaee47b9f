#pragma once
// TIFF files read with libtiff: every page with its own size, samples of 1 to 32 bits,
// signed, and 16-, 32- and 64-bit floating point; strips and tiles (a row of tiles held at a
// time), one plane or one per channel; min-is-white, palette, CMYK and JPEG's YCbCr as gray
// or RGB; classic and BigTIFF.
#include <memory>
#include <string>

#include "files/picture_reader.h"

namespace kelvane {

// Reads the open descriptor `fd`, which the reader then owns. Throws FileError.
std::unique_ptr<PictureReader> open_tiff(const std::string& path, int fd, unsigned long long memory_limit);

}  // namespace kelvane
