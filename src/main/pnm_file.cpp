#include "main/pnm_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/parallel.h"
#include "main/image_file.h"
#include "main/samples.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Skips blanks and # comments, then reads a decimal number of at most 9 digits.
bool read_header_number(std::FILE* file, unsigned long& number) {
  int c = std::fgetc(file);
  while (c != EOF && (std::isspace(c) || c == '#')) {
    if (c == '#')
      while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file);
    c = std::fgetc(file);
  }
  if (c == EOF || !std::isdigit(c)) return false;
  number = 0;
  int digits = 0;
  for (; c != EOF && std::isdigit(c); c = std::fgetc(file))
    if (++digits <= 9) number = number * 10 + static_cast<unsigned long>(c - '0');
  // Exactly one blank ends the header; the samples follow it.
  return digits <= 9 && c != EOF && std::isspace(c);
}

}  // namespace

void check_pnm_header(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  char magic[2] = {};
  unsigned long width = 0, height = 0;
  if (std::fread(magic, 1, 2, file.get()) != 2 || !read_header_number(file.get(), width) ||
      !read_header_number(file.get(), height))
    throw FileError("cannot read " + path + ": the PNM/PFM header is damaged");
  const std::size_t channels = magic[1] == '3' || magic[1] == 'F' ? 3 : 1;
  check_picture_fits(width, height, 1, channels, path);
  // The least number of bytes the samples take: 4 per PFM float, a bit per PBM pixel, and at
  // least one character per sample in the text variants.
  const long double samples = static_cast<long double>(width) * height * channels;
  const long double least = magic[1] == 'F' || magic[1] == 'f' ? samples * 4
                            : magic[1] == '4'                  ? static_cast<long double>((width + 7) / 8) * height
                                                               : samples;
  std::fseek(file.get(), 0, SEEK_END);
  if (static_cast<long double>(std::ftell(file.get())) < least)
    throw FileError("cannot read " + path + ": the file ends before its last pixel (truncated?)");
}

namespace {

// P4: rows of packed bits, a set bit black. Black loads as 0 and white as 1, the values the
// image library gives (0 and 255) divided by 255.
Image read_pbm_samples(std::FILE* file, const std::string& path, std::size_t width, std::size_t height) {
  check_picture_fits(width, height, 1, 1, path);
  Image image = make_image(width, height, 1, 1);
  const std::size_t row_bytes = (width + 7) / 8;
  std::vector<unsigned char> row(row_bytes);
  double* values = image.values.get();
  for (std::size_t y = 0; y < height; ++y) {
    if (std::fread(row.data(), 1, row_bytes, file) != row_bytes)
      throw FileError("cannot read " + path + ": the file ends before its last pixel (truncated?)");
    for (std::size_t x = 0; x < width; ++x)
      values[x + width * y] = (row[x / 8] & (0x80 >> (x % 8))) ? 0.0 : 1.0;
  }
  return image;
}

}  // namespace

