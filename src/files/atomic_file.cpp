#include "files/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "files/file_error.h"

namespace kelvane {

namespace {

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// The file a write to `path` should replace: the path itself, or the end of its chain of
// symbolic links (which may not exist yet).
std::string link_target(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
    if (n < 0) return current;
    const std::string link(buffer, static_cast<std::size_t>(n));
    current = link[0] == '/' ? link : folder_of(current) + "/" + link;
  }
  throw write_error(path, ELOOP);
}

mode_t mode_for(const std::string& target) {
  struct stat existing;
  if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) return existing.st_mode & 07777;
  // The permissions a new file would get: 0666 less the umask, read without changing it.
  mode_t mask = 022;
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[128];
    while (std::fgets(line, sizeof line, status))
      if (std::strncmp(line, "Umask:", 6) == 0) mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
    std::fclose(status);
  }
  return 0666 & ~mask;
}

std::string hidden_name(const std::string& folder) {
  static std::mt19937_64 random(std::random_device{}());
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = folder + "/.kelvane-";
  for (int i = 0; i < 10; ++i) name += letters[random() % 36];
  return name;
}

// Named temporary files that exist now, for unlink_unfinished(), which may run in a signal
// handler: fixed slots of plain characters, since a handler may not allocate or lock. A slot
// is claimed by one file, which alone writes and clears it; its name is published by `ready`.
constexpr int slots = 64;
char pending[slots][PATH_MAX];
std::atomic<bool> claimed[slots];
std::atomic<bool> ready[slots];

// The slot that now holds the path, or -1 when all are taken (the file is then removed on
// failure but not on a signal).
int remember(const std::string& path) {
  for (int i = 0; i < slots; ++i) {
    bool expected = false;
    if (path.size() < PATH_MAX && claimed[i].compare_exchange_strong(expected, true)) {
      std::memcpy(pending[i], path.c_str(), path.size() + 1);
      ready[i].store(true);
      return i;
    }
  }
  return -1;
}

void forget(int& slot) {
  if (slot < 0) return;
  ready[slot].store(false);
  claimed[slot].store(false);
  slot = -1;
}

}  // namespace

AtomicFile::AtomicFile(const std::string& output, Creation creation) : output_(output), target_(link_target(output)) {
  struct stat existing;
  if (::stat(target_.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
    throw FileError("cannot write " + output + ": it is a folder", output, EISDIR);
  const std::string folder = folder_of(target_);
  const mode_t mode = mode_for(target_);
  mode_ = mode;
  if (creation == Creation::by_encoder) {
    // A name nobody has, in a folder we may write: checked by making it and letting it go.
    // It is remembered first, so that a signal meanwhile removes it too.
    for (int attempt = 0; attempt < 100 && named_.empty(); ++attempt) {
      const std::string name = hidden_name(folder);
      slot_ = remember(name);
      const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
      if (fd < 0) {
        const int error = errno;
        forget(slot_);
        if (error != EEXIST) throw write_error(output, error);
        continue;
      }
      ::close(fd);
      ::unlink(name.c_str());
      named_ = name;
    }
    if (named_.empty()) throw write_error(output, EEXIST);
    return;
  }
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
  if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files here: a hidden name, removed on failure and by unlink_unfinished().
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      named_ = hidden_name(folder);
      slot_ = remember(named_);
      fd_ = ::open(named_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, mode);
      if (fd_ < 0) {
        forget(slot_);
        if (errno != EEXIST) break;
      }
    }
    if (fd_ < 0) named_.clear();
  }
  if (fd_ < 0) throw write_error(output, errno);
  ::fchmod(fd_, mode);  // exactly the output's permissions, whatever the umask
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !named_.empty()) {
    ::unlink(named_.c_str());
    forget(slot_);
  }
}

std::string AtomicFile::name() const { return fd_ < 0 ? named_ : "/proc/self/fd/" + std::to_string(fd_); }

void AtomicFile::commit() {
  if (fd_ < 0) {
    // Made by the encoder: opened again to be flushed, with the output's permissions.
    fd_ = ::open(named_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw write_error(output_, errno);
    ::fchmod(fd_, mode_);
  }
  if (::fsync(fd_) != 0) throw write_error(output_, errno);
  if (named_.empty()) {
    // Give the unnamed file a hidden name, then move it over the target.
    const std::string folder = folder_of(target_);
    for (int attempt = 0; attempt < 100 && named_.empty(); ++attempt) {
      const std::string name = hidden_name(folder);
      slot_ = remember(name);
      if (::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd_)).c_str(), AT_FDCWD, name.c_str(),
                   AT_SYMLINK_FOLLOW) == 0) {
        named_ = name;
      } else {
        const int error = errno;
        forget(slot_);
        if (error != EEXIST) throw write_error(output_, error);
      }
    }
    if (named_.empty()) throw write_error(output_, EEXIST);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw write_error(output_, errno);
  if (::rename(named_.c_str(), target_.c_str()) != 0) throw write_error(output_, errno);
  forget(slot_);
  committed_ = true;
  // The new name is durable once the folder is.
  const int folder = ::open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

void unlink_unfinished() {
  for (int i = 0; i < slots; ++i)
    if (ready[i].load()) ::unlink(pending[i]);
}

}  // namespace kelvane
