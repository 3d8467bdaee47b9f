#include "files/header_sizes.h"

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "files/file_error.h"
#include "files/memory_budget.h"

namespace kelvane {

namespace {

std::int32_t int32_at(const unsigned char* p) {
  return static_cast<std::int32_t>(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                                   std::uint32_t(p[3]) << 24);
}

}  // namespace

void check_exr_header(int fd, const std::string& path, unsigned long long memory_limit) {
  // The headers: after the magic number and version, attributes (name, type, size, value)
  // until an empty name ends a header, and an empty header ends the list of parts.
  std::vector<unsigned char> bytes(1 << 16);
  const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), 0);
  const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 0;
  const auto damaged = [&]() { return read_error(path, "damaged OpenEXR header"); };
  if (size < 8) throw damaged();
  const bool multipart = (bytes[5] & 0x10) != 0;
  std::size_t at = 8;
  for (int part = 0; part < 1000; ++part) {
    long long width = 0, height = 0, channels = 0;
    for (;;) {
      const unsigned char* name = bytes.data() + at;
      const std::size_t name_length = ::strnlen(reinterpret_cast<const char*>(name), size - at);
      if (at + name_length >= size) throw damaged();
      at += name_length + 1;
      if (name_length == 0) break;
      const std::size_t type_length = ::strnlen(reinterpret_cast<const char*>(bytes.data() + at), size - at);
      at += type_length + 1;
      if (at + 4 > size) throw damaged();
      const std::int32_t length = int32_at(bytes.data() + at);
      at += 4;
      if (length < 0 || at + static_cast<std::size_t>(length) > size) throw damaged();
      const unsigned char* value = bytes.data() + at;
      if (std::strcmp(reinterpret_cast<const char*>(name), "dataWindow") == 0 && length == 16) {
        width = static_cast<long long>(int32_at(value + 8)) - int32_at(value) + 1;
        height = static_cast<long long>(int32_at(value + 12)) - int32_at(value + 4) + 1;
      } else if (std::strcmp(reinterpret_cast<const char*>(name), "channels") == 0) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(length) && value[i] != 0; ++channels)
          i += ::strnlen(reinterpret_cast<const char*>(value + i), length - i) + 1 + 16;
      }
      at += static_cast<std::size_t>(length);
    }
    if (width <= 0 || height <= 0) throw damaged();
    // The decoded part in floats, the least its decoder and kelvane will hold.
    check_memory(path, static_cast<std::size_t>(width), static_cast<std::size_t>(height),
                 static_cast<long double>(width) * height * (channels > 0 ? channels : 1) * 4.0L, memory_limit);
    if (!multipart || at >= size || bytes[at] == 0) return;
  }
}

void check_webp_header(int fd, const std::string& path, unsigned long long memory_limit) {
  unsigned char h[30] = {};
  if (::pread(fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) throw read_error(path, "damaged WebP header");
  const unsigned char* d = h + 20;  // the first chunk's data
  long long width = 0, height = 0;
  if (std::memcmp(h + 12, "VP8X", 4) == 0) {
    width = 1 + (d[4] | d[5] << 8 | d[6] << 16);
    height = 1 + (d[7] | d[8] << 8 | d[9] << 16);
  } else if (std::memcmp(h + 12, "VP8L", 4) == 0) {
    const std::uint32_t bits = std::uint32_t(d[1]) | std::uint32_t(d[2]) << 8 | std::uint32_t(d[3]) << 16 | std::uint32_t(d[4]) << 24;
    width = 1 + (bits & 0x3fff);
    height = 1 + ((bits >> 14) & 0x3fff);
  } else {
    width = (d[6] | d[7] << 8) & 0x3fff;
    height = (d[8] | d[9] << 8) & 0x3fff;
  }
  // The decoder holds the whole picture as 8-bit RGBA.
  check_memory(path, static_cast<std::size_t>(width), static_cast<std::size_t>(height),
               static_cast<long double>(width) * height * 4.0L, memory_limit);
}

void check_bmp_header(int fd, const std::string& path) {
  // After the 14-byte file header, an info header of at least 40 bytes holds the bits per
  // pixel at 28 and the compression at 30. Run lengths of 8 bits need 8-bit pixels and of 4
  // bits 4-bit ones: the library's decoder writes past its rows otherwise.
  unsigned char h[34] = {};
  if (::pread(fd, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h) || int32_at(h + 14) < 40) return;
  const unsigned bits = h[28] | h[29] << 8;
  const std::int32_t compression = int32_at(h + 30);
  if ((compression == 1 && bits != 8) || (compression == 2 && bits != 4))
    throw read_error(path, "damaged BMP header (run-length coding of " + std::to_string(bits) + "-bit pixels)");
}

}  // namespace kelvane
