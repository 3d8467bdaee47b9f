#pragma once
// Reducing a colour picture to gray, and carrying a corrected gray back onto its channels,
// a row at a time.
#include <cstddef>

#include "gray/gray_methods.h"

namespace kelvane {

// gray[x] = method(red[x], green[x], blue[x]).
void gray_row(const double* red, const double* green, const double* blue, std::size_t width, GrayMethod method,
              double* gray);

// Every value v becomes (v / G) * K where the gray G passes the guard, else K, with K the
// corrected gray: the ratios between a pixel's channels are kept where the gray allows it.
// `values` is neither `gray` nor `corrected` (it is written before they are all read).
void reproject_row(double* values, const double* gray, const double* corrected, std::size_t width);

}  // namespace kelvane
