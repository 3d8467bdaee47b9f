#pragma once
// Metadata between kelvane's form and the fields of a libvips image.
#include <vips/vips.h>

#include "files/metadata.h"

namespace kelvane {

// What a loaded image says about itself.
Metadata metadata_of(VipsImage* image);

// Sets the fields that libvips's savers write: colour profile, Exif (libvips brings its
// orientation and resolution up to date), XMP, IPTC, orientation and resolution.
void set_metadata(VipsImage* image, const Metadata& metadata);

}  // namespace kelvane
