#pragma once
// The bytes an encoder writes, passed on to the output with segments it does not write put
// where its format has them: PNG chunks right after the header chunk, JPEG segments after
// the application segments that follow the start of the image.
#include <cstddef>
#include <string>

#include "files/descriptor_io.h"

namespace kelvane {

class InsertingOutput {
 public:
  enum class Format { other, png, jpeg };
  // Writes to `fd`; `inserted` is nothing, PNG chunks or JPEG segments, as they are written.
  InsertingOutput(int fd, const std::string& path, Format format, std::string inserted);

  // Bytes of the encoder, in order.
  void write(const void* bytes, std::size_t size);
  // After the encoder's last bytes: anything held back is written.
  void finish();
  const OutputBytes& bytes() const { return out_; }

 private:
  // Where the inserted bytes go in what is held, or npos while more must be seen.
  std::size_t insertion_point() const;

  OutputBytes out_;
  Format format_;
  std::string inserted_;
  std::string held_;  // the file's first bytes, until the insertion point is known
  bool done_ = false;
};

}  // namespace kelvane
