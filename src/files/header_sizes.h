#pragma once
// Sizes that headers announce, checked against the memory budget before the image library
// opens the file: its OpenEXR and WebP decoders allocate buffers of that size as they open
// it, before kelvane's own check of the pages. Each throws FileError; the limit is as for
// memory_budget.
#include <string>

namespace kelvane {

void check_exr_header(int fd, const std::string& path, unsigned long long memory_limit);
void check_webp_header(int fd, const std::string& path, unsigned long long memory_limit);

}  // namespace kelvane
