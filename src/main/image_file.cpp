// The only part of kelvane that talks to the image library.
#include "main/image_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CImg.h"
#include "image/parallel.h"

using cimg_library::CImg;
using cimg_library::CImgException;

namespace {

// The library would also print its errors on the console; the caller reports them once.
void quiet_library() { cimg_library::cimg::exception_mode(0U); }

std::string extension_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::string system_error(const std::string& path, int error) {
  return "cannot write " + path + ": " + std::strerror(error);
}

// The library's message without its "[instance(...)] CImg<double>::load(): " prefix.
std::string library_reason(const CImgException& e) {
  const std::string message = e.what();
  const std::size_t call = message.find("): ", message.find("CImg<"));
  return call == std::string::npos ? message : message.substr(call + 3);
}

// ---- input formats ----

enum class Reader { png, jpeg, tiff, pnm, pfm, bmp, cimg, ascii, unknown };

// The format, from the file's first bytes (the extension only for the library's own formats,
// which have no signature). Anything else is refused here, so the library never hands the
// file to an external converter program.
Reader input_format(const std::string& path) {
  unsigned char head[8] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw FileError("cannot read " + path + ": " + std::strerror(errno));
  const std::size_t n = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  const auto starts = [&](const char* magic, std::size_t length) {
    return n >= length && std::memcmp(head, magic, length) == 0;
  };
  if (starts("\x89PNG\r\n\x1a\n", 8)) return Reader::png;
  if (starts("\xff\xd8\xff", 3)) return Reader::jpeg;
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return Reader::tiff;
  if (n >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6') return Reader::pnm;
  if (starts("PF", 2) || starts("Pf", 2)) return Reader::pfm;
  if (starts("BM", 2)) return Reader::bmp;
  const std::string ext = extension_of(path);
  if (ext == "cimg" || ext == "cimgz") return Reader::cimg;
  if (ext == "asc") return Reader::ascii;
  return Reader::unknown;
}

void read_picture(CImg<double>& image, const std::string& path) {
  switch (input_format(path)) {
    case Reader::png: image.load_png(path.c_str()); break;
    case Reader::jpeg: image.load_jpeg(path.c_str()); break;
    case Reader::tiff: image.load_tiff(path.c_str()); break;
    case Reader::pnm: image.load_pnm(path.c_str()); break;
    case Reader::pfm: image.load_pfm(path.c_str()); break;
    case Reader::bmp: image.load_bmp(path.c_str()); break;
    case Reader::cimg: image.load_cimg(path.c_str()); break;
    case Reader::ascii: image.load_ascii(path.c_str()); break;
    case Reader::unknown:
      throw FileError("cannot read " + path +
                      ": not a picture in a format kelvane reads (PNG, JPEG, TIFF, PNM, PFM, "
                      "BMP, .cimg, .asc)");
  }
}

// ---- output formats ----

enum class Writer { png, jpeg, pnm, bmp, tiff, pfm, cimg, cimgz, ascii };

struct OutputFormat {
  const char* extension;
  Writer writer;
  bool bytes;    // samples are 8-bit integers, not the raw values
  bool volumes;  // can hold more than one slice
};

const OutputFormat output_formats[] = {
    {"png", Writer::png, true, false},     {"jpg", Writer::jpeg, true, false},
    {"jpeg", Writer::jpeg, true, false},   {"jpe", Writer::jpeg, true, false},
    {"pgm", Writer::pnm, true, false},     {"ppm", Writer::pnm, true, false},
    {"pnm", Writer::pnm, true, false},     {"bmp", Writer::bmp, true, false},
    {"tif", Writer::tiff, true, true},     {"tiff", Writer::tiff, true, true},
    {"pfm", Writer::pfm, false, false},    {"cimg", Writer::cimg, false, true},
    {"cimgz", Writer::cimgz, false, true}, {"asc", Writer::ascii, false, true},
};

const OutputFormat& output_format(const std::string& path) {
  const std::string ext = extension_of(path);
  for (const auto& format : output_formats)
    if (ext == format.extension) return format;
  throw FileError("cannot write " + path + ": unknown picture format '." + ext +
                  "' (use .png, .jpg, .tif, .ppm, .pgm, .pnm, .bmp, .pfm, .cimg or .asc)");
}

// What saving stores for a leveled value: v * 255 clamped to [0, 255]; NaN becomes 0.
inline double saved_value(double v) {
  const double scaled = v * 255.0;
  return scaled > 255.0 ? 255.0 : (scaled > 0.0 ? scaled : 0.0);
}

// The scaled copy, converted straight to the sample type. An integer sample takes the value
// truncated toward zero, exactly as the library converts doubles when it writes them.
template <class T>
CImg<T> scaled_copy(const Image& image) {
  CImg<T> copy(static_cast<unsigned>(image.width), static_cast<unsigned>(image.height),
               static_cast<unsigned>(image.depth), static_cast<unsigned>(image.spectrum));
  const double* in = image.values.get();
  T* out = copy.data();
  parallel_ranges(image.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) out[i] = static_cast<T>(saved_value(in[i]));
  });
  return copy;
}

