#include "files/pnm_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "files/file_error.h"

namespace kelvane {

namespace {

// Buffered reading of the descriptor from a given offset.
class Bytes {
 public:
  explicit Bytes(int fd) : fd_(fd) {}
  void seek(long long offset) {
    offset_ = offset;
    begin_ = end_ = 0;
  }
  long long position() const { return offset_ - static_cast<long long>(end_ - begin_); }
  int next() {
    if (begin_ == end_ && !fill()) return EOF;
    return buffer_[begin_++];
  }
  int peek() {
    if (begin_ == end_ && !fill()) return EOF;
    return buffer_[begin_];
  }
  // Copies n bytes; false if the file ends first.
  bool take(unsigned char* out, std::size_t n) {
    while (n > 0) {
      if (begin_ == end_ && !fill()) return false;
      const std::size_t k = std::min(n, end_ - begin_);
      std::memcpy(out, buffer_ + begin_, k);
      begin_ += k;
      out += k;
      n -= k;
    }
    return true;
  }

 private:
  bool fill() {
    const ssize_t n = ::pread(fd_, buffer_, sizeof buffer_, offset_);
    if (n <= 0) return false;
    offset_ += n;
    begin_ = 0;
    end_ = static_cast<std::size_t>(n);
    return true;
  }
  int fd_;
  long long offset_ = 0;
  unsigned char buffer_[1 << 16];
  std::size_t begin_ = 0, end_ = 0;
};

class PnmReader final : public PictureReader {
 public:
  PnmReader(const std::string& path, int fd) : PictureReader(path, "PNM", fd), bytes_(fd) {
    bytes_.seek(0);
    bytes_.next();
    const int letter = bytes_.next();
    kind_ = letter == 'F' ? pfm_colour : letter == 'f' ? pfm_gray : letter - '0';
    const bool bitmap = kind_ == 1 || kind_ == 4;
    const unsigned long width = header_number(), height = header_number();
    if (floats()) {
      skip_space_and_comments();
      std::string scale;
      while (bytes_.peek() != EOF && !std::isspace(bytes_.peek())) scale += static_cast<char>(bytes_.next());
      char* end = nullptr;
      const double s = std::strtod(scale.c_str(), &end);
      if (scale.empty() || *end != '\0' || s == 0.0) throw damaged("damaged PFM header");
      big_endian_ = s > 0;
    } else {
      maxval_ = bitmap ? 1 : header_number();
    }
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff)
      throw damaged("its header announces no pixels");
    if (maxval_ == 0 || maxval_ > 65535) throw damaged("its maximum value must lie between 1 and 65535");
    const int separator = bytes_.next();  // one whitespace byte before binary samples
    if (separator == EOF || !std::isspace(separator)) throw damaged("damaged PNM header");
    data_ = bytes_.position();
    const std::size_t channels = kind_ == 3 || kind_ == 6 || kind_ == pfm_colour ? 3 : 1;
    PageInfo page;
    if (floats()) {
      page.layout = integer_layout(width, height, channels, SampleType::f32, 32);
      for (auto& coding : page.layout.coding) coding.unit = 1.0;
    } else {
      page.layout = integer_layout(width, height, channels, maxval_ > 255 ? SampleType::u16 : SampleType::u8,
                                   bits_of(maxval_));
      for (auto& coding : page.layout.coding) coding.unit = static_cast<double>(maxval_);
    }
    pages_.push_back(page);
    if (binary()) {
      // In unsigned 128-bit arithmetic: a header of a few bytes can claim 2^31 x 2^31 pixels
      // of 6 bytes each, beyond any 64-bit count.
      struct stat info;
      if (::fstat(fd_, &info) != 0) throw damaged(std::strerror(errno));
      const unsigned __int128 needed = static_cast<unsigned __int128>(data_) +
                                       static_cast<unsigned __int128>(stored_row_bytes()) * height;
      if (static_cast<unsigned __int128>(info.st_size) < needed) throw damaged("the file ends before its last pixel (truncated?)");
    }
    next_row_ = 0;
  }

  ~PnmReader() override { ::close(fd_); }

  void read_rows(std::size_t, std::size_t y, std::size_t count, void* rows) override {
    const PageLayout& layout = pages_[0].layout;
    if (floats()) {
      read_float_rows(layout, y, count, static_cast<unsigned char*>(rows));
      return;
    }
    if (binary()) {
      bytes_.seek(data_ + static_cast<long long>(stored_row_bytes() * y));
    } else if (y != next_row_) {
      bytes_.seek(data_);
      for (next_row_ = 0; next_row_ < y; ++next_row_) skip_text_row(layout);
    }
    std::vector<unsigned char> stored(stored_row_bytes());
    for (std::size_t r = 0; r < count; ++r) {
      unsigned char* out = static_cast<unsigned char*>(rows) + layout.row_bytes() * r;
      if (!binary()) text_row(layout, out);
      else if (!bytes_.take(stored.data(), stored.size())) throw damaged("the file ends before its last pixel (truncated?)");
      else decode_binary_row(stored.data(), layout, out);
    }
    next_row_ = y + count;
  }

