#pragma once
// A picture turned the way its orientation tag says it is shown, for outputs that cannot
// carry the tag: its pages are read whole (their size counts in the memory check) and their
// rows handed over turned, the orientation then being 1.
#include <memory>
#include <vector>

#include "files/picture_reader.h"

namespace kelvane {

// Whether any page is shown turned or mirrored.
bool shown_turned(const PictureReader& input);

// The input's pages as they are shown; the input must outlive the result.
std::unique_ptr<PictureReader> turned(PictureReader& input);

}  // namespace kelvane
