#include "files/file_proxy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kelvane {

FileProxy::FileProxy(int fd, const std::string& name, Mode mode) : IOProxy(name, mode), fd_(fd) {
  struct stat info;
  if (::fstat(fd, &info) == 0) size_ = info.st_size;
}

std::size_t FileProxy::pread(void* buf, std::size_t size, int64_t offset) {
  if (offset < 0) return 0;
  if (offset + static_cast<int64_t>(size) > size_) read_past_end_ = true;
  if (offset >= size_ && size > 0) read_at_end_ = true;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, static_cast<char*>(buf) + done, size - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t FileProxy::read(void* buf, std::size_t size) {
  const std::size_t n = pread(buf, size, m_pos);
  m_pos += static_cast<int64_t>(n);
  return n;
}

std::size_t FileProxy::pwrite(const void* buf, std::size_t size, int64_t offset) {
  std::size_t done = 0;
  while (done < size && write_error_ == 0) {
    const ssize_t n = ::pwrite(fd_, static_cast<const char*>(buf) + done, size - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) write_error_ = n < 0 ? errno : ENOSPC;
    else done += static_cast<std::size_t>(n);
  }
  if (offset + static_cast<int64_t>(done) > size_) size_ = offset + static_cast<int64_t>(done);
  return done;
}

std::size_t FileProxy::write(const void* buf, std::size_t size) {
  const std::size_t n = pwrite(buf, size, m_pos);
  m_pos += static_cast<int64_t>(n);
  return n;
}

std::size_t FileProxy::size() const { return static_cast<std::size_t>(size_); }

bool FileProxy::seek(int64_t offset) {
  if (offset < 0) return false;
  m_pos = offset;
  return true;
}

}  // namespace kelvane
