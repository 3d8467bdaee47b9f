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

// How a format holds alpha beside the colours.
enum class AlphaKind { none, straight, as_input, associated };

struct OutputFormat {
  const char* extension;
  Encoder encoder;
  const char* name;             // for messages
  unsigned integer_bits;        // deepest integer samples it holds: 1, 8 or 16; 0 for floats only
  bool floats;                  // holds floating-point samples
  AlphaKind alpha;              // straight, associated (colours multiplied by it), or either
  bool pages;                   // holds several pages
  bool keeps_integers;          // an integer input keeps its type: 8, 16 or 32 bits, signed or not
  bool holds_half;              // half floats stay half
  bool orientation;             // holds an orientation tag that viewers follow
  // The colour channels it holds: 1 (gray), 3 (RGB) or either; a gray picture is written to
  // an RGB-only format as three equal channels.
  std::vector<std::size_t> colours;
};

// The format of the output's extension; throws FileError for an unknown or missing one.
const OutputFormat& output_format(const std::string& path);

// Whether an output named with this extension (without its dot) can be written.
bool output_extension_known(const std::string& extension);

// The image library's own formats, written whole at the end rather than row by row.
bool holds_whole_pages(const OutputFormat& format);

// The extensions kelvane writes, in lower case without the dot; and as ".png, .jpg, ..." for
// messages.
std::vector<std::string> output_extensions();
std::string extension_list_text();

// How one page is written.
struct PagePlan {
  std::size_t width = 0, height = 0;
  SampleStore store;     // channels of the page's values written, and their sample type
  int alpha = -1;        // position of alpha among the written channels, or -1
  bool associated = false;  // the colours are written multiplied by alpha
  unsigned bits = 8;     // significant bits of integer samples
};

// Plans every page for the format. Alpha goes where the format holds it and is left out
// elsewhere; integer outputs get 8 bits for inputs of 8 bits or fewer, 16 for deeper or
// floating-point inputs where the format holds 16 (TIFF and FITS keep an integer input's
// type, signed ones included); floating-point inputs stay floating where the format holds it,
// half floats half where it holds them. Throws FileError when the format cannot hold the
// pages, or a picture's colours do not fit the kind its extension names (RGB into .pgm).
std::vector<PagePlan> plan_output(const OutputFormat& format, const std::string& path,
                                  const std::vector<PageInfo>& pages);

}  // namespace kelvane
