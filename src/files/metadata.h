#pragma once
// What a page says about itself beyond its pixels (colour profile, Exif with the orientation,
// resolution, comments), carried from the input to the output where the output's format
// holds it.
#include <OpenImageIO/imageio.h>

namespace kelvane {

struct Metadata {
  OIIO::ParamValueList attributes;
};

// The attributes of a page worth keeping, from everything the image library read. The colour
// profile is left out when the decoder turned the file's colours into another model (CMYK
// into RGB, say): it would describe colours the output no longer holds.
Metadata kept_metadata(const OIIO::ImageSpec& image_info, bool colours_converted);

}  // namespace kelvane
