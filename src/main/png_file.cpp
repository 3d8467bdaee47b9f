#include "main/png_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/parallel.h"
#include "main/image_file.h"
#include "main/samples.h"

namespace {

// libpng reports errors through a longjmp; the message is kept for the FileError.
struct PngErrors {
  std::string message;
};

void on_error(png_structp png, png_const_charp message) {
  static_cast<PngErrors*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Converts row y of 4 interleaved samples per pixel (the layout the read transforms give)
// into the planar values of the channels kept.
template <class Sample>
void store_row(const Sample* in, Image& image, std::size_t y, double unit) {
  const std::size_t pixels = image.width * image.height;
  double* out = image.values.get() + image.width * y;
  const bool gray = image.spectrum <= 2, alpha = image.spectrum == 2 || image.spectrum == 4;
  for (std::size_t x = 0; x < image.width; ++x, in += 4) {
    std::size_t c = 0;
    out[x] = static_cast<double>(in[0]) / unit;
    if (!gray) {
      out[x + pixels] = static_cast<double>(in[1]) / unit;
      out[x + 2 * pixels] = static_cast<double>(in[2]) / unit;
      c = 2;
    }
    if (alpha) out[x + (c + 1) * pixels] = static_cast<double>(in[3]) / unit;
  }
}

}  // namespace

Image read_png(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  PngErrors errors;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, on_error, on_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    throw std::bad_alloc();
  }
  Image image;
  std::vector<png_byte> whole;  // interlaced pictures only
  std::vector<png_byte> row;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw FileError("cannot read " + path + ": damaged PNG (" + errors.message + ")");
  }
  png_init_io(png, file.get());
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int bit_depth = 0, color_type = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &bit_depth, &color_type, &interlace, nullptr, nullptr);
  const int passes = png_set_interlace_handling(png);

  // The image library's transforms, so that channels and values are the ones it would give.
  bool gray = false;
  if (color_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_palette_to_rgb(png);
    color_type = PNG_COLOR_TYPE_RGB;
    bit_depth = 8;
  }
  if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) {
    png_set_expand_gray_1_2_4_to_8(png);
    bit_depth = 8;
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_tRNS_to_alpha(png);
    color_type |= PNG_COLOR_MASK_ALPHA;
  }
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_gray_to_rgb(png);
    color_type |= PNG_COLOR_MASK_COLOR;
    gray = true;
  }
  if (color_type == PNG_COLOR_TYPE_RGB) png_set_filler(png, 0xffff, PNG_FILLER_AFTER);
  if (bit_depth == 16) png_set_swap(png);  // native byte order on little-endian machines
  png_read_update_info(png, info);

  const bool alpha = (color_type & PNG_COLOR_MASK_ALPHA) != 0;
  check_picture_fits(width, height, 1, (gray ? 1 : 3) + (alpha ? 1 : 0), path);
  image = make_image(width, height, 1, (gray ? 1 : 3) + (alpha ? 1 : 0));
  image.bits = bit_depth == 16 ? 16 : 8;
  image.unit = bit_depth == 16 ? 65535.0 : 255.0;
  const std::size_t row_bytes = png_get_rowbytes(png, info);

  if (passes > 1) {
    whole.resize(row_bytes * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = whole.data() + row_bytes * y;
    png_read_image(png, rows.data());
  } else {
    row.resize(row_bytes);
  }
  for (png_uint_32 y = 0; y < height; ++y) {
    png_bytep data = whole.empty() ? row.data() : whole.data() + row_bytes * y;
    if (whole.empty()) png_read_row(png, data, nullptr);
    if (bit_depth == 16) store_row(reinterpret_cast<const png_uint_16*>(data), image, y, image.unit);
    else store_row(data, image, y, image.unit);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return image;
}

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<char>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void flush_nothing(png_structp) {}

}  // namespace

std::vector<char> encode_png(const Image& image, unsigned bits) {
  const std::size_t channels = std::min<std::size_t>(image.spectrum, 4);
  const double unit = bits == 16 ? image.unit : 255.0;
  const std::size_t bytes_per_sample = bits == 16 ? 2 : 1;
  const std::size_t pixels = image.width * image.height;
  const std::size_t row_bytes = image.width * channels * bytes_per_sample;

  // Samples first, big-endian as PNG stores them, rows spread over the threads.
  std::vector<png_byte> samples(row_bytes * image.height);
  const double* values = image.values.get();
  parallel_ranges(pixels, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i)
      for (std::size_t c = 0; c < channels; ++c) {
        const double s = saved_sample(values[i + c * pixels], unit);
        png_byte* out = samples.data() + (i * channels + c) * bytes_per_sample;
        if (bytes_per_sample == 2) {
          const auto code = static_cast<unsigned short>(s);
          out[0] = static_cast<png_byte>(code >> 8);
          out[1] = static_cast<png_byte>(code & 0xFF);
        } else {
          out[0] = static_cast<png_byte>(s);
        }
      }
  });

  std::vector<char> bytes;
  PngErrors errors;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, on_error, on_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    throw std::bad_alloc();
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw FileError("cannot encode PNG: " + errors.message);
  }
  static const int color_types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                    PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
  png_set_write_fn(png, &bytes, append_bytes, flush_nothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
               static_cast<int>(bits), color_types[channels - 1], PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::size_t y = 0; y < image.height; ++y) png_write_row(png, samples.data() + row_bytes * y);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return bytes;
}
