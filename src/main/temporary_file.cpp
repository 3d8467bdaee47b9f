#include "main/temporary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "main/image_file.h"

namespace {

FileError write_error(const std::string& path, int error) {
  return FileError("cannot write " + path + ": " + std::strerror(error));
}

// The temporary file being written, removed if the process ends before it is renamed (a
// library that gives up by ending the process, for one).
std::string pending;

void remove_pending() {
  if (!pending.empty()) ::unlink(pending.c_str());
}

mode_t mode_for(const std::string& output) {
  struct stat existing;
  if (::stat(output.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

TemporaryFile::TemporaryFile(const std::string& output) : output_(output) {
  const std::size_t slash = output.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "./" : output.substr(0, slash + 1);
  const std::size_t dot = output.find_last_of('.');
  const std::string suffix = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : output.substr(dot);
  std::string name = folder + ".kelvane-XXXXXX" + suffix;
  fd_ = ::mkstemps(&name[0], static_cast<int>(suffix.size()));
  if (fd_ < 0) throw write_error(output, errno);
  path_ = name;
  static const bool registered = std::atexit(remove_pending) == 0;
  (void)registered;
  pending = path_;
  ::fchmod(fd_, mode_for(output));
}

TemporaryFile::~TemporaryFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(path_.c_str());
  pending.clear();
}

void TemporaryFile::write(const std::vector<char>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw write_error(output_, n < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
}

void TemporaryFile::release_descriptor() {
  ::close(fd_);
  fd_ = -1;
}

void TemporaryFile::commit() {
  if (fd_ < 0) {
    fd_ = ::open(path_.c_str(), O_RDONLY);
    if (fd_ < 0) throw write_error(output_, errno);
  }
  if (::fsync(fd_) != 0) throw write_error(output_, errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw write_error(output_, errno);
  if (::rename(path_.c_str(), output_.c_str()) != 0) throw write_error(output_, errno);
  committed_ = true;
}