// Encodes into memory first: the library does not always notice a failed write (and a
// failed JPEG write would end the process), so the bytes are written out here, checked.
template <class T>
std::vector<char> encode(const CImg<T>& image, Writer writer) {
  char* buffer = nullptr;
  std::size_t length = 0;
  std::FILE* stream = open_memstream(&buffer, &length);
  if (!stream) throw std::bad_alloc();
  try {
    switch (writer) {
      case Writer::png: image.save_png(stream); break;
      case Writer::jpeg: image.save_jpeg(stream); break;
      case Writer::pnm: image.save_pnm(stream); break;
      case Writer::bmp: image.save_bmp(stream); break;
      case Writer::pfm: image.save_pfm(stream); break;
      case Writer::cimg: image.save_cimg(stream, false); break;
      case Writer::cimgz: image.save_cimg(stream, true); break;
      case Writer::ascii: image.save_ascii(stream); break;
      case Writer::tiff: break;
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

// ---- the temporary file beside the output ----

// Path of the temporary file that is being written, removed if the process ends early.
std::string pending_temporary;

void remove_pending_temporary() {
  if (!pending_temporary.empty()) ::unlink(pending_temporary.c_str());
}

class TemporaryFile {
 public:
  // Creates "{folder}/.kelvane-XXXXXX.{ext}" beside the output, with the permissions the
  // output has (or would get), so the rename changes nothing but the contents.
  explicit TemporaryFile(const std::string& output) : output_(output) {
    const std::size_t slash = output.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : output.substr(0, slash + 1);
    const std::size_t dot = output.find_last_of('.');
    const std::string suffix = output.substr(dot);
    std::string name = folder + (slash == std::string::npos ? "/" : "") + ".kelvane-XXXXXX" + suffix;
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    fd_ = ::mkstemps(buffer.data(), static_cast<int>(suffix.size()));
    if (fd_ < 0) throw FileError(system_error(output, errno));
    path_ = buffer.data();
    static const bool registered = (std::atexit(remove_pending_temporary), true);
    (void)registered;
    pending_temporary = path_;
    struct stat existing;
    mode_t mode;
    if (::stat(output.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
      mode = existing.st_mode & 07777;
    } else {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    ::fchmod(fd_, mode);
  }

  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(path_.c_str());
    pending_temporary.clear();
  }

  const std::string& path() const { return path_; }

  void write(const std::vector<char>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw FileError(system_error(output_, n < 0 ? errno : ENOSPC));
      done += static_cast<std::size_t>(n);
    }
  }

  // Closes the descriptor, for writers that open the file by name.
  void release_descriptor() {
    ::close(fd_);
    fd_ = -1;
  }

  // Makes the contents durable, then puts the file in place of the output.
  void commit() {
    if (fd_ < 0) {
      fd_ = ::open(path_.c_str(), O_RDONLY);
      if (fd_ < 0) throw FileError(system_error(output_, errno));
    }
    if (::fsync(fd_) != 0) throw FileError(system_error(output_, errno));
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw FileError(system_error(output_, errno));
    if (::rename(path_.c_str(), output_.c_str()) != 0) throw FileError(system_error(output_, errno));
    committed_ = true;
  }

 private:
  std::string output_;
  std::string path_;
  int fd_ = -1;
  bool committed_ = false;
};

long long file_size(const std::string& path) {
  struct stat s;
  return ::stat(path.c_str(), &s) == 0 ? static_cast<long long>(s.st_size) : -1;
}

template <class T>
void write_picture(const CImg<T>& image, const OutputFormat& format, const std::string& path) {
  TemporaryFile file(path);
  if (format.writer == Writer::tiff) {
    // libtiff writes by name and its write errors do not reach us: an uncompressed file
    // shorter than its samples was cut short (a full disk, a size limit).
    file.release_descriptor();
    image.save_tiff(file.path().c_str());
    const long long samples = static_cast<long long>(image.size() * sizeof(T));
    if (file_size(file.path()) < samples) throw FileError(system_error(path, ENOSPC));
  } else {
    file.write(encode(image, format.writer));
  }
  file.commit();
}

}  // namespace

Image load_unit_image(const std::string& path) {
  quiet_library();
  CImg<double> loaded;
  try {
    read_picture(loaded, path);
  } catch (const CImgException& e) {
    throw FileError("cannot read " + path + ": " + library_reason(e));
  }
  Image image;
  image.width = loaded.width();
  image.height = loaded.height();
  image.depth = loaded.depth();
  image.spectrum = loaded.spectrum();
  // The library allocates with new[] and keeps its buffer in public members: take it over
  // instead of copying the whole picture.
  image.values.reset(loaded._data);
  loaded._data = nullptr;
  loaded._width = loaded._height = loaded._depth = loaded._spectrum = 0;

  double* values = image.values.get();
  parallel_ranges(image.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) values[i] = values[i] / 255.0;
  });
  return image;
}

void check_output_format(const std::string& path, std::size_t depth) {
  const OutputFormat& format = output_format(path);
  if (depth > 1 && !format.volumes)
    throw FileError("cannot write " + path + ": the picture has " + std::to_string(depth) +
                    " slices and ." + extension_of(path) +
                    " holds one (use .tif or .cimg)");
}

void save_unit_image(const Image& image, const std::string& path) {
  quiet_library();
  const OutputFormat& format = output_format(path);
  try {
    if (format.bytes) write_picture(scaled_copy<unsigned char>(image), format, path);
    else write_picture(scaled_copy<double>(image), format, path);
  } catch (const CImgException& e) {
    throw FileError("cannot write " + path + ": " + library_reason(e));
  }
}
