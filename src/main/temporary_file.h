#pragma once
// Writing an output so that an existing file is replaced whole or not at all: the bytes go
// to a temporary file beside the output, which is flushed to disk and then renamed over it.
#include <string>
#include <vector>

class TemporaryFile {
 public:
  // Creates "{folder}/.kelvane-XXXXXX{.ext}" beside the output (same extension, since some
  // writers pick the format from the name), with the permissions the output has or would get.
  explicit TemporaryFile(const std::string& output);
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }

  // Writes all the bytes, or throws FileError.
  void write(const std::vector<char>& bytes);
  // Closes the descriptor, for writers that open the file by its name.
  void release_descriptor();
  // Makes the contents durable, then renames the file over the output.
  void commit();

 private:
  std::string output_;
  std::string path_;
  int fd_ = -1;
  bool committed_ = false;
};
