#pragma once
// Exif, which is a small TIFF structure: IFD0 of the picture, pointing to the Exif IFD (with
// its interoperability IFD) and the GPS IFD; IFD1, a thumbnail of the old pixels, is dropped.
// Blocks are read from JPEG, PNG and WebP files (as the decoder hands them over) and from the
// Exif and GPS directories of TIFF files, and written back either way, tags as they were:
// their values are copied, not interpreted.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kelvane {

struct ExifEntry {
  std::uint16_t tag = 0, type = 0;
  std::uint32_t count = 0;
  std::string value;  // count values of the type, little-endian
};

struct ExifIfd {
  std::vector<ExifEntry> entries;             // pointers to sub-IFDs excluded
  std::map<std::uint16_t, ExifIfd> children;  // by the tag that points to them
};

// Tags that point to sub-IFDs.
constexpr std::uint16_t exif_ifd_tag = 0x8769, gps_ifd_tag = 0x8825, interoperability_ifd_tag = 0xa005;

// Reads `size` bytes at `offset` of a TIFF structure; false where they are not all there.
using ByteSource = std::function<bool(std::uint64_t offset, void* out, std::size_t size)>;

// The IFD at `offset` of a TIFF structure (little- or big-endian, classic or BigTIFF), with
// its Exif, GPS and interoperability sub-IFDs. Damaged parts are left out.
ExifIfd read_ifd(const ByteSource& source, std::uint64_t offset, bool big_endian, bool bigtiff);

// An Exif block's IFD0 (the block without "Exif\0\0"); empty when it is not one.
ExifIfd parse_exif(const std::string& block);

// An Exif block (classic little-endian TIFF, IFD0 at offset 8) of IFD0 and its sub-IFDs.
std::string exif_block(const ExifIfd& ifd0);

// The IFD's entries and its sub-IFDs as they are written at `offset` of a TIFF file
// (little-endian, classic or BigTIFF); the IFD's own next-IFD pointer is 0.
std::string ifd_bytes(const ExifIfd& ifd, std::uint64_t offset, bool bigtiff);

// IFD0's text tags that TIFF files hold among their own tags, with their names among a
// picture's texts.
struct ExifText {
  std::uint16_t tag;
  const char* name;
};
extern const ExifText exif_texts[5];

// An entry of ASCII text.
ExifEntry text_entry(std::uint16_t tag, const std::string& text);

// The text of an ASCII entry, or null.
const ExifEntry* entry_of(const ExifIfd& ifd, std::uint16_t tag);

// A copy without the entries of these tags.
ExifIfd without_tags(const ExifIfd& ifd, const std::vector<std::uint16_t>& tags);

// The first value of a SHORT or LONG entry, or `fallback`.
std::uint32_t number_of(const ExifIfd& ifd, std::uint16_t tag, std::uint32_t fallback);

}  // namespace kelvane
