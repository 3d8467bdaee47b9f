#pragma once
// Writing a picture, page by page and row by row, into a file that replaces the output only
// once it is complete (see atomic_file.h).
#include <memory>
#include <string>
#include <vector>

#include "files/output_format.h"
#include "files/picture_reader.h"

namespace kelvane {

// Choices the command line can make about the output's encoding.
struct EncodingChoices {
  int jpeg_quality = 100;        // 1 to 100, of JPEG, lossy WebP and HEIF outputs
  std::string tiff_compression;  // empty: the input TIFF's lossless compression, else none
  int png_compression = 2;       // zlib level, 0 to 9
  // "4:4:4" or "4:2:0"; empty: a JPEG input's own, else 4:4:4 at quality 90 and above.
  std::string jpeg_subsampling;
  // "lossless" or "lossy"; empty: a WebP input's own, else lossy.
  std::string webp;
};

class PictureWriter {
 public:
  virtual ~PictureWriter() = default;
  // Rows [y, y + count) of a page, from planar values: channel c of row y + r, column x at
  // values[c * channel_stride + r * width + x]. Pages in order, rows from top to bottom.
  virtual void write_rows(std::size_t page, std::size_t y, std::size_t count, const double* values,
                          std::size_t channel_stride) = 0;
  // Finishes the file and puts it in place of the output. Throws FileError.
  virtual void commit() = 0;
};

// Starts writing `pages` (as planned for the format by plan_output) to the output; `input`
// holds each page's metadata. Throws FileError.
std::unique_ptr<PictureWriter> create_picture(const std::string& output, const OutputFormat& format,
                                              const std::vector<PagePlan>& plans,
                                              const std::vector<PageInfo>& input, const EncodingChoices& choices);

}  // namespace kelvane
