#include "files/metadata.h"

#include <cstring>

namespace kelvane {

namespace {

// Facts about the picture, not about how its file was encoded: those are chosen anew for the
// output (sample type, compression, alpha, colour model).
const char* const kept_names[] = {
    "ICCProfile", "Orientation", "XResolution", "YResolution", "ResolutionUnit", "PixelAspectRatio",
    "ImageDescription", "Comment", "Artist", "Copyright", "DocumentName", "DateTime", "Keywords",
    "Make", "Model", "HostComputer", "XMP",
};
const char* const kept_prefixes[] = {"Exif:", "GPS:", "IPTC:", "photoshop:", "xmp"};

bool kept(const std::string& name) {
  for (const char* n : kept_names)
    if (name == n) return true;
  for (const char* p : kept_prefixes)
    if (name.compare(0, std::strlen(p), p) == 0) return true;
  return false;
}

}  // namespace

Metadata kept_metadata(const OIIO::ImageSpec& image_info, bool colours_converted) {
  Metadata metadata;
  for (const auto& attribute : image_info.extra_attribs) {
    const std::string name = attribute.name().string();
    if (!kept(name) || (colours_converted && name == "ICCProfile")) continue;
    metadata.attributes.push_back(attribute);
  }
  return metadata;
}

}  // namespace kelvane
