#pragma once
// JPEG read with libjpeg directly, so that a damaged or truncated file is an error: libjpeg
// only warns about a premature end and fills the rest of the picture with grey.
#include <string>

#include "image/image.h"

// Reads one, three or four components the way the image library does, divided by 255.
Image read_jpeg(const std::string& path);
