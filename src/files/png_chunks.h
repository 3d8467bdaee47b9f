#pragma once
// What kelvane reads of PNG and JPEG files itself, before their decoder: the structure of
// the file (a damaged PNG never reaches its decoder, which would complain on the console),
// and what the decoder does not hand over, or hands over without its encoding.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

struct PngFacts {
  bool interlaced = false;  // its decoder then holds the whole picture
  // tEXt (Latin-1), zTXt and iTXt (UTF-8) chunks, all as UTF-8, XMP excepted.
  std::vector<std::pair<std::string, std::string>> texts;
  // The gAMA, cHRM and sRGB chunks as they are (length, type, data and checksum).
  std::string colour_chunks;
  // pHYs: pixels per unit, the unit 1 for metres or 0 for an aspect ratio only.
  bool physical = false;
  std::uint32_t x_per_unit = 0, y_per_unit = 0;
  int unit = 0;
};

// Walks the chunks of a PNG file, checking that each is whole and passes its checksum, from
// the header chunk to the end chunk, and gathers its facts. Throws FileError.
PngFacts check_png_chunks(int fd, const std::string& path);

// A PNG chunk: length, type, data and checksum.
std::string png_chunk(const std::string& type, const std::string& data);

// A text as a PNG chunk: tEXt where every character is Latin-1, iTXt (UTF-8) otherwise.
std::string png_text_chunk(const std::string& key, const std::string& utf8);

struct JpegFacts {
  bool progressive = false;           // its decoder then holds all of the picture's data
  std::vector<std::string> comments;  // COM segments, as UTF-8 (Latin-1 if not valid UTF-8)
};

// The markers of a JPEG file up to its first scan.
JpegFacts jpeg_facts(int fd);

// A JPEG comment segment (COM) holding the text.
std::string jpeg_comment_segment(const std::string& text);

}  // namespace kelvane
