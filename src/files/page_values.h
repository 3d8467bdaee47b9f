#pragma once
// Whole pages as planar values (colour channels first, alpha last), for tools and tests that
// work on whole pictures.
#include <string>
#include <vector>

#include "files/picture_reader.h"
#include "files/picture_writer.h"

namespace kelvane {

// Page `page` of the input: value channel c of pixel (x, y) at c * width * height + y * width + x.
std::vector<double> read_page_values(PictureReader& input, std::size_t page);

// Writes one page of values as a picture whose samples were described by `layout` (its size,
// channels, alpha, sample type and bits choose the output's samples as for any input).
void write_page_values(const std::string& path, const PageLayout& layout, const double* values,
                       const EncodingChoices& choices = EncodingChoices());

}  // namespace kelvane
