#include "files/vips_metadata.h"

#include <cstring>
#include <string>

#include "files/exif.h"

namespace kelvane {

namespace {

// libvips keeps an Exif block as a JPEG holds it, after the "Exif\0\0" of its segment.
const char exif_header[] = "Exif\0\0";
constexpr std::size_t exif_header_size = 6;

std::string blob(VipsImage* image, const char* name) {
  const void* data = nullptr;
  std::size_t size = 0;
  if (vips_image_get_typeof(image, name) == 0 || vips_image_get_blob(image, name, &data, &size) != 0) return "";
  return std::string(static_cast<const char*>(data), size);
}

std::string text(VipsImage* image, const char* name) {
  const char* value = nullptr;
  if (vips_image_get_typeof(image, name) == 0 || vips_image_get_string(image, name, &value) != 0 || !value) return "";
  return value;
}

void set_blob(VipsImage* image, const char* name, const std::string& bytes) {
  if (!bytes.empty()) vips_image_set_blob_copy(image, name, bytes.data(), bytes.size());
}

}  // namespace

Metadata metadata_of(VipsImage* image) {
  Metadata metadata;
  metadata.icc_profile = blob(image, VIPS_META_ICC_NAME);
  std::string exif = blob(image, VIPS_META_EXIF_NAME);
  if (exif.compare(0, exif_header_size, exif_header, exif_header_size) == 0) exif.erase(0, exif_header_size);
  // Read and written again: the thumbnail (IFD1) and the pixel dimensions were the input's.
  const ExifIfd ifd0 = parse_exif(exif);
  if (!ifd0.entries.empty() || !ifd0.children.empty()) metadata.exif = exif_block(without_tags(ifd0, {0xa002, 0xa003}));
  metadata.xmp = blob(image, VIPS_META_XMP_NAME);
  metadata.iptc = blob(image, VIPS_META_IPTC_NAME);
  int orientation = 1;
  if (vips_image_get_typeof(image, VIPS_META_ORIENTATION) && vips_image_get_int(image, VIPS_META_ORIENTATION, &orientation) == 0 &&
      orientation >= 1 && orientation <= 8)
    metadata.orientation = orientation;
  // libvips gives pixels per millimetre, and 1 where the file gives nothing.
  const std::string unit = text(image, VIPS_META_RESOLUTION_UNIT);
  if (unit == "in" || unit == "cm" || image->Xres != 1.0 || image->Yres != 1.0) {
    const double per_unit = unit == "in" ? 25.4 : 10.0;
    metadata.x_resolution = image->Xres * per_unit;
    metadata.y_resolution = image->Yres * per_unit;
    metadata.resolution_unit = unit == "in" ? ResolutionUnit::inch : ResolutionUnit::centimetre;
  }
  const std::string gif_comment = text(image, "gif-comment");
  if (!gif_comment.empty()) metadata.texts.emplace_back("Comment", gif_comment);
  return metadata;
}

void set_metadata(VipsImage* image, const Metadata& metadata) {
  set_blob(image, VIPS_META_ICC_NAME, metadata.icc_profile);
  if (!metadata.exif.empty()) set_blob(image, VIPS_META_EXIF_NAME, std::string(exif_header, exif_header_size) + metadata.exif);
  set_blob(image, VIPS_META_XMP_NAME, metadata.xmp);
  set_blob(image, VIPS_META_IPTC_NAME, metadata.iptc);
  vips_image_set_int(image, VIPS_META_ORIENTATION, metadata.orientation);
  if (metadata.x_resolution > 0 && metadata.y_resolution > 0) {
    const double per_unit = metadata.resolution_unit == ResolutionUnit::inch ? 25.4 : 10.0;
    image->Xres = metadata.x_resolution / per_unit;
    image->Yres = metadata.y_resolution / per_unit;
    vips_image_set_string(image, VIPS_META_RESOLUTION_UNIT, metadata.resolution_unit == ResolutionUnit::inch ? "in" : "cm");
  }
}

}  // namespace kelvane
