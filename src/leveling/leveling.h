#pragma once
// The sixteen leveling operations: eight algorithms, each with one window (the reference is
// the whole channel) and two windows (the reference is a second window around the same pixel).
// Each changes the picture in place and returns it. Windows enter only as half windows
// r = window >> 1; the power exponent p of the soft statistics is 10.0 from the command line.
#include <cstdint>

#include "gray/gray_methods.h"
#include "image/picture.h"

// Local mean moved onto the global mean (or the second window's mean).
Picture& level_mean(Picture& image, std::uint32_t window);
Picture& level_mean2(Picture& image, std::uint32_t window1, std::uint32_t window2);
Picture& level_mean_fn(Picture& image, std::uint32_t window, GrayMethod method);
Picture& level_mean_fn2(Picture& image, std::uint32_t window1, std::uint32_t window2,
                        GrayMethod method);

// Local mean and standard deviation moved onto the global (or second window's) ones.
Picture& level_std(Picture& image, std::uint32_t window);
Picture& level_std2(Picture& image, std::uint32_t window1, std::uint32_t window2);
Picture& level_std_fn(Picture& image, std::uint32_t window, GrayMethod method);
Picture& level_std_fn2(Picture& image, std::uint32_t window1, std::uint32_t window2,
                       GrayMethod method);

// Local soft minimum and soft range stretched onto the global (or second window's) ones.
Picture& level_minmax(Picture& image, std::uint32_t window, double p);
Picture& level_minmax2(Picture& image, std::uint32_t window1, std::uint32_t window2, double p);
Picture& level_minmax_fn(Picture& image, std::uint32_t window, GrayMethod method, double p);
Picture& level_minmax_fn2(Picture& image, std::uint32_t window1, std::uint32_t window2,
                          GrayMethod method, double p);

// Local mean and soft range moved onto the global (or second window's) ones.
Picture& level_range(Picture& image, std::uint32_t window, double p);
Picture& level_range2(Picture& image, std::uint32_t window1, std::uint32_t window2, double p);
Picture& level_range_fn(Picture& image, std::uint32_t window, GrayMethod method, double p);
Picture& level_range_fn2(Picture& image, std::uint32_t window1, std::uint32_t window2,
                         GrayMethod method, double p);
