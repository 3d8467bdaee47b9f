#pragma once
// The formats kelvane writes, chosen by the output's extension, and how each page of a picture
// is stored in them: which channels, in what sample type.
#include <string>
#include <vector>

#include "files/picture_reader.h"
#include "image/samples.h"

namespace kelvane {

// What writes a format: libvips's saver, a format's own library, or kelvane itself.
enum class Encoder { png, jpeg, webp, heif, jpeg2000, radiance, tiff, openexr, fits, pnm, bmp, cimg, cimgz, ascii };

struct OutputFormat {
  const char* extension;
  Encoder encoder;
  const char* name;             // for messages
  unsigned integer_bits;        // deepest integer samples it holds: 1, 8 or 16; 0 for floats only
  bool floats;                  // holds floating-point samples
  bool alpha;                   // holds an alpha channel
  bool pages;                   // holds several pages
  std::vector<std::size_t> channel_counts;  // the channel counts it holds; empty: any
};

// The format of the output's extension; throws FileError for an unknown or missing one.
const OutputFormat& output_format(const std::string& path);

// Whether an output named with this extension (without its dot) can be written.
bool writes_extension(const std::string& extension);

// The image library's own formats, written whole at the end rather than row by row.
bool holds_whole_pages(const OutputFormat& format);

// The extensions kelvane writes, for messages and help.
std::string writable_extensions();

// How one page is written.
struct PagePlan {
  std::size_t width = 0, height = 0;
  SampleStore store;     // channels of the page's values written, and their sample type
  int alpha = -1;        // position of alpha among the written channels, or -1
  unsigned bits = 8;     // significant bits of integer samples
};

// Plans every page for the format. Alpha goes where the format holds it and is left out
// elsewhere; integer outputs get 8 bits for inputs of 8 bits or fewer, 16 for deeper or
// floating-point inputs where the format holds 16; floating-point inputs stay floating where
// the format holds it. Throws FileError when the format cannot hold the pages.
std::vector<PagePlan> plan_output(const OutputFormat& format, const std::string& path,
                                  const std::vector<PageInfo>& pages);

}  // namespace kelvane
