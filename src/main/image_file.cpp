// Reading and writing picture files. PNG and binary PGM/PPM are read and written directly;
// every other format goes through the image library, and this is the only file that
// includes it.
#include "main/image_file.h"

#include <sys/stat.h>
#include <tiffio.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CImg.h"
#include "image/parallel.h"
#include "main/jpeg_file.h"
#include "main/png_file.h"
#include "main/pnm_file.h"
#include "main/samples.h"
#include "main/temporary_file.h"
#include "main/tiff_file.h"

using cimg_library::CImg;
using cimg_library::CImgException;

namespace {

std::string extension_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// The library's message without its "[instance(...)] CImg<double>::load(): " prefix.
std::string library_reason(const CImgException& e) {
  const std::string message = e.what();
  const std::size_t call = message.find("): ", message.find("CImg<"));
  return call == std::string::npos ? message : message.substr(call + 3);
}

long long file_size(const std::string& path) {
  struct stat s;
  return ::stat(path.c_str(), &s) == 0 ? static_cast<long long>(s.st_size) : -1;
}

// ---- reading ----

enum class Reader { png, binary_pnm, pnm, pfm, jpeg, tiff, bmp, raw_cimg, ascii, unknown };

// The format, from the file's first bytes (from the extension only for the library's own
// formats, which have no signature). Anything else is refused, so the library never hands a
// file to an external converter program.
Reader input_format(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    throw FileError("cannot read " + path + ": it is a folder, not a picture");
  unsigned char head[8] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  const std::size_t n = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  if (n == 0) throw FileError("cannot read " + path + ": the file is empty");
  const auto starts = [&](const char* magic, std::size_t length) {
    return n >= length && std::memcmp(head, magic, length) == 0;
  };
  if (starts("\x89PNG\r\n\x1a\n", 8)) return Reader::png;
  if (starts("P4", 2) || starts("P5", 2) || starts("P6", 2)) return Reader::binary_pnm;
  if (n >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '3') return Reader::pnm;
  if (starts("PF", 2) || starts("Pf", 2)) return Reader::pfm;
  if (starts("\xff\xd8\xff", 3)) return Reader::jpeg;
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return Reader::tiff;
  if (starts("BM", 2)) return Reader::bmp;
  const std::string ext = extension_of(path);
  if (ext == "cimg" || ext == "cimgz") return Reader::raw_cimg;
  if (ext == "asc") return Reader::ascii;
  return Reader::unknown;
}

// libtiff prints its errors and warnings itself unless told not to; they are reported once.
void quiet_tiff() {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
}

// Bits per sample of a TIFF's first page, 0 for floating-point samples; checks that the
// pages fit in memory before the library allocates them.
unsigned tiff_bits(const std::string& path) {
  quiet_tiff();
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) throw FileError("cannot read " + path + ": damaged or truncated TIFF");
  uint32_t width = 0, height = 0;
  uint16_t bits = 8, format = SAMPLEFORMAT_UINT, channels = 1;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  // Every strip of every page must lie inside the file; the library only warns about a
  // short read and keeps the zeros.
  const long long size = file_size(path);
  bool inside = true;
  std::size_t pages = 0;
  do {
    ++pages;
    uint64_t* offsets = nullptr;
    uint64_t* counts = nullptr;
    const bool tiled = TIFFIsTiled(tiff);
    const uint32_t pieces = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    if (TIFFGetField(tiff, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets) &&
        TIFFGetField(tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts))
      for (uint32_t i = 0; i < pieces; ++i)
        if (offsets[i] + counts[i] > static_cast<uint64_t>(size)) inside = false;
    // Every strip or tile must decode: the library mishandles one that does not (it reads
    // the file's name after closing it).
    if (inside) {
      std::vector<unsigned char> scratch(static_cast<std::size_t>(tiled ? TIFFTileSize(tiff) : TIFFStripSize(tiff)));
      for (uint32_t i = 0; i < pieces && inside; ++i)
        inside = (tiled ? TIFFReadEncodedTile(tiff, i, scratch.data(), -1)
                        : TIFFReadEncodedStrip(tiff, i, scratch.data(), -1)) >= 0;
    }
  } while (inside && TIFFReadDirectory(tiff));
  TIFFClose(tiff);
  if (!inside) throw FileError("cannot read " + path + ": damaged or truncated TIFF data");
  check_picture_fits(width, height, pages, channels, path);
  return format == SAMPLEFORMAT_IEEEFP ? 0 : bits;
}

