#pragma once
// BMP files written here, row by row: 8-bit gray with a gray palette, or 24-bit RGB. A
// library would hold the whole picture for a format this plain.
#include <memory>
#include <string>

#include "files/picture_writer.h"

namespace kelvane {

std::unique_ptr<PictureWriter> create_bmp(const std::string& output, const PagePlan& plan, const PageInfo& input);

}  // namespace kelvane
