#pragma once
// OpenEXR files written with the format's own library, row by row: every page a part,
// channels R, G, B (or Y) and A, zip-compressed floats.
#include <memory>
#include <string>
#include <vector>

#include "files/picture_writer.h"

namespace kelvane {

std::unique_ptr<PictureWriter> create_exr(const std::string& output, const std::vector<PagePlan>& plans);

}  // namespace kelvane
