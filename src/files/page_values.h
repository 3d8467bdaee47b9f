#pragma once
// Whole pages as planar values (colour channels first, alpha last), for the leveling of whole
// pages and for tools that work on whole pictures.
#include <string>

#include "files/picture_reader.h"
#include "image/image.h"

// Page `page` of the input. Throws FileError when the file is damaged, and for floating-point
// samples that are not finite numbers (NaN, infinity), with their count.
Image read_page_values(PictureReader& input, std::size_t page);

// Writes one page of values as a picture whose samples were described by `layout` (its size,
// channels, alpha, sample type and bits choose the output's samples as for any input).
void write_page_values(const std::string& path, const PageLayout& layout, const double* values);
