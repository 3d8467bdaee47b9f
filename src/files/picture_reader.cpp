#include "files/picture_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/cimg_file.h"
#include "files/file_error.h"
#include "files/oiio_reader.h"
#include "files/pnm_reader.h"

namespace kelvane {

const char* const readable_formats =
    "PNG, JPEG, TIFF, PNM, PFM, BMP, FITS, OpenEXR, Radiance HDR, WebP, HEIF, JPEG 2000, .cimg, .asc";

namespace {

std::string lowercase_extension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

// A signature and the image library's plug-in for it, with the name messages use.
struct Signature {
  const char* magic;
  std::size_t offset;
  std::size_t length;
  const char* plugin;
  const char* name;
};

const Signature signatures[] = {
    {"\x89PNG\r\n\x1a\n", 0, 8, "png", "PNG"},
    {"\xff\xd8\xff", 0, 3, "jpeg", "JPEG"},
    {"II*\0", 0, 4, "tiff", "TIFF"},
    {"MM\0*", 0, 4, "tiff", "TIFF"},
    {"II+\0", 0, 4, "tiff", "TIFF"},  // BigTIFF
    {"MM\0+", 0, 4, "tiff", "TIFF"},
    {"BM", 0, 2, "bmp", "BMP"},
    {"SIMPLE  =", 0, 9, "fits", "FITS"},
    {"\x76\x2f\x31\x01", 0, 4, "openexr", "OpenEXR"},
    {"#?RADIANCE", 0, 10, "hdr", "Radiance HDR"},
    {"#?RGBE", 0, 6, "hdr", "Radiance HDR"},
    {"WEBP", 8, 4, "webp", "WebP"},
    {"ftypheic", 4, 8, "heif", "HEIF"},
    {"ftypheix", 4, 8, "heif", "HEIF"},
    {"ftypmif1", 4, 8, "heif", "HEIF"},
    {"ftypmsf1", 4, 8, "heif", "HEIF"},
    {"ftypavif", 4, 8, "heif", "HEIF"},
    {"\0\0\0\x0cjP  \r\n\x87\n", 0, 12, "jpeg2000", "JPEG 2000"},
    {"\xff\x4f\xff\x51", 0, 4, "jpeg2000", "JPEG 2000"},
};

// Closes the descriptor unless a reader took it.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  int release() {
    const int f = fd;
    fd = -1;
    return f;
  }
};

// Which reader a file's first bytes (and, for the image library's own formats, its name)
// call for.
struct ReaderChoice {
  enum { none, pnm, library, cimg, ascii } reader = none;
  const Signature* signature = nullptr;
};

ReaderChoice reader_for(const unsigned char* head, std::size_t n, const std::string& path) {
  if (n >= 2 && head[0] == 'P' && ((head[1] >= '1' && head[1] <= '6') || head[1] == 'F' || head[1] == 'f'))
    return {ReaderChoice::pnm, nullptr};
  for (const Signature& s : signatures)
    if (n >= s.offset + s.length && std::memcmp(head + s.offset, s.magic, s.length) == 0 &&
        (s.offset != 8 || std::memcmp(head, "RIFF", 4) == 0))
      return {ReaderChoice::library, &s};
  const std::string ext = lowercase_extension(path);
  if (ext == "cimg" || ext == "cimgz") return {ReaderChoice::cimg, nullptr};
  if (ext == "asc") return {ReaderChoice::ascii, nullptr};
  return {};
}

}  // namespace

bool looks_like_picture(const std::string& path) {
  Descriptor file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  unsigned char head[16] = {};
  const ssize_t n = file.fd >= 0 ? ::pread(file.fd, head, sizeof head, 0) : -1;
  return n > 0 && reader_for(head, static_cast<std::size_t>(n), path).reader != ReaderChoice::none;
}

std::unique_ptr<PictureReader> open_picture(const std::string& path, unsigned long long memory_limit) {
  Descriptor file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file.fd < 0) throw read_error(path, std::strerror(errno));
  struct stat info;
  if (::fstat(file.fd, &info) != 0) throw read_error(path, std::strerror(errno));
  if (S_ISDIR(info.st_mode)) throw read_error(path, "it is a folder, not a picture");
  if (info.st_size == 0) throw read_error(path, "the file is empty");

  unsigned char head[16] = {};
  const ssize_t n = ::pread(file.fd, head, sizeof head, 0);
  if (n < 0) throw read_error(path, std::strerror(errno));
  const ReaderChoice choice = reader_for(head, static_cast<std::size_t>(n), path);
  switch (choice.reader) {
    case ReaderChoice::pnm: return open_pnm(path, file.release());
    case ReaderChoice::library:
      return open_with_image_library(path, file.release(), choice.signature->plugin, choice.signature->name,
                                     memory_limit);
    case ReaderChoice::cimg: return open_cimg(path, CImgFormat::cimg);
    case ReaderChoice::ascii: return open_cimg(path, CImgFormat::ascii);
    case ReaderChoice::none: break;
  }
  throw read_error(path, std::string("not a picture in a format kelvane reads (") + readable_formats + ")");
}

}  // namespace kelvane
