#pragma once
// PNG read and written with libpng directly: the sample depth comes from the header, a
// damaged or truncated file is an error (never a picture with a grey bottom), and libpng's
// warnings about harmless ancillary chunks stay quiet.
#include <string>
#include <vector>

#include "image/image.h"

// Reads a PNG the way the image library does: a palette becomes red, green and blue, a
// transparent colour becomes an alpha channel, and gray stays one channel. 8-bit samples are
// divided by 255, 16-bit ones by 65535.
Image read_png(const std::string& path);

// Encodes one slice of 1 to 4 channels (gray, gray + alpha, RGB, RGBA) with 8- or 16-bit
// samples; channels past the fourth are left out.
std::vector<char> encode_png(const Image& image, unsigned bits);
