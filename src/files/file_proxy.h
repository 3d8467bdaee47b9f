#pragma once
// The image library's reads and writes go through a file descriptor of ours, so that every
// read past the end of a file (a truncated picture) and every failed write (a full disk) is
// seen here, whatever the format's own code makes of it.
#include <OpenImageIO/filesystem.h>

#include <cstdint>
#include <string>

namespace kelvane {

class FileProxy final : public OIIO::Filesystem::IOProxy {
 public:
  // Reads from, or writes to, an open descriptor, which the proxy does not close.
  FileProxy(int fd, const std::string& name, Mode mode);

  const char* proxytype() const override { return "kelvane"; }
  std::size_t read(void* buf, std::size_t size) override;
  std::size_t write(const void* buf, std::size_t size) override;
  std::size_t pread(void* buf, std::size_t size, int64_t offset) override;
  std::size_t pwrite(const void* buf, std::size_t size, int64_t offset) override;
  std::size_t size() const override;
  bool seek(int64_t offset) override;

  // A read asked for bytes past the end of the file.
  bool read_past_end() const { return read_past_end_; }
  // A read that started at or after the end: the decoder wanted data that is not there.
  bool read_at_end() const { return read_at_end_; }
  // errno of the first write that failed, 0 while none has.
  int write_error() const { return write_error_; }

 private:
  int fd_;
  int64_t size_ = 0;
  bool read_past_end_ = false;
  bool read_at_end_ = false;
  int write_error_ = 0;
};

}  // namespace kelvane
