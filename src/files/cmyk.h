#pragma once
// CMYK pictures become RGB as they are shown: through their embedded ICC profile into sRGB
// where they have one, else by the plain formula viewers use without a profile,
// R = (1 - C)(1 - K), G = (1 - M)(1 - K), B = (1 - Y)(1 - K), rounded to the nearest code.
#include <cstddef>
#include <memory>
#include <string>

#include "image/page_layout.h"

namespace kelvane {

class CmykToRgb {
 public:
  // Samples are 8- or 16-bit; `extra` channels after K (alpha) are carried over unchanged.
  // Throws FileError (naming `path`) if the profile cannot be used.
  CmykToRgb(const std::string& path, const std::string& icc_profile, SampleType sample, std::size_t extra);
  ~CmykToRgb();
  CmykToRgb(const CmykToRgb&) = delete;
  CmykToRgb& operator=(const CmykToRgb&) = delete;

  // One row of `width` pixels of 4 + extra channels into 3 + extra channels. `in` and `out`
  // may not overlap.
  void convert(const void* in, void* out, std::size_t width) const;
  // Whether the embedded profile was used (it then no longer describes the colours).
  bool through_profile() const { return transform_ != nullptr; }

 private:
  SampleType sample_;
  std::size_t extra_;
  void* transform_ = nullptr;  // an lcms2 transform, or null for the formula
};

}  // namespace kelvane
