#pragma once
// Leveling one picture file into another: each page is streamed from the input, leveled and
// written in turn, into an output that replaces an existing file only once it is complete.
#include <string>

#include "files/picture_reader.h"
#include "files/picture_writer.h"
#include "leveling/algorithms.h"
#include "stream/level_page.h"

namespace kelvane {

// Checks the memory every page's stream needs, plans the output, then levels every page of
// the input into it. A picture shown turned (its orientation tag) is turned first where the
// output's format holds no such tag. Throws FileError; a failure leaves an existing output
// untouched.
LevelingReport level_file(PictureReader& input, const std::string& output, const Leveling& leveling,
                          const EncodingChoices& choices, const StreamSettings& settings);

}  // namespace kelvane
