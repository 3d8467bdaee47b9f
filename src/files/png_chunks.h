#pragma once
#include <string>

// Walks the chunks of a PNG file, checking that each is whole and passes its checksum, from
// the header chunk to the end chunk. The image library's PNG decoder prints its complaints
// about a damaged file on the console; a file that passes this never gets that far.
// Throws FileError.
void check_png_chunks(int fd, const std::string& path);
