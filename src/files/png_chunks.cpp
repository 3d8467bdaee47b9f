#include "files/png_chunks.h"

#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "files/file_error.h"

namespace kelvane {

bool check_png_chunks(int fd, const std::string& path) {
  const auto damaged = [&](const char* why) { return read_error(path, std::string("damaged or truncated PNG file (") + why + ")"); };
  std::vector<unsigned char> buffer(1 << 16);
  off_t at = 8;
  bool interlaced = false;
  for (bool first = true;; first = false) {
    unsigned char head[8];
    if (::pread(fd, head, 8, at) != 8) throw damaged("it ends before its last chunk");
    const std::uint32_t length = std::uint32_t(head[0]) << 24 | std::uint32_t(head[1]) << 16 | std::uint32_t(head[2]) << 8 | head[3];
    if (length > 0x7fffffffu) throw damaged("a chunk length is out of range");
    if (first && std::memcmp(head + 4, "IHDR", 4) != 0) throw damaged("it does not begin with a header chunk");
    uLong crc = crc32(0L, head + 4, 4);
    for (std::uint32_t done = 0; done < length;) {
      const std::size_t n = std::min<std::size_t>(buffer.size(), length - done);
      if (::pread(fd, buffer.data(), n, at + 8 + done) != static_cast<ssize_t>(n)) throw damaged("it ends before its last chunk");
      crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
      done += static_cast<std::uint32_t>(n);
    }
    unsigned char stored[4];
    if (::pread(fd, stored, 4, at + 8 + length) != 4) throw damaged("it ends before its last chunk");
    const std::uint32_t expected = std::uint32_t(stored[0]) << 24 | std::uint32_t(stored[1]) << 16 | std::uint32_t(stored[2]) << 8 | stored[3];
    if (expected != static_cast<std::uint32_t>(crc)) throw damaged("a chunk fails its checksum");
    if (first && length >= 13) interlaced = buffer[12] != 0;
    if (std::memcmp(head + 4, "IEND", 4) == 0) return interlaced;
    at += 12 + static_cast<off_t>(length);
  }
}

bool jpeg_progressive(int fd) {
  off_t at = 2;
  for (int segments = 0; segments < 10000; ++segments) {
    unsigned char marker[4];
    if (::pread(fd, marker, 4, at) != 4 || marker[0] != 0xff) return false;
    const unsigned m = marker[1];
    if (m == 0xda || m == 0xd9) return false;  // the scan data starts, or the file ends
    if (m == 0xc2 || m == 0xc6 || m == 0xca || m == 0xce) return true;
    if (m == 0xff || (m >= 0xd0 && m <= 0xd7) || m == 0x01) {
      at += (m == 0xff) ? 1 : 2;  // fill bytes and markers without a length
      continue;
    }
    at += 2 + (marker[2] << 8 | marker[3]);
  }
  return false;
}

}  // namespace kelvane
