#include "files/picture_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/cimg_file.h"
#include "files/exr_reader.h"
#include "files/file_error.h"
#include "files/fits_reader.h"
#include "files/pnm_reader.h"
#include "files/tiff_reader.h"
#include "files/vips_reader.h"

namespace kelvane {

const char* const readable_formats_text =
    "PNG, JPEG, TIFF, PNM, PFM, BMP, FITS, OpenEXR, Radiance HDR, WebP, HEIF, AVIF, JPEG 2000, GIF, .cimg, .asc";

namespace {

std::string lowercase_extension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}

enum class Reader { none, pnm, tiff, openexr, fits, vips, cimg, ascii };

// A format's signature: its first bytes (at an offset for some), and what reads it.
struct Signature {
  const char* magic;
  std::size_t offset;
  std::size_t length;
  Reader reader;
  VipsLoader loader;  // for Reader::vips
};

const Signature signatures[] = {
    {"\x89PNG\r\n\x1a\n", 0, 8, Reader::vips, {"pngload_source", "PNG", false}},
    {"\xff\xd8\xff", 0, 3, Reader::vips, {"jpegload_source", "JPEG", false}},
    {"II*\0", 0, 4, Reader::tiff, {}},
    {"MM\0*", 0, 4, Reader::tiff, {}},
    {"II+\0", 0, 4, Reader::tiff, {}},  // BigTIFF
    {"MM\0+", 0, 4, Reader::tiff, {}},
    {"BM", 0, 2, Reader::vips, {"magickload", "BMP", true}},
    {"SIMPLE  =", 0, 9, Reader::fits, {}},
    {"\x76\x2f\x31\x01", 0, 4, Reader::openexr, {}},
    {"#?RADIANCE", 0, 10, Reader::vips, {"radload_source", "Radiance HDR", false}},
    {"#?RGBE", 0, 6, Reader::vips, {"radload_source", "Radiance HDR", false}},
    {"WEBP", 8, 4, Reader::vips, {"webpload_source", "WebP", true}},
    {"ftypheic", 4, 8, Reader::vips, {"heifload_source", "HEIF", true}},
    {"ftypheix", 4, 8, Reader::vips, {"heifload_source", "HEIF", true}},
    {"ftypmif1", 4, 8, Reader::vips, {"heifload_source", "HEIF", true}},
    {"ftypmsf1", 4, 8, Reader::vips, {"heifload_source", "HEIF", true}},
    {"ftypavif", 4, 8, Reader::vips, {"heifload_source", "AVIF", true}},
    {"\0\0\0\x0cjP  \r\n\x87\n", 0, 12, Reader::vips, {"jp2kload_source", "JPEG 2000", false}},
    {"\xff\x4f\xff\x51", 0, 4, Reader::vips, {"jp2kload_source", "JPEG 2000", false}},
    {"GIF87a", 0, 6, Reader::vips, {"gifload_source", "GIF", true}},
    {"GIF89a", 0, 6, Reader::vips, {"gifload_source", "GIF", true}},
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

// Which reader a file's first bytes (and, for CImg's own formats, its name) call for.
const Signature* signature_of(const unsigned char* head, std::size_t n) {
  for (const Signature& s : signatures)
    if (n >= s.offset + s.length && std::memcmp(head + s.offset, s.magic, s.length) == 0 &&
        (s.offset != 8 || std::memcmp(head, "RIFF", 4) == 0))
      return &s;
  return nullptr;
}

Reader reader_for(const unsigned char* head, std::size_t n, const std::string& path) {
  if (n >= 2 && head[0] == 'P' && ((head[1] >= '1' && head[1] <= '6') || head[1] == 'F' || head[1] == 'f')) return Reader::pnm;
  if (const Signature* s = signature_of(head, n)) return s->reader;
  const std::string ext = lowercase_extension(path);
  if (ext == "cimg" || ext == "cimgz") return Reader::cimg;
  if (ext == "asc") return Reader::ascii;
  return Reader::none;
}

}  // namespace

bool looks_like_picture(const std::string& path) {
  // Never waits: a named pipe is opened without blocking and not read.
  Descriptor file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info;
  if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  unsigned char head[16] = {};
  const ssize_t n = ::pread(file.fd, head, sizeof head, 0);
  return n > 0 && reader_for(head, static_cast<std::size_t>(n), path) != Reader::none;
}

bool named_as_picture(const std::string& path) {
  static const char* const extensions[] = {
      "png", "jpg", "jpeg", "jpe", "jfif", "tif", "tiff", "pnm", "pbm", "pgm", "ppm", "pam", "pfm",
      "bmp", "dib", "fits", "fit", "fts", "exr", "hdr", "pic", "webp", "heic", "heif", "avif", "jp2",
      "j2k", "j2c", "jpx", "gif", "cimg", "cimgz", "asc"};
  const std::string extension = lowercase_extension(path);
  for (const char* known : extensions)
    if (extension == known) return true;
  return false;
}

std::unique_ptr<PictureReader> open_picture(const std::string& path, unsigned long long memory_limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw read_error(path, errno);
  return open_picture_on(path, fd, memory_limit);
}

std::unique_ptr<PictureReader> PictureReader::another() const {
  const int copy = fd_ >= 0 ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1;
  if (copy < 0) return nullptr;
  try {
    return open_picture_on(path_, copy);
  } catch (const FileError&) {
    return nullptr;
  }
}

std::unique_ptr<PictureReader> open_picture_on(const std::string& path, int fd, unsigned long long memory_limit) {
  Descriptor file;
  file.fd = fd;
  struct stat info;
  if (::fstat(file.fd, &info) != 0) throw read_error(path, errno);
  if (S_ISDIR(info.st_mode)) throw FileError("cannot read " + path + ": it is a folder, not a picture", path, EISDIR);
  if (info.st_size == 0) throw read_error(path, "the file is empty");

  unsigned char head[16] = {};
  const ssize_t n = ::pread(file.fd, head, sizeof head, 0);
  if (n < 0) throw read_error(path, errno);
  switch (reader_for(head, static_cast<std::size_t>(n), path)) {
    case Reader::pnm: return open_pnm(path, file.release());
    case Reader::tiff: return open_tiff(path, file.release(), memory_limit);
    case Reader::openexr: return open_exr(path, file.release(), memory_limit);
    case Reader::fits: return open_fits(path, file.release());
    case Reader::vips:
      return open_with_vips(path, file.release(), signature_of(head, static_cast<std::size_t>(n))->loader, memory_limit);
    case Reader::cimg: return open_cimg(path, CImgFormat::cimg);
    case Reader::ascii: return open_cimg(path, CImgFormat::ascii);
    case Reader::none: break;
  }
  throw read_error(path, std::string("not a picture in a format kelvane reads (") + readable_formats_text + ")");
}

}  // namespace kelvane
