#include "files/inserting_output.h"

namespace kelvane {

namespace {

// The signature and the header chunk: 8 bytes, then 4 of length, 4 of type, 13 of data and 4
// of checksum.
constexpr std::size_t png_header_end = 8 + 25;

}  // namespace

InsertingOutput::InsertingOutput(int fd, const std::string& path, Format format, std::string inserted)
    : out_(fd, path), format_(format), inserted_(std::move(inserted)), done_(format == Format::other || inserted_.empty()) {}

std::size_t InsertingOutput::insertion_point() const {
  if (format_ == Format::png) return held_.size() >= png_header_end ? png_header_end : std::string::npos;
  // JPEG: the start of the image, then segments FF En (APP0 to APP15) with their lengths.
  std::size_t at = 2;
  while (at + 4 <= held_.size()) {
    const unsigned char marker = static_cast<unsigned char>(held_[at + 1]);
    if (static_cast<unsigned char>(held_[at]) != 0xff || (marker & 0xf0) != 0xe0) return at;
    at += 2 + (static_cast<std::size_t>(static_cast<unsigned char>(held_[at + 2])) << 8 |
               static_cast<unsigned char>(held_[at + 3]));
  }
  return std::string::npos;
}

void InsertingOutput::write(const void* bytes, std::size_t size) {
  if (done_) {
    out_.append(bytes, size);
    return;
  }
  held_.append(static_cast<const char*>(bytes), size);
  const std::size_t at = insertion_point();
  if (at == std::string::npos) return;
  out_.append(held_.data(), at);
  out_.append(inserted_.data(), inserted_.size());
  out_.append(held_.data() + at, held_.size() - at);
  held_.clear();
  done_ = true;
}

void InsertingOutput::finish() {
  if (!done_) out_.append(held_.data(), held_.size());
  held_.clear();
  done_ = true;
}

}  // namespace kelvane
