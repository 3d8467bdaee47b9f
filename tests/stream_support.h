#pragma once
// The tool's leveling of a picture in memory: the row stream over a literal::Img.
#include "leveling/algorithms.h"
#include "reference/literal.h"
#include "stream/level_page.h"

// Levels a copy of the picture (values as they are, planar doubles) with the operation.
std::vector<double> level_stream(const literal::Img& input, const Algorithm& algorithm, int windows, std::uint32_t w1,
                                 std::uint32_t w2, GrayMethod method, unsigned threads = 2,
                                 LevelingReport* report = nullptr);
