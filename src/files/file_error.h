#pragma once
#include <cstring>
#include <stdexcept>
#include <string>

namespace kelvane {

// A file that could not be read or written; the message says which and why, in the form
// "cannot read {path}: {why}" or "cannot write {path}: {why}". Where the system refused it,
// its error number travels with it, so that callers can tell a missing file from a damaged one.
struct FileError : std::runtime_error {
  FileError(const std::string& message, std::string path_ = "", int error_number_ = 0)
      : std::runtime_error(message), path(std::move(path_)), error_number(error_number_) {}
  std::string path;
  int error_number;
};

inline FileError read_error(const std::string& path, const std::string& why) {
  return FileError("cannot read " + path + ": " + why, path);
}
inline FileError write_error(const std::string& path, const std::string& why) {
  return FileError("cannot write " + path + ": " + why, path);
}
// The system's refusal, by its error number.
inline FileError read_error(const std::string& path, int error_number) {
  return FileError("cannot read " + path + ": " + std::strerror(error_number), path, error_number);
}
inline FileError write_error(const std::string& path, int error_number) {
  return FileError("cannot write " + path + ": " + std::strerror(error_number), path, error_number);
}

}  // namespace kelvane