// The image library reads BMP headers without checking them (a huge palette size overflows
// its arithmetic) and only warns about a short read: accept what it handles correctly, an
// uncompressed picture with a plausible header that holds all its rows, and nothing else.
void check_bmp(const std::string& path) {
  unsigned char header[54] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const std::size_t n = file ? std::fread(header, 1, sizeof header, file) : 0;
  if (file) std::fclose(file);
  const auto u32 = [&](int at) {
    return std::uint32_t(header[at]) | std::uint32_t(header[at + 1]) << 8 |
           std::uint32_t(header[at + 2]) << 16 | std::uint32_t(header[at + 3]) << 24;
  };
  const auto damaged = [&](const std::string& why) {
    return FileError("cannot read " + path + ": " + why);
  };
  if (n < sizeof header) throw damaged("damaged or truncated BMP");
  const long long size = file_size(path);
  const std::uint32_t offset = u32(10), header_size = u32(14), compression = u32(30), colours = u32(46);
  const std::int32_t width = static_cast<std::int32_t>(u32(18)), height = static_cast<std::int32_t>(u32(22));
  const unsigned bits = header[28] | header[29] << 8;
  if (header_size < 40 || header_size > 124 || width <= 0 || height == 0 || height == INT32_MIN ||
      (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
      colours > 256 || offset > size)
    throw damaged("damaged BMP header");
  if (compression != 0) throw damaged("compressed BMP files are not supported");
  const long long h = height < 0 ? -static_cast<long long>(height) : height;
  check_picture_fits(static_cast<std::size_t>(width), static_cast<std::size_t>(h), 1, 3, path);
  const long long row = (static_cast<long long>(bits) * width + 31) / 32 * 4;
  if (size < static_cast<long long>(offset) + row * h)
    throw damaged("the BMP ends before its last pixel (truncated?)");
}

// Loads through the library, taking its buffer over and dividing by the unit.
Image library_load(const std::string& path, Reader reader, unsigned bits) {
  CImg<double> loaded;
  switch (reader) {
    case Reader::pnm: loaded.load_pnm(path.c_str()); break;
    case Reader::pfm: loaded.load_pfm(path.c_str()); break;
    case Reader::tiff: loaded.load_tiff(path.c_str()); break;
    case Reader::bmp: loaded.load_bmp(path.c_str()); break;
    case Reader::raw_cimg: loaded.load_cimg(path.c_str()); break;
    case Reader::ascii: loaded.load_ascii(path.c_str()); break;
    default: break;
  }
  Image image;
  image.width = loaded.width();
  image.height = loaded.height();
  image.depth = loaded.depth();
  image.spectrum = loaded.spectrum();
  image.bits = bits;
  image.unit = bits == 16 ? 65535.0 : 255.0;
  // The library allocates with new[] and keeps its buffer in public members: take it over
  // instead of copying the whole picture.
  image.values.reset(loaded._data);
  loaded._data = nullptr;
  loaded._width = loaded._height = loaded._depth = loaded._spectrum = 0;
  double* values = image.values.get();
  const double unit = image.unit;
  parallel_ranges(image.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) values[i] = values[i] / unit;
  });
  return image;
}

Image read_picture(const std::string& path) {
  const Reader reader = input_format(path);
  switch (reader) {
    case Reader::png: return read_png(path);
    case Reader::jpeg: return read_jpeg(path);
    case Reader::bmp: check_bmp(path); return library_load(path, reader, 8);
    case Reader::binary_pnm: return read_pnm(path);
    case Reader::tiff: {
      const unsigned bits = tiff_bits(path);
      return library_load(path, reader, bits == 16 ? 16 : (bits == 0 ? 0 : 8));
    }
    case Reader::pnm: check_pnm_header(path); return library_load(path, reader, 8);
    case Reader::pfm: check_pnm_header(path); return library_load(path, reader, 0);
    case Reader::raw_cimg:
    case Reader::ascii: return library_load(path, reader, 0);
    case Reader::unknown:
      throw FileError("cannot read " + path +
                      ": not a picture in a format kelvane reads (PNG, JPEG, TIFF, PNM, PFM, "
                      "BMP, .cimg, .asc)");
    default: return library_load(path, reader, 8);
  }
}

// ---- writing ----

enum class Writer { png, pnm, pbm, jpeg, bmp, tiff, pfm, cimg, cimgz, ascii };

struct OutputFormat {
  const char* extension;
  Writer writer;
  bool integers;  // samples are 8- or 16-bit integers, not the raw values
  bool sixteen;   // can hold 16-bit samples
  bool volumes;   // can hold more than one slice
};

