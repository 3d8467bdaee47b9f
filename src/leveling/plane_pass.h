#pragma once
// One plane being leveled: read from `in`, written to `out`. The plain algorithms level each
// channel in place (in == out): every pixel is rewritten from its own value and from tables
// built beforehand, so no second buffer is needed. The gray algorithms read the gray image and
// write the corrected gray image.
#include <cstddef>
#include <functional>
#include <vector>

#include "gray/gray_methods.h"
#include "image/parallel.h"
#include "image/picture.h"

struct PlanePass {
  const double* in;
  double* out;
  std::size_t width;
  std::size_t height;
};

using PlaneLeveler = std::function<void(const PlanePass&)>;

// Calls row(y, in_row, out_row, scratch) for every row, rows spread over the threads;
// scratch holds `buffers` rows of doubles of the calling thread's own, for the local
// statistics of one row.
template <class Row>
void for_each_row(const PlanePass& pass, std::size_t buffers, Row row) {
  parallel_ranges(pass.height, [&](std::size_t begin, std::size_t end) {
    std::vector<double> scratch(buffers * pass.width);
    for (std::size_t y = begin; y < end; ++y)
      row(y, pass.in + pass.width * y, pass.out + pass.width * y, scratch.data());
  });
}

// Levels every channel of every slice of the picture in place, one after the other.
Picture& level_each_channel(Picture& image, const PlaneLeveler& level);

// For every slice: reduces it to gray with the method, levels the gray plane into a
// corrected gray plane, and rescales every channel by corrected / gray.
Picture& level_through_gray(Picture& image, GrayMethod method, const PlaneLeveler& level);

// The gray algorithms need red, green and blue. A picture with them (exactly three channels
// when `exactly_three`, at least three otherwise) is leveled through its gray; any other is
// leveled channel by channel with the same plane leveler, as by the plain algorithm (the
// front end says so: see levels_channel_by_channel).
Picture& level_gray_or_channels(Picture& image, GrayMethod method, bool exactly_three,
                                const PlaneLeveler& level);
