#include "files/tiff_io.h"

#include <cstdarg>
#include <cstdio>

#include "files/descriptor_io.h"

namespace kelvane {

const TiffText tiff_texts[9] = {
    {TIFFTAG_IMAGEDESCRIPTION, "Description"}, {TIFFTAG_DOCUMENTNAME, "DocumentName"}, {TIFFTAG_PAGENAME, "PageName"},
    {TIFFTAG_ARTIST, "Artist"},                {TIFFTAG_COPYRIGHT, "Copyright"},       {TIFFTAG_DATETIME, "DateTime"},
    {TIFFTAG_MAKE, "Make"},                    {TIFFTAG_MODEL, "Model"},               {TIFFTAG_HOSTCOMPUTER, "HostComputer"},
};

namespace {

using Io = TiffHandle::Io;

tmsize_t read_proc(thandle_t h, void* buffer, tmsize_t size) {
  Io& io = *static_cast<Io*>(h);
  const long long n = read_at(io.fd, buffer, static_cast<std::size_t>(size), static_cast<off_t>(io.position));
  if (n < 0) return -1;
  io.position += static_cast<toff_t>(n);
  return static_cast<tmsize_t>(n);
}

tmsize_t write_proc(thandle_t h, void* bytes, tmsize_t size) {
  Io& io = *static_cast<Io*>(h);
  if (io.write_error == 0) io.write_error = write_at(io.fd, bytes, static_cast<std::size_t>(size), static_cast<off_t>(io.position));
  if (io.write_error != 0) return -1;
  io.position += static_cast<toff_t>(size);
  return size;
}

toff_t seek_proc(thandle_t h, toff_t offset, int whence) {
  Io& io = *static_cast<Io*>(h);
  const long long size = file_size(io.fd);
  switch (whence) {
    case SEEK_SET: io.position = offset; break;
    case SEEK_CUR: io.position += offset; break;
    case SEEK_END: io.position = static_cast<toff_t>(size < 0 ? 0 : size) + offset; break;
    default: return static_cast<toff_t>(-1);
  }
  return io.position;
}

int close_proc(thandle_t) { return 0; }

toff_t size_proc(thandle_t h) {
  const long long size = file_size(static_cast<Io*>(h)->fd);
  return static_cast<toff_t>(size < 0 ? 0 : size);
}

int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

int keep_complaint(TIFF*, void* h, const char*, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  static_cast<Io*>(h)->complaint = text;
  return 1;
}

int ignore(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

TiffHandle::TiffHandle(int fd, const std::string& name, const char* mode, unsigned long long max_allocation) {
  io_.fd = fd;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, keep_complaint, &io_);
  TIFFOpenOptionsSetWarningHandlerExtR(options, ignore, &io_);
  if (max_allocation > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(max_allocation));
  tiff_ = TIFFClientOpenExt(name.c_str(), mode, &io_, read_proc, write_proc, seek_proc, close_proc, size_proc, map_proc,
                            unmap_proc, options);
  TIFFOpenOptionsFree(options);
}

TiffHandle::~TiffHandle() {
  if (tiff_) TIFFCleanup(tiff_);
}

bool TiffHandle::close() {
  if (!tiff_) return false;
  const bool flushed = TIFFFlush(tiff_) == 1;
  TIFFCleanup(tiff_);
  tiff_ = nullptr;
  return flushed && io_.write_error == 0;
}

}  // namespace kelvane
