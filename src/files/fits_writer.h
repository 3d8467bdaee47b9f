#pragma once
// FITS files written with cfitsio: one image of floating-point values as they are, gray as
// two axes and RGB as a cube of three planes, the top row of the picture last.
#include <memory>
#include <string>

#include "files/picture_writer.h"

namespace kelvane {

std::unique_ptr<PictureWriter> create_fits(const std::string& output, const PagePlan& plan);

}  // namespace kelvane
