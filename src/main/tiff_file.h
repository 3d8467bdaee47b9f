#pragma once
// TIFF written with libtiff directly: every slice a page, 8- or 16-bit unsigned samples,
// uncompressed, and every write checked (a full disk is an error, not a short file).
#include <string>

#include "image/image.h"

// Writes the image to the file at path, which the caller has created; throws FileError
// naming `output` when libtiff cannot write it.
void write_tiff(const Image& image, unsigned bits, const std::string& path, const std::string& output);
