#pragma once
// Writing an output so that an existing file is replaced whole or not at all. The bytes go to
// an unnamed file in the destination's folder (O_TMPFILE), which is given a name only once it
// is complete and flushed to disk, and then renamed over the destination: a run that ends
// early, even by SIGKILL, leaves nothing behind. Where the filesystem has no unnamed files, a
// hidden named one is used, removed on failure and by unlink_unfinished().
// An output that is a symbolic link stays one: its target is replaced.
#include <sys/types.h>

#include <string>

namespace kelvane {

class AtomicFile {
 public:
  // by_encoder: for encoders that insist on creating their file by name themselves (cfitsio),
  // the file is not created here; name() gives the hidden name to create, fd() is -1.
  enum class Creation { here, by_encoder };
  explicit AtomicFile(const std::string& output, Creation creation = Creation::here);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // A descriptor open for reading and writing, for the encoder.
  int fd() const { return fd_; }
  // A name by which the file can be opened, for encoders that take names only.
  std::string name() const;
  // Makes the contents durable and puts the file in place of the output. Throws FileError.
  void commit();

 private:
  std::string output_;   // as given, for messages
  std::string target_;   // the file to replace: the output, or the end of its chain of links
  std::string named_;    // the hidden name, when the file has one
  int fd_ = -1;
  mode_t mode_ = 0644;
  bool committed_ = false;
  int slot_ = -1;  // where unlink_unfinished() finds the hidden name, or -1
};

// Removes the hidden files of outputs being written now. Async-signal-safe: for a program's
// signal handlers, before it ends.
void unlink_unfinished();

}  // namespace kelvane
