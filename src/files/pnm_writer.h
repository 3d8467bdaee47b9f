#pragma once
// PBM, PGM, PPM and PFM written here rather than by the image library, which stores PBM white
// as black and cannot write PFM.
#include <memory>
#include <string>

#include "files/output_format.h"
#include "files/picture_writer.h"

namespace kelvane {

// P4 for 1-bit plans (black where the 8-bit sample would be below 128), P5 or P6 for 8- and
// 16-bit ones, Pf or PF (little-endian, rows from the bottom up) for floating-point ones.
std::unique_ptr<PictureWriter> create_pnm(const std::string& output, const PagePlan& plan);

}  // namespace kelvane
