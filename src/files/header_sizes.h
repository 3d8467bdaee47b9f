#pragma once
// Sizes that headers announce, checked against the memory budget before the image library
// opens the file: its OpenEXR and WebP decoders allocate buffers of that size as they open
// it, before kelvane's own check of the pages. Each throws FileError; the limit is as for
// memory_budget. BMP headers are checked for what its decoder does not check itself.
#include <string>

namespace kelvane {

void check_exr_header(int fd, const std::string& path, unsigned long long memory_limit);
void check_webp_header(int fd, const std::string& path, unsigned long long memory_limit);

// A BMP header that the image library's decoder would trust into writing out of bounds.
void check_bmp_header(int fd, const std::string& path);

}  // namespace kelvane
