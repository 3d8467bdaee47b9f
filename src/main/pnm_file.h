#pragma once
// Binary PBM, PGM and PPM (P4, P5, P6), read and written directly: these are the formats of
// choice for very large pictures, so they skip every intermediate copy (and the image
// library cannot read packed PBM at all).
#include <string>
#include <vector>

#include "image/image.h"

// Reads a binary PBM, PGM or PPM file (P4, P5, P6). Samples are divided by 255, or by the
// maxval when it needs 16 bits; PBM black is 0 and white 1. A file that ends before its last
// sample is refused.
Image read_pnm(const std::string& path);

// Checks the header of the PNM and PFM variants the image library reads (P1 to P3, PF, Pf):
// the size it announces must fit in memory and in the file, before the library allocates it.
void check_pnm_header(const std::string& path);

// Encodes one slice as a bilevel PBM (P4): black where the 8-bit sample, averaged over the
// channels, is below 128, white elsewhere.
std::vector<char> encode_pbm(const Image& image);

// Encodes one slice of one or three channels as P5 or P6, with 16-bit samples when bits is 16.
std::vector<char> encode_pnm(const Image& image, unsigned bits);
