#include "files/descriptor_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/file_error.h"

namespace kelvane {

long long read_at(int fd, void* buffer, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

int write_at(int fd, const void* bytes, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, static_cast<const char*>(bytes) + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

long long file_size(int fd) {
  struct stat info;
  return ::fstat(fd, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

void OutputBytes::append(const void* bytes, std::size_t size) { put(bytes, size, end_); }

void OutputBytes::put(const void* bytes, std::size_t size, off_t offset) {
  if (error_ != 0) return;
  error_ = write_at(fd_, bytes, size, offset);
  if (error_ == 0 && offset + static_cast<off_t>(size) > end_) end_ = offset + static_cast<off_t>(size);
}

void OutputBytes::check() const {
  if (error_ != 0) throw write_error(path_, error_);
}

}  // namespace kelvane
