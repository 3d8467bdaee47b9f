#pragma once
// OpenEXR files written with the format's own library, row by row: every page a part,
// channels R, G, B (or Y) and A, colours multiplied by alpha as the format has them; half
// floats where the input had them, full floats otherwise; an OpenEXR input's data and display
// windows and lossless compression kept, zip compression otherwise.
#include <memory>
#include <string>
#include <vector>

#include "files/picture_writer.h"

namespace kelvane {

std::unique_ptr<PictureWriter> create_exr(const std::string& output, const std::vector<PagePlan>& plans,
                                          const std::vector<PageInfo>& input);

}  // namespace kelvane
