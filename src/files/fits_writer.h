#pragma once
// FITS files written with cfitsio: one image, gray as two axes and RGB as a cube of three
// planes, the top row of the picture last. Integer inputs keep their type (unsigned 16- and
// 32-bit data with the usual BZERO), floating-point values are written as they are.
#include <memory>
#include <string>

#include "files/picture_writer.h"

namespace kelvane {

std::unique_ptr<PictureWriter> create_fits(const std::string& output, const PagePlan& plan);

}  // namespace kelvane