 private:
  // PFM's two kinds, numbered after P1 to P6.
  static constexpr int pfm_colour = 7, pfm_gray = 8;
  bool binary() const { return kind_ >= 4; }
  bool floats() const { return kind_ >= pfm_colour; }

  // PFM stores the bottom row first.
  void read_float_rows(const PageLayout& layout, std::size_t y, std::size_t count, unsigned char* out) {
    const std::size_t row_bytes = layout.row_bytes();
    for (std::size_t r = 0; r < count; ++r) {
      bytes_.seek(data_ + static_cast<long long>(row_bytes * (layout.height - 1 - (y + r))));
      unsigned char* row = out + r * row_bytes;
      if (!bytes_.take(row, row_bytes)) throw damaged("the file ends before its last pixel (truncated?)");
      if (big_endian_)
        for (std::size_t i = 0; i < row_bytes; i += 4) std::swap(row[i], row[i + 3]), std::swap(row[i + 1], row[i + 2]);
    }
  }

  static unsigned bits_of(unsigned long maxval) {
    unsigned bits = 1;
    while ((1ul << bits) - 1 < maxval) ++bits;
    return bits;
  }

  std::size_t stored_row_bytes() const {
    const PageLayout& layout = pages_[0].layout;
    if (kind_ == 4) return (layout.width + 7) / 8;
    if (floats()) return layout.width * layout.channels * 4;
    return layout.width * layout.channels * (maxval_ > 255 ? 2 : 1);
  }

  FileError damaged(const std::string& why) const { return read_error(path_, why); }

  void skip_space_and_comments() {
    for (int c = bytes_.peek(); c != EOF; c = bytes_.peek()) {
      if (c == '#') {
        while (c != EOF && c != '\n' && c != '\r') c = bytes_.next();
      } else if (std::isspace(c)) {
        bytes_.next();
      } else {
        break;
      }
    }
  }

  // A decimal number after whitespace and comments, or -1 when there is none.
  long long number() {
    skip_space_and_comments();
    if (!std::isdigit(bytes_.peek())) return -1;
    long long n = 0;
    while (std::isdigit(bytes_.peek())) {
      n = n * 10 + (bytes_.next() - '0');
      if (n > 0xffffffffll) n = 0xffffffffll + 1;
    }
    return n;
  }

  unsigned long header_number() {
    const long long n = number();
    if (n < 0) throw damaged("damaged PNM header");
    return static_cast<unsigned long>(n);
  }

  unsigned sample(long long n) const {
    if (n < 0) throw damaged("the file ends before its last pixel (truncated?)");
    if (static_cast<unsigned long long>(n) > maxval_) throw damaged("a sample exceeds the maximum value in the header");
    return static_cast<unsigned>(n);
  }

  // PBM stores black as 1; values have white as 1.
  void store(const PageLayout& layout, unsigned char* out, std::size_t i, unsigned code) const {
    if (kind_ == 1 || kind_ == 4) code = 1 - code;
    if (layout.sample == SampleType::u16) reinterpret_cast<std::uint16_t*>(out)[i] = static_cast<std::uint16_t>(code);
    else out[i] = static_cast<unsigned char>(code);
  }

  void text_row(const PageLayout& layout, unsigned char* out) {
    const std::size_t n = layout.width * layout.channels;
    for (std::size_t i = 0; i < n; ++i) {
      if (kind_ == 1) {  // PBM digits need no separators
        skip_space_and_comments();
        const int c = bytes_.next();
        if (c != '0' && c != '1') throw damaged(c == EOF ? "the file ends before its last pixel (truncated?)" : "damaged PBM data");
        store(layout, out, i, static_cast<unsigned>(c - '0'));
      } else {
        store(layout, out, i, sample(number()));
      }
    }
  }

  void skip_text_row(const PageLayout& layout) {
    std::vector<unsigned char> scratch(layout.row_bytes());
    text_row(layout, scratch.data());
  }

  void decode_binary_row(const unsigned char* in, const PageLayout& layout, unsigned char* out) const {
    const std::size_t n = layout.width * layout.channels;
    if (maxval_ == 255 && kind_ != 4) {  // every byte is a valid sample as it is
      std::memcpy(out, in, n);
      return;
    }
    if (kind_ == 4) {
      for (std::size_t x = 0; x < n; ++x) store(layout, out, x, (in[x / 8] >> (7 - x % 8)) & 1u);
    } else if (maxval_ > 255) {
      for (std::size_t i = 0; i < n; ++i) store(layout, out, i, sample((unsigned(in[2 * i]) << 8) | in[2 * i + 1]));
    } else {
      for (std::size_t i = 0; i < n; ++i) store(layout, out, i, sample(in[i]));
    }
  }

  Bytes bytes_;
  int kind_ = 0;
  unsigned long maxval_ = 255;
  bool big_endian_ = false;
  long long data_ = 0;
  std::size_t next_row_ = 0;
};

}  // namespace

std::unique_ptr<PictureReader> open_pnm(const std::string& path, int fd) {
  try {
    return std::make_unique<PnmReader>(path, fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

}  // namespace kelvane
