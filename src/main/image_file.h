#pragma once
// Reading and writing picture files; the format follows the file name's extension.
#include <stdexcept>
#include <string>

#include "image/image.h"

// A file that could not be read or written; the message says which and why.
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Loads the file and divides every value by 255.
Image load_unit_image(const std::string& path);

// Throws FileError unless an image of this depth can be written to the path's format.
void check_output_format(const std::string& path, std::size_t depth);

// Writes the image multiplied by 255 and clamped to [0, 255] (NaN written as 0). The file is
// written beside the output under a temporary name and renamed over it once complete, so an
// existing file at the path is replaced whole or not at all.
void save_unit_image(const Image& image, const std::string& path);
