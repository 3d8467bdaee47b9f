#pragma once
#include <stdexcept>
#include <string>

namespace kelvane {

// A file that could not be read or written; the message says which and why, in the form
// "cannot read {path}: {why}" or "cannot write {path}: {why}".
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

inline FileError read_error(const std::string& path, const std::string& why) {
  return FileError("cannot read " + path + ": " + why);
}

inline FileError write_error(const std::string& path, const std::string& why) {
  return FileError("cannot write " + path + ": " + why);
}

}  // namespace kelvane
