#pragma once
// The tool's leveling of a picture in memory: the row stream over a literal::Img.
#include "leveling/algorithms.h"
#include "reference/literal.h"
#include "stream/level_page.h"

// How the page is walked: keeping a window's height of table rows where they fit, or with
// cursors trailing the windows (as for windows too tall to keep); from a ring of rows read
// from the source, from rows the source holds in memory, or with every window's rows read
// again by readers of their own (as for windows too tall to keep their rows). Held rows are
// written into memory a piece of a row at a time, the others in whole rows as into a file.
enum class Walk { kept_rows, trailing_cursors, held_rows, read_again };

// Levels a copy of the picture (values as they are, planar doubles) with the operation. With
// `sample` u8 or u16 the picture goes in as the codes of its values (each value must be
// code / 255 or code / 65535), as from a file.
std::vector<double> level_stream(const literal::Img& input, const kelvane::Algorithm& algorithm, int windows,
                                 std::uint32_t w1, std::uint32_t w2, kelvane::GrayMethod method, unsigned threads = 2,
                                 kelvane::LevelingReport* report = nullptr,
                                 kelvane::SampleType sample = kelvane::SampleType::f64, Walk walk = Walk::kept_rows);

// The same for a leveling of every setting (a gain cap, windows as shares).
std::vector<double> level_stream(const literal::Img& input, const kelvane::Leveling& leveling, unsigned threads = 2);
