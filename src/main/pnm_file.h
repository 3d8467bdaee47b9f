#pragma once
// Binary PGM and PPM (P5 and P6) with 8- or 16-bit samples, read and written directly: these
// are the formats of choice for very large pictures, so they skip every intermediate copy.
#include <string>
#include <vector>

#include "image/image.h"

// Reads a P5 or P6 file. Samples are divided by 255, or by the maxval when it needs 16 bits.
// A file that ends before its last sample is refused.
Image read_pnm(const std::string& path);

// Checks the header of the PNM and PFM variants the image library reads (P1 to P4, PF, Pf):
// the size it announces must fit in memory and in the file, before the library allocates it.
void check_pnm_header(const std::string& path);

// Encodes one slice of one or three channels as P5 or P6, with 16-bit samples when bits is 16.
std::vector<char> encode_pnm(const Image& image, unsigned bits);
