#pragma once
// TIFF files written with libtiff, row by row: every page with its own size, channels and
// sample type; alpha marked as alpha (associated where the input's was) and other extra
// channels as unspecified; the compression of a
// TIFF input kept where it loses nothing; metadata as TIFF tags.
#include <memory>
#include <string>
#include <vector>

#include "files/picture_writer.h"

namespace kelvane {

std::unique_ptr<PictureWriter> create_tiff(const std::string& output, const std::vector<PagePlan>& plans,
                                           const std::vector<PageInfo>& input, const EncodingChoices& choices);

}  // namespace kelvane
