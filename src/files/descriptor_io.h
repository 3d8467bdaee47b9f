#pragma once
// Reading and writing an open file descriptor at given offsets, whole or not at all: short
// reads and writes are continued, interrupted ones retried, and a failed write is reported
// with its errno (ENOSPC when the disk is full).
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace kelvane {

// Bytes read at `offset`: fewer than `size` only at the end of the file; -1 on an error.
long long read_at(int fd, void* buffer, std::size_t size, off_t offset);

// Writes all `size` bytes at `offset`; returns 0, or the errno of the failure.
int write_at(int fd, const void* bytes, std::size_t size, off_t offset);

// The size of the open file, or -1.
long long file_size(int fd);

// Writes to an output at increasing or chosen offsets, keeping the first failure so that the
// writer can report it once: "cannot write {path}: No space left on device".
class OutputBytes {
 public:
  OutputBytes(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  // Appends at the current end of what was written.
  void append(const void* bytes, std::size_t size);
  void put(const void* bytes, std::size_t size, off_t offset);
  off_t end() const { return end_; }
  int error() const { return error_; }
  // Throws FileError if a write failed.
  void check() const;

 private:
  int fd_;
  std::string path_;
  off_t end_ = 0;
  int error_ = 0;
};

}  // namespace kelvane
