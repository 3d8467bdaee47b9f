#pragma once
#include <string>

namespace kelvane {

// Walks the chunks of a PNG file, checking that each is whole and passes its checksum, from
// the header chunk to the end chunk. The image library's PNG decoder prints its complaints
// about a damaged file on the console; a file that passes this never gets that far.
// Throws FileError; returns whether the picture is interlaced (its decoder then holds it
// whole).
bool check_png_chunks(int fd, const std::string& path);

// Whether a JPEG file is progressive (its decoder then holds all of it), from its markers.
bool jpeg_progressive(int fd);

}  // namespace kelvane
