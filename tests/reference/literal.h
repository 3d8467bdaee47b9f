#pragma once
// A literal, single-threaded reading of the leveling formulas, kept only for the tests: every
// table filled column by column, every temporary image built in full, every element-wise step
// a separate pass, exactly in the order the formulas are written. The tool's own code must
// give the same bits.
#include <cstdint>
#include <string>
#include <vector>

#include "gray/gray_methods.h"

namespace literal {

using kelvane::GrayMethod;

struct Img {
  unsigned w = 0, h = 0, s = 0;
  std::vector<double> v;  // x + w * (y + h * c)
  Img() = default;
  Img(unsigned w_, unsigned h_, unsigned s_, double fill = 0.0) : w(w_), h(h_), s(s_), v(std::size_t(w_) * h_ * s_, fill) {}
  double& at(unsigned x, unsigned y, unsigned c = 0) { return v[x + std::size_t(w) * (y + std::size_t(h) * c)]; }
  double at(unsigned x, unsigned y, unsigned c = 0) const { return v[x + std::size_t(w) * (y + std::size_t(h) * c)]; }
};

Img& integral_image(const Img& src, Img& table, int c);
Img& box_mean(const Img& table, Img& mean, std::uint32_t r);
Img& box_mean_std(const Img& values, const Img& squares, Img& mean, Img& std, std::uint32_t r);

Img& level_mean(Img& im, std::uint32_t window);
Img& level_mean2(Img& im, std::uint32_t window1, std::uint32_t window2);
Img& level_mean_fn(Img& im, std::uint32_t window, GrayMethod method);
Img& level_mean_fn2(Img& im, std::uint32_t window1, std::uint32_t window2, GrayMethod method);
Img& level_std(Img& im, std::uint32_t window);
Img& level_std2(Img& im, std::uint32_t window1, std::uint32_t window2);
Img& level_std_fn(Img& im, std::uint32_t window, GrayMethod method);
Img& level_std_fn2(Img& im, std::uint32_t window1, std::uint32_t window2, GrayMethod method);
Img& level_minmax(Img& im, std::uint32_t window, double p);
Img& level_minmax2(Img& im, std::uint32_t window1, std::uint32_t window2, double p);
Img& level_minmax_fn(Img& im, std::uint32_t window, GrayMethod method, double p);
Img& level_minmax_fn2(Img& im, std::uint32_t window1, std::uint32_t window2, GrayMethod method, double p);
Img& level_range(Img& im, std::uint32_t window, double p);
Img& level_range2(Img& im, std::uint32_t window1, std::uint32_t window2, double p);
Img& level_range_fn(Img& im, std::uint32_t window, GrayMethod method, double p);
Img& level_range_fn2(Img& im, std::uint32_t window1, std::uint32_t window2, GrayMethod method, double p);

// The operation of a keyword (mean, mean_fn, ..., range_fn) with one or two windows.
Img& level(const std::string& keyword, int windows, Img& im, std::uint32_t window1, std::uint32_t window2,
           GrayMethod method);

// The same with the stretch factor of std, minmax and range capped at `gain`.
Img& level_capped(const std::string& keyword, int windows, Img& im, std::uint32_t window1, std::uint32_t window2,
                  GrayMethod method, double gain);

}  // namespace literal
