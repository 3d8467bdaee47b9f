#pragma once
// Reading picture files page by page and row by row, each sample in the file's own type.
// Opening reads the headers of every page and nothing more, so the size of each page is known
// (and checked against the memory) before any pixel is decoded.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "image/page_layout.h"

namespace kelvane {

struct Metadata;

struct PageInfo {
  PageLayout layout;
  std::shared_ptr<const Metadata> metadata;  // null where the format carries none
  // How the page was encoded, in its format's terms, for an output of the same format to
  // follow: a TIFF's compression ("lzw", "zip", "packbits", "none"), a JPEG's chroma
  // subsampling ("4:4:4", "4:2:0"), "lossless" or "lossy" for WebP, "openexr N" for an
  // OpenEXR compression.
  std::string encoding;
  std::size_t chunk_rows = 16;               // rows best read at once (a TIFF's tile height)
  // Bytes the decoder holds for the page whatever is read of it: an interlaced PNG, a
  // progressive JPEG, the image library's own formats.
  long double decoder_bytes = 0;
};

class PictureReader {
 public:
  virtual ~PictureReader() = default;
  const std::string& path() const { return path_; }
  // The file's format, as the help text names it ("PNG", "TIFF", ...).
  const std::string& format() const { return format_; }
  const std::vector<PageInfo>& pages() const { return pages_; }

  // Rows [y, y + count) of a page as interleaved samples of the page's type, into `rows`
  // (count * row_bytes bytes). Throws FileError when the file is damaged or truncated.
  virtual void read_rows(std::size_t page, std::size_t y, std::size_t count, void* rows) = 0;

  // A second reader of the same file, to read rows at another place at the same time; null
  // where the reader cannot have one.
  std::unique_ptr<PictureReader> another() const;
  bool has_another() const { return fd_ >= 0; }

 protected:
  // `fd`: the file the reader has open and closes, which another reader may open again; -1
  // for readers that hold no such file.
  PictureReader(std::string path, std::string format, int fd = -1)
      : path_(std::move(path)), format_(std::move(format)), fd_(fd) {}
  std::string path_;
  std::string format_;
  int fd_;
  std::vector<PageInfo> pages_;
};

// Opens a picture of any format kelvane reads, chosen by the file's first bytes (by the name
// only for the image library's own .cimg and .asc, which have no signature). Throws
// FileError for anything else: a folder, an empty file, an unknown or damaged format.
// Headers that decoders trust with their allocations are checked against the memory budget
// (with `memory_limit` as for memory_budget).
std::unique_ptr<PictureReader> open_picture(const std::string& path, unsigned long long memory_limit = 0);

// Opens the picture on a descriptor of the file (which the reader then owns, or closes on a
// failure), as open_picture does.
std::unique_ptr<PictureReader> open_picture_on(const std::string& path, int fd, unsigned long long memory_limit = 0);

// Whether the file is a regular file whose first bytes (or, for .cimg and .asc, its name) are
// those of a picture open_picture would try to read.
bool looks_like_picture(const std::string& path);

// Whether the file's name ends in the extension of a format kelvane reads, whatever it holds.
bool named_as_picture(const std::string& path);

// The formats open_picture reads, for messages and help.
extern const char* const readable_formats_text;

}  // namespace kelvane
