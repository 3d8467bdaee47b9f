#pragma once
// FITS files read with cfitsio, the format's own library: every image of the file a page (a
// cube of up to four planes is one page of that many channels), rows from the top of the
// picture as shown, which is the last row of the data.
//
// Values: 8-bit and unsigned 16- and 32-bit data (BZERO 32768 and 2147483648) load as
// code / (2^b - 1); signed data as code / (2^(b-1) - 1); floating-point data, and integers
// scaled by any other BSCALE and BZERO, as the physical values they stand for.
#include <memory>
#include <string>

#include "files/picture_reader.h"

namespace kelvane {

// Reads the open descriptor `fd`, which the reader then owns. Throws FileError.
std::unique_ptr<PictureReader> open_fits(const std::string& path, int fd);

}  // namespace kelvane