Image read_pnm(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  char magic[2] = {};
  unsigned long width = 0, height = 0, maxval = 0;
  if (std::fread(magic, 1, 2, file.get()) != 2 || magic[0] != 'P' ||
      (magic[1] != '4' && magic[1] != '5' && magic[1] != '6') || !read_header_number(file.get(), width) ||
      !read_header_number(file.get(), height) || (magic[1] != '4' && !read_header_number(file.get(), maxval)))
    throw FileError("cannot read " + path + ": the PBM/PGM/PPM header is damaged");
  if (magic[1] == '4') return read_pbm_samples(file.get(), path, width, height);
  if (maxval == 0 || maxval > 65535)
    throw FileError("cannot read " + path + ": the PGM/PPM maximum value " + std::to_string(maxval) +
                    " is outside 1..65535");
  const std::size_t channels = magic[1] == '5' ? 1 : 3;
  const std::size_t bytes_per_sample = maxval > 255 ? 2 : 1;
  check_picture_fits(width, height, 1, channels, path);

  Image image = make_image(width, height, 1, channels);
  image.bits = bytes_per_sample == 2 ? 16 : 8;
  image.unit = bytes_per_sample == 2 ? static_cast<double>(maxval) : 255.0;
  const double unit = image.unit;
  const std::size_t pixels = std::size_t(width) * height;
  const std::size_t row_bytes = std::size_t(width) * channels * bytes_per_sample;
  const std::size_t rows_per_chunk = std::max<std::size_t>(1, (std::size_t(4) << 20) / std::max<std::size_t>(row_bytes, 1));
  std::vector<unsigned char> chunk(rows_per_chunk * row_bytes);
  double* values = image.values.get();

  for (std::size_t y0 = 0; y0 < height; y0 += rows_per_chunk) {
    const std::size_t rows = std::min<std::size_t>(rows_per_chunk, height - y0);
    if (std::fread(chunk.data(), 1, rows * row_bytes, file.get()) != rows * row_bytes)
      throw FileError("cannot read " + path + ": the file ends before its last pixel (truncated?)");
    // Samples are interleaved in the file and planar in the image.
    parallel_ranges(rows, [&](std::size_t begin, std::size_t end) {
      for (std::size_t r = begin; r < end; ++r) {
        const unsigned char* in = chunk.data() + r * row_bytes;
        double* out = values + (y0 + r) * width;
        for (std::size_t x = 0; x < width; ++x)
          for (std::size_t c = 0; c < channels; ++c, in += bytes_per_sample) {
            const unsigned code = bytes_per_sample == 2 ? (unsigned(in[0]) << 8) | in[1] : in[0];
            out[x + c * pixels] = static_cast<double>(code) / unit;
          }
      }
    });
  }
  return image;
}

std::vector<char> encode_pnm(const Image& image, unsigned bits) {
  const std::size_t channels = image.spectrum;
  const double unit = bits == 16 ? image.unit : 255.0;
  const std::string header = std::string(channels == 1 ? "P5\n" : "P6\n") + std::to_string(image.width) +
                             " " + std::to_string(image.height) + "\n" +
                             std::to_string(static_cast<unsigned>(unit)) + "\n";
  const std::size_t bytes_per_sample = bits == 16 ? 2 : 1;
  const std::size_t pixels = image.width * image.height;
  std::vector<char> bytes(header.size() + pixels * channels * bytes_per_sample);
  std::memcpy(bytes.data(), header.data(), header.size());
  unsigned char* samples = reinterpret_cast<unsigned char*>(bytes.data() + header.size());
  const double* values = image.values.get();
  parallel_ranges(pixels, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i)
      for (std::size_t c = 0; c < channels; ++c) {
        const double s = saved_sample(values[i + c * pixels], unit);
        unsigned char* out = samples + (i * channels + c) * bytes_per_sample;
        if (bytes_per_sample == 2) {
          const auto code = static_cast<unsigned short>(s);
          out[0] = static_cast<unsigned char>(code >> 8);
          out[1] = static_cast<unsigned char>(code & 0xFF);
        } else {
          out[0] = static_cast<unsigned char>(s);
        }
      }
  });
  return bytes;
}

std::vector<char> encode_pbm(const Image& image) {
  const std::string header = "P4\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n";
  const std::size_t row_bytes = (image.width + 7) / 8;
  const std::size_t pixels = image.width * image.height;
  std::vector<char> bytes(header.size() + row_bytes * image.height, 0);
  std::memcpy(bytes.data(), header.data(), header.size());
  unsigned char* rows = reinterpret_cast<unsigned char*>(bytes.data() + header.size());
  const double* values = image.values.get();
  parallel_ranges(image.height, [&](std::size_t begin, std::size_t end) {
    for (std::size_t y = begin; y < end; ++y)
      for (std::size_t x = 0; x < image.width; ++x) {
        unsigned sum = 0;
        for (std::size_t c = 0; c < image.spectrum; ++c)
          sum += static_cast<unsigned char>(saved_sample(values[x + image.width * y + c * pixels], 255.0));
        if (sum < 128 * image.spectrum) rows[row_bytes * y + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
      }
  });
  return bytes;
}
