#pragma once
// TIFF files put together byte by byte, for layouts and tags that writers rarely produce:
// any bit depth, min-is-white, an orientation, the directory before the pixel data, pages of
// any size, and sizes that lie.
#include <cstdint>
#include <string>
#include <vector>

struct TiffPage {
  std::uint32_t width = 1, height = 1;
  std::uint16_t samples = 1, bits = 8;
  std::uint16_t photometric = 1;  // 0 min-is-white, 1 min-is-black, 2 RGB
  std::uint16_t sample_format = 1;  // 1 unsigned, 2 signed, 3 floating point
  std::uint16_t orientation = 1;
  std::vector<std::uint16_t> extra_samples;  // 0 unspecified, 1 associated, 2 unassociated alpha
  std::string data;  // the packed rows, one strip
};

// A little-endian classic TIFF of these pages; the directories come before the pixel data
// when `directories_first`, after it otherwise (as most writers do).
std::string tiff_bytes(const std::vector<TiffPage>& pages, bool directories_first = false);

// Rows of codes of `bits` bits packed from the most significant bit, each row to a whole byte
// (1 to 8 bits), or stored little-endian (16 and 32 bits).
std::string packed_codes(const std::vector<std::uint32_t>& codes, std::uint32_t per_row, unsigned bits);

// The values of a tag in the first directory of a little-endian classic TIFF (SHORT or LONG
// values), empty when the tag is absent.
std::vector<std::uint32_t> tiff_tag(const std::string& file, std::uint16_t tag);
