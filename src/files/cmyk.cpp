#include "files/cmyk.h"

#include <lcms2.h>

#include <cstdint>
#include <vector>

#include "files/file_error.h"

namespace kelvane {

namespace {

// (unit - a)(unit - b) / unit, rounded half up, in integers.
template <class T>
T product(std::uint64_t a, std::uint64_t b, std::uint64_t unit) {
  return static_cast<T>(((unit - a) * (unit - b) + unit / 2) / unit);
}

template <class T>
void formula(const T* in, T* out, std::size_t width, std::size_t extra, std::uint64_t unit) {
  const std::size_t n_in = 4 + extra, n_out = 3 + extra;
  for (std::size_t x = 0; x < width; ++x, in += n_in, out += n_out) {
    for (int c = 0; c < 3; ++c) out[c] = product<T>(in[c], in[3], unit);
    for (std::size_t e = 0; e < extra; ++e) out[3 + e] = in[4 + e];
  }
}

template <class T>
void carry_extra(const T* in, T* out, std::size_t width, std::size_t extra) {
  for (std::size_t x = 0; x < width; ++x)
    for (std::size_t e = 0; e < extra; ++e) out[x * (3 + extra) + 3 + e] = in[x * (4 + extra) + 4 + e];
}

}  // namespace

CmykToRgb::CmykToRgb(const std::string& path, const std::string& icc_profile, SampleType sample, std::size_t extra)
    : sample_(sample), extra_(extra) {
  if (sample != SampleType::u8 && sample != SampleType::u16)
    throw read_error(path, std::string("CMYK pictures of ") + sample_name(sample) + " samples are not supported");
  if (icc_profile.empty()) return;
  cmsHPROFILE source = cmsOpenProfileFromMem(icc_profile.data(), static_cast<cmsUInt32Number>(icc_profile.size()));
  if (!source) return;  // a damaged profile: the formula, as a viewer would fall back to
  if (cmsGetColorSpace(source) != cmsSigCmykData) {
    cmsCloseProfile(source);
    return;
  }
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  const bool deep = sample == SampleType::u16;
  // Extra channels are skipped by the transform and carried over separately.
  const cmsUInt32Number in_format = (deep ? TYPE_CMYK_16 : TYPE_CMYK_8) | EXTRA_SH(extra);
  const cmsUInt32Number out_format = (deep ? TYPE_RGB_16 : TYPE_RGB_8) | EXTRA_SH(extra);
  transform_ = cmsCreateTransform(source, in_format, srgb, out_format, INTENT_PERCEPTUAL, 0);
  cmsCloseProfile(source);
  cmsCloseProfile(srgb);
}

CmykToRgb::~CmykToRgb() {
  if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void CmykToRgb::convert(const void* in, void* out, std::size_t width) const {
  const bool deep = sample_ == SampleType::u16;
  if (transform_) {
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), in, out, static_cast<cmsUInt32Number>(width));
    if (deep) carry_extra(static_cast<const std::uint16_t*>(in), static_cast<std::uint16_t*>(out), width, extra_);
    else carry_extra(static_cast<const std::uint8_t*>(in), static_cast<std::uint8_t*>(out), width, extra_);
  } else if (deep) {
    formula(static_cast<const std::uint16_t*>(in), static_cast<std::uint16_t*>(out), width, extra_, 65535);
  } else {
    formula(static_cast<const std::uint8_t*>(in), static_cast<std::uint8_t*>(out), width, extra_, 255);
  }
}

}  // namespace kelvane
