#include "files/cimg_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "CImg.h"
#include "files/file_error.h"
#include "image/samples.h"

namespace kelvane {

using cimg_library::CImg;

namespace {

// Bytes of one value of each type name a .cimg header may give.
std::size_t type_size(const std::string& type) {
  static const std::pair<const char*, std::size_t> sizes[] = {
      {"bool", 1},  {"uchar", 1},         {"unsigned_char", 1},  {"char", 1},  {"ushort", 2},
      {"unsigned_short", 2}, {"short", 2}, {"uint", 4},          {"unsigned_int", 4}, {"int", 4},
      {"uint64", 8}, {"unsigned_int64", 8}, {"int64", 8},        {"ulong", 8}, {"unsigned_long", 8},
      {"long", 8},  {"float", 4},         {"double", 8},         {"int8", 1},  {"uint8", 1},
      {"int16", 2}, {"uint16", 2},        {"int32", 4},          {"uint32", 4}, {"int64", 8},
      {"float32", 4}, {"float64", 8}};
  for (const auto& s : sizes)
    if (type == s.first) return s.second;
  return 0;
}

long long file_size(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

class CImgReader final : public PictureReader {
 public:
  CImgReader(const std::string& path, CImgFormat format)
      : PictureReader(path, format == CImgFormat::ascii ? ".asc" : ".cimg"), format_kind_(format) {
    std::size_t width = 0, height = 0, depth = 0, channels = 0;
    if (format == CImgFormat::ascii) check_ascii(width, height, depth, channels);
    else check_binary(width, height, depth, channels);
    PageInfo page;
    page.layout.width = width;
    page.layout.height = height;
    page.layout.channels = channels;
    page.layout.sample = SampleType::f64;
    page.layout.bits = 8;  // the scale of 255: saved as 8-bit samples where the output needs integers
    page.layout.coding.assign(channels, SampleCoding{255.0, 0.0, 0.0});
    // The library loads every page at once, as doubles.
    page.decoder_bytes = static_cast<long double>(width) * height * depth * channels * sizeof(double);
    pages_.assign(depth, page);
  }

  void read_rows(std::size_t page, std::size_t y, std::size_t count, void* rows) override {
    if (values_.is_empty()) load();
    const PageLayout& layout = pages_[page].layout;
    double* out = static_cast<double*>(rows);
    for (std::size_t r = 0; r < count; ++r)
      for (std::size_t x = 0; x < layout.width; ++x)
        for (std::size_t c = 0; c < layout.channels; ++c)
          *out++ = values_(static_cast<unsigned>(x), static_cast<unsigned>(y + r), static_cast<unsigned>(page),
                           static_cast<unsigned>(c));
  }

 private:
  FileError damaged(const std::string& why) const { return read_error(path_, why); }

  void load() {
    try {
      if (format_kind_ == CImgFormat::ascii) values_.load_ascii(path_.c_str());
      else values_.load_cimg(path_.c_str(), 'z');
    } catch (const cimg_library::CImgException&) {
      throw damaged("damaged " + format_ + " file");
    }
    // The rows are read by the header's sizes, which must be what was loaded.
    const PageLayout& layout = pages_[0].layout;
    auto size = [](int n) { return static_cast<std::size_t>(n); };
    if (size(values_.width()) != layout.width || size(values_.height()) != layout.height ||
        size(values_.depth()) != pages_.size() || size(values_.spectrum()) != layout.channels)
      throw damaged("damaged " + format_ + " file");
  }

  // "N type endianness", then per image "W H D S [#compressed bytes]" and its values.
  void check_binary(std::size_t& width, std::size_t& height, std::size_t& depth, std::size_t& channels) {
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    std::getline(in, line);
    std::istringstream first(line);
    std::size_t images = 0;
    std::string type;
    if (!(first >> images >> type) || images == 0 || type_size(type) == 0) throw damaged("damaged .cimg header");
    long long needed = 0;
    for (std::size_t i = 0; i < images; ++i) {
      std::getline(in, line);
      std::istringstream sizes(line);
      std::size_t w = 0, h = 0, d = 0, s = 0;
      if (!(sizes >> w >> h >> d >> s) || w == 0 || h == 0 || d == 0 || s == 0 || w > 0x7fffffff || h > 0x7fffffff ||
          d > 0x7fffffff || s > 0x7fffffff)
        throw damaged("damaged .cimg header");
      if (i > 0 && (w != width || h != height || s != channels))
        throw damaged("its images differ in size; kelvane reads .cimg files of equal images");
      width = w, height = h, channels = s, depth += d;
      std::string compressed;
      if (sizes >> compressed && compressed[0] == '#') {
        needed += std::strtoll(compressed.c_str() + 1, nullptr, 10);
        in.seekg(std::strtoll(compressed.c_str() + 1, nullptr, 10), std::ios::cur);
      } else {
        const long double bytes = static_cast<long double>(w) * h * d * s * type_size(type);
        if (bytes > static_cast<long double>(file_size(path_))) throw damaged("the file ends before its last value (truncated?)");
        needed += static_cast<long long>(bytes);
        in.seekg(static_cast<long long>(bytes), std::ios::cur);
      }
      if (!in) throw damaged("the file ends before its last value (truncated?)");
    }
    if (static_cast<long long>(in.tellg()) > file_size(path_) || needed > file_size(path_))
      throw damaged("the file ends before its last value (truncated?)");
  }

  // A first line "W H D S" (H, D, S 1 where missing), read as the library reads it, and then
  // as many numbers.
  void check_ascii(std::size_t& width, std::size_t& height, std::size_t& depth, std::size_t& channels) {
    std::FILE* file = std::fopen(path_.c_str(), "r");
    if (!file) throw damaged(std::strerror(errno));
    char line[256] = "";
    unsigned w = 0, h = 1, d = 1, s = 1;
    const bool header = std::fscanf(file, "%255[^\n]", line) == 1 &&
                        std::sscanf(line, "%u%*c%u%*c%u%*c%u", &w, &h, &d, &s) >= 1 && w > 0 && h > 0 && d > 0 &&
                        s > 0 && w <= 0x7fffffff && h <= 0x7fffffff && d <= 0x7fffffff && s <= 0x7fffffff;
    // What separates the header from the values, skipped as the library skips it.
    const int separators = header ? std::fscanf(file, "%*[^0-9.eEinfa+-]") : 0;
    static_cast<void>(separators);
    const long double expected = static_cast<long double>(w) * h * d * s;
    long double found = 0;
    double value;
    while (header && found < expected && std::fscanf(file, "%lf%*[^0-9.eEinfa+-]", &value) == 1) found += 1;
    std::fclose(file);
    if (!header) throw damaged("damaged .asc header");
    if (found < expected) throw damaged("the file ends before its last value (truncated?)");
    width = w, height = h, depth = d, channels = s;
  }

  CImgFormat format_kind_;
  CImg<double> values_;
};

}  // namespace

std::unique_ptr<PictureReader> open_cimg(const std::string& path, CImgFormat format) {
  return std::make_unique<CImgReader>(path, format);
}

void write_cimg(int fd, const std::string& output, CImgFormat format, std::size_t width, std::size_t height,
                std::size_t channels, const std::vector<const double*>& pages) {
  CImg<double> volume(static_cast<unsigned>(width), static_cast<unsigned>(height), static_cast<unsigned>(pages.size()),
                      static_cast<unsigned>(channels));
  const std::size_t plane = width * height;
  for (std::size_t z = 0; z < pages.size(); ++z)
    for (std::size_t c = 0; c < channels; ++c)
      for (std::size_t i = 0; i < plane; ++i)
        volume(static_cast<unsigned>(i % width), static_cast<unsigned>(i / width), static_cast<unsigned>(z),
               static_cast<unsigned>(c)) = saved_sample(pages[z][c * plane + i], 255.0);
  const int copy = ::dup(fd);
  std::FILE* stream = copy >= 0 ? ::fdopen(copy, "wb") : nullptr;
  if (!stream) {
    if (copy >= 0) ::close(copy);
    throw write_error(output, errno);
  }
  bool written = true;
  try {
    if (format == CImgFormat::ascii) volume.save_ascii(stream);
    else volume.save_cimg(stream, format == CImgFormat::cimgz);
  } catch (const cimg_library::CImgException&) {
    written = false;
  }
  const int error = std::ferror(stream) ? errno : 0;
  if (std::fclose(stream) != 0 || !written || error)
    throw write_error(output, error ? error : (errno ? errno : EIO));
}

}  // namespace kelvane
