#pragma once
// PBM, PGM, PPM (P1 to P6) and PFM, read here rather than by the image library: the library
// rescales samples whose maximum value is not 2^b - 1 (and text files with maximum 65535)
// in a way that loses codes, while every sample must load as exactly code / maxval.
#include <memory>
#include <string>

#include "files/picture_reader.h"

namespace kelvane {

// Reads the open descriptor `fd`, which the reader then owns. PBM black (1) loads as 0 and
// white (0) as 1.
std::unique_ptr<PictureReader> open_pnm(const std::string& path, int fd);

}  // namespace kelvane
