#pragma once
// The image library CImg's own formats, .cimg (binary, optionally compressed as .cimgz) and
// .asc (text). They hold values as they are; kelvane stores value * 255, clamped to [0, 255],
// and loads stored / 255, whatever the picture was read from. A volume's slices are its
// pages. This is the only part of kelvane that includes CImg.
#include <memory>
#include <string>
#include <vector>

#include "files/picture_reader.h"

namespace kelvane {

enum class CImgFormat { cimg, cimgz, ascii };

// Checks the header (sizes, and that the file holds every value) without loading the values,
// which are read in full when the first row is asked for.
std::unique_ptr<PictureReader> open_cimg(const std::string& path, CImgFormat format);

// Writes pages of equal size (planar values, channel c of page p at
// pages[p] + c * width * height) to the open descriptor as one volume. Throws FileError.
void write_cimg(int fd, const std::string& output, CImgFormat format, std::size_t width, std::size_t height,
                std::size_t channels, const std::vector<const double*>& pages);

}  // namespace kelvane
