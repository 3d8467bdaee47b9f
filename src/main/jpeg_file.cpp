#include "main/jpeg_file.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "main/image_file.h"
#include "main/samples.h"

namespace {

struct Errors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void on_error(j_common_ptr info) {
  Errors* errors = reinterpret_cast<Errors*>(info->err);
  info->err->format_message(info, errors->message);
  std::longjmp(errors->jump, 1);
}

// Warnings (level -1) mean damaged data; they are counted, not printed.
void on_message(j_common_ptr info, int level) {
  if (level < 0) {
    Errors* errors = reinterpret_cast<Errors*>(info->err);
    if (info->err->num_warnings++ == 0) info->err->format_message(info, errors->message);
  }
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

Image read_jpeg(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  jpeg_decompress_struct info;
  Errors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = on_error;
  errors.manager.emit_message = on_message;
  Image image;
  std::vector<JSAMPLE> row;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    throw FileError("cannot read " + path + ": damaged JPEG (" + errors.message + ")");
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file.get());
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  const std::size_t channels = static_cast<std::size_t>(info.output_components);
  if (channels != 1 && channels != 3 && channels != 4) {
    jpeg_destroy_decompress(&info);
    throw FileError("cannot read " + path + ": JPEG with " + std::to_string(channels) + " components");
  }
  check_picture_fits(info.output_width, info.output_height, 1, channels, path);
  image = make_image(info.output_width, info.output_height, 1, channels);
  row.resize(std::size_t(info.output_width) * channels);
  const std::size_t pixels = image.width * image.height;
  double* values = image.values.get();
  while (info.output_scanline < info.output_height && errors.manager.num_warnings == 0) {
    JSAMPROW rows[1] = {row.data()};
    const std::size_t y = info.output_scanline;
    if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
    const JSAMPLE* in = row.data();
    for (std::size_t x = 0; x < image.width; ++x)
      for (std::size_t c = 0; c < channels; ++c) values[x + image.width * y + c * pixels] = *in++ / 255.0;
  }
  const bool complete = info.output_scanline == info.output_height && errors.manager.num_warnings == 0;
  if (complete) jpeg_finish_decompress(&info);
  const bool clean = errors.manager.num_warnings == 0;
  jpeg_destroy_decompress(&info);
  if (!complete || !clean)
    throw FileError("cannot read " + path + ": damaged or truncated JPEG (" + errors.message + ")");
  return image;
}
