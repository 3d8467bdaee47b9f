#pragma once
// A TIFF file through libtiff on a descriptor of ours: every read and write goes through
// pread and pwrite here, so that a failed write (a full disk) is known with its errno, and
// libtiff's messages are kept for the file instead of reaching the console.
#include <tiffio.h>

#include <string>

namespace kelvane {

// The text tags kept from page to page, and their names among a picture's texts.
struct TiffText {
  ttag_t tag;
  const char* name;
};
extern const TiffText tiff_texts[9];

class TiffHandle {
 public:
  // Opens `fd` (not closed by the handle) with libtiff's mode letters ("rm", "w", "w8").
  // `max_allocation`, when not 0, bounds any single allocation libtiff makes for the file.
  // get() is null if libtiff cannot open it.
  TiffHandle(int fd, const std::string& name, const char* mode, unsigned long long max_allocation = 0);
  ~TiffHandle();
  TiffHandle(const TiffHandle&) = delete;
  TiffHandle& operator=(const TiffHandle&) = delete;

  TIFF* get() const { return tiff_; }
  // Flushes and closes the file; false if anything could not be written.
  bool close();
  // errno of the first write that failed, 0 while none has.
  int write_error() const { return io_.write_error; }
  // libtiff's last complaint about the file.
  const std::string& complaint() const { return io_.complaint; }

  struct Io {
    int fd;
    toff_t position = 0;
    int write_error = 0;
    std::string complaint;
  };

 private:
  Io io_;
  TIFF* tiff_ = nullptr;
};

}  // namespace kelvane
