#pragma once
// What a page says about itself beyond its pixels, in one form whatever the file format: each
// reader fills what its format holds, each writer writes what its format can hold.
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

enum class ResolutionUnit { none, inch, centimetre };

struct Metadata {
  std::string icc_profile;  // an ICC profile, as embedded
  std::string exif;         // an Exif block: a TIFF byte-order mark, IFD0 and its sub-IFDs
  std::string xmp;          // an XMP packet (UTF-8)
  std::string iptc;         // IPTC-IIM records
  int orientation = 1;      // 1 to 8, as Exif and TIFF number them
  // Pixels per unit; 0 where the file gives none. Without a unit they give only the aspect.
  double x_resolution = 0, y_resolution = 0;
  ResolutionUnit resolution_unit = ResolutionUnit::none;
  // An OpenEXR page's place: its data window (the picture) within the display window, as
  // corners x0, y0, x1, y1 inclusive. Kept only while the picture keeps its size.
  bool has_windows = false;
  int data_window[4] = {0, 0, 0, 0};
  int display_window[4] = {0, 0, 0, 0};
  // A PNG's colour-space chunks (gAMA, cHRM, sRGB) as they were, for a PNG output.
  std::string png_colour_chunks;
  // Texts by name, UTF-8: "Comment" (a JPEG or GIF comment), "Description" (a TIFF image
  // description), and a PNG's text keys as they are.
  std::vector<std::pair<std::string, std::string>> texts;

  // The first text of that name, or null.
  const std::string* text(const std::string& name) const {
    for (const auto& t : texts)
      if (t.first == name) return &t.second;
    return nullptr;
  }
};

}  // namespace kelvane
