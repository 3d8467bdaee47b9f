#pragma once
#include <cstddef>
#include <string>

namespace kelvane {

// Gives every page of a TIFF file that has samples beyond its colour channels but no
// ExtraSamples tag one that calls them unspecified (the image library writes the tag only
// for alpha, and readers then guess what the extra samples are). False if the file could not
// be updated.
bool tag_extra_samples(const std::string& name);

// The number of pages (directories) of a TIFF file, read from the open descriptor, or 0 when
// libtiff cannot read the file.
std::size_t tiff_pages(int fd);

}  // namespace kelvane
