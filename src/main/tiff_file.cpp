#include "main/tiff_file.h"

#include <sys/stat.h>
#include <tiffio.h>

#include <memory>

#include <vector>

#include "main/image_file.h"
#include "main/samples.h"

namespace {

struct TiffCloser {
  void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

// One row of slice z, channels interleaved, as samples of the given type.
template <class Sample>
void fill_row(const Image& image, std::size_t z, std::size_t y, double unit, std::vector<Sample>& row) {
  const std::size_t plane = image.width * image.height * image.depth;
  const double* values = image.values.get() + image.width * (y + image.height * z);
  for (std::size_t x = 0; x < image.width; ++x)
    for (std::size_t c = 0; c < image.spectrum; ++c)
      row[x * image.spectrum + c] = static_cast<Sample>(saved_sample(values[x + c * plane], unit));
}

template <class Sample>
bool write_pages(TIFF* tiff, const Image& image, double unit) {
  std::vector<Sample> row(image.width * image.spectrum);
  const uint16_t photometric = image.spectrum == 3 || image.spectrum == 4 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  for (std::size_t z = 0; z < image.depth; ++z) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(image.spectrum));
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(sizeof(Sample) * 8));
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, static_cast<uint32_t>(-1)));
    if (image.depth > 1) {
      TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(z), static_cast<uint16_t>(image.depth));
    }
    for (std::size_t y = 0; y < image.height; ++y) {
      fill_row(image, z, y, unit, row);
      if (TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
    }
    if (!TIFFWriteDirectory(tiff)) return false;
  }
  return true;
}

}  // namespace

void write_tiff(const Image& image, unsigned bits, const std::string& path, const std::string& output) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(path.c_str(), "w"));
  const double unit = bits == 16 ? image.unit : 255.0;
  const bool written = tiff && (bits == 16 ? write_pages<uint16_t>(tiff.get(), image, unit)
                                           : write_pages<uint8_t>(tiff.get(), image, unit));
  // Closing flushes what is still buffered; its failure does not reach us, so the size is
  // checked too: an uncompressed file holds at least all of its samples.
  const bool closed = written && (TIFFFlush(tiff.get()) != 0);
  tiff.reset();
  struct stat info;
  const bool complete = closed && ::stat(path.c_str(), &info) == 0 &&
                        static_cast<std::size_t>(info.st_size) >= image.size() * (bits / 8);
  if (!complete) throw FileError("cannot write " + output + ": the TIFF data could not be written (disk full?)");
}
