#pragma once
// OpenEXR files read with the format's own library: every part a page, scanlines or tiles,
// half, float and unsigned-integer channels, the picture being the part's data window.
#include <memory>
#include <string>

#include "files/picture_reader.h"

namespace kelvane {

// Reads the open descriptor `fd`, which the reader then owns. Throws FileError.
std::unique_ptr<PictureReader> open_exr(const std::string& path, int fd, unsigned long long memory_limit);

}  // namespace kelvane