const OutputFormat output_formats[] = {
    {"png", Writer::png, true, true, false},      {"pbm", Writer::pbm, true, false, false},
    {"pgm", Writer::pnm, true, true, false},
    {"ppm", Writer::pnm, true, true, false},      {"pnm", Writer::pnm, true, true, false},
    {"jpg", Writer::jpeg, true, false, false},    {"jpeg", Writer::jpeg, true, false, false},
    {"jpe", Writer::jpeg, true, false, false},    {"bmp", Writer::bmp, true, false, false},
    {"tif", Writer::tiff, true, true, true},      {"tiff", Writer::tiff, true, true, true},
    {"pfm", Writer::pfm, false, false, false},    {"cimg", Writer::cimg, false, false, true},
    {"cimgz", Writer::cimgz, false, false, true}, {"asc", Writer::ascii, false, false, true},
};

const OutputFormat& output_format(const std::string& path) {
  const std::string ext = extension_of(path);
  for (const auto& format : output_formats)
    if (ext == format.extension) return format;
  const std::string what = ext.empty() ? "no extension to choose a picture format by" : "unknown picture format '." + ext + "'";
  throw FileError("cannot write " + path + ": " + what +
                  " (use .png, .jpg, .tif, .ppm, .pgm, .pnm, .pbm, .bmp, .pfm, .cimg or .asc)");
}

// The saved values as a library image of the sample type: integer samples are the scaled,
// clamped value truncated toward zero, as the library converts doubles itself.
template <class T>
CImg<T> library_copy(const Image& image, double unit) {
  CImg<T> copy(static_cast<unsigned>(image.width), static_cast<unsigned>(image.height),
               static_cast<unsigned>(image.depth), static_cast<unsigned>(image.spectrum));
  const double* in = image.values.get();
  T* out = copy.data();
  parallel_ranges(image.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) out[i] = static_cast<T>(saved_sample(in[i], unit));
  });
  return copy;
}

// Encodes into memory: the library does not always notice a failed write (and a failed JPEG
// write would end the process), so the bytes are written out by TemporaryFile, checked.
template <class T>
std::vector<char> library_encode(const CImg<T>& image, Writer writer) {
  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* stream = open_memstream(&buffer, &length);
  if (!stream) throw std::bad_alloc();
  try {
    switch (writer) {
      case Writer::pnm: image.save_pnm(stream); break;
      case Writer::jpeg: image.save_jpeg(stream); break;
      case Writer::bmp: image.save_bmp(stream); break;
      case Writer::pfm: image.save_pfm(stream); break;
      case Writer::cimg: image.save_cimg(stream, false); break;
      case Writer::cimgz: image.save_cimg(stream, true); break;
      case Writer::ascii: image.save_ascii(stream); break;
      default: break;
    }
  } catch (...) {
    std::fclose(stream);
    std::free(buffer);
    throw;
  }
  const bool failed = std::fclose(stream) != 0;
  std::vector<char> bytes(buffer, buffer + (failed ? 0 : length));
  std::free(buffer);
  if (failed) throw std::bad_alloc();
  return bytes;
}

void write_picture(const Image& image, const OutputFormat& format, const std::string& path) {
  const unsigned bits = format.integers ? (image.bits == 16 && format.sixteen ? 16 : 8) : 0;
  const double unit = bits == 8 ? 255.0 : image.unit;
  TemporaryFile file(path);
  if (format.writer == Writer::png) {
    file.write(encode_png(image, bits));
  } else if (format.writer == Writer::pbm) {
    file.write(encode_pbm(image));
  } else if (format.writer == Writer::pnm && (image.spectrum == 1 || image.spectrum == 3)) {
    file.write(encode_pnm(image, bits));
  } else if (format.writer == Writer::tiff) {
    file.release_descriptor();
    write_tiff(image, bits, file.path(), path);
  } else if (bits == 16) {
    file.write(library_encode(library_copy<unsigned short>(image, unit), format.writer));
  } else if (bits == 8) {
    file.write(library_encode(library_copy<unsigned char>(image, unit), format.writer));
  } else {
    file.write(library_encode(library_copy<double>(image, unit), format.writer));
  }
  file.commit();
}

}  // namespace

Image load_unit_image(const std::string& path) {
  // The library would also print its errors on the console; they are reported once, here.
  cimg_library::cimg::exception_mode(0U);
  try {
    return read_picture(path);
  } catch (const CImgException& e) {
    throw FileError("cannot read " + path + ": " + library_reason(e));
  }
}

void check_output_format(const std::string& path, std::size_t depth) {
  const OutputFormat& format = output_format(path);
  if (depth > 1 && !format.volumes)
    throw FileError("cannot write " + path + ": the picture has " + std::to_string(depth) +
                    " slices and ." + extension_of(path) + " holds one (use .tif or .cimg)");
}

void save_unit_image(const Image& image, const std::string& path) {
  cimg_library::cimg::exception_mode(0U);
  try {
    write_picture(image, output_format(path), path);
  } catch (const CImgException& e) {
    throw FileError("cannot write " + path + ": " + library_reason(e));
  }
}
