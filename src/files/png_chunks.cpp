#include "files/png_chunks.h"

#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "files/descriptor_io.h"
#include "files/file_error.h"

namespace kelvane {

namespace {

constexpr std::size_t largest_text = 1 << 20;

std::uint32_t be32(const unsigned char* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::string be32_bytes(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string latin1_to_utf8(const std::string& latin1) {
  std::string utf8;
  for (unsigned char c : latin1) {
    if (c < 0x80) utf8 += static_cast<char>(c);
    else utf8 += {static_cast<char>(0xc0 | c >> 6), static_cast<char>(0x80 | (c & 0x3f))};
  }
  return utf8;
}

bool valid_utf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return false;
    i += n;
  }
  return true;
}

// The text in Latin-1, where every character has a Latin-1 code.
bool utf8_to_latin1(const std::string& utf8, std::string& latin1) {
  latin1.clear();
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      latin1 += static_cast<char>(c);
    } else if ((c == 0xc2 || c == 0xc3) && i + 1 < utf8.size()) {
      latin1 += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3f));
    } else {
      return false;
    }
  }
  return true;
}

// Inflated zlib data, or false when damaged or beyond the largest text.
bool inflated(const std::string& in, std::string& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  std::vector<char> buffer(1 << 16);
  int result = Z_OK;
  out.clear();
  while (result == Z_OK && out.size() <= largest_text) {
    z.next_out = reinterpret_cast<Bytef*>(buffer.data());
    z.avail_out = static_cast<uInt>(buffer.size());
    result = inflate(&z, Z_NO_FLUSH);
    out.append(buffer.data(), buffer.size() - z.avail_out);
    if (result == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  inflateEnd(&z);
  return result == Z_STREAM_END && out.size() <= largest_text;
}

// A text chunk's keyword and text, as UTF-8; false for chunks that are not texts kelvane
// keeps (XMP travels on its own) or cannot read.
bool text_of(const std::string& type, const std::string& data, std::string& key, std::string& text) {
  const std::size_t end = data.find('\0');
  if (end == std::string::npos || end == 0) return false;
  key = latin1_to_utf8(data.substr(0, end));
  if (type == "tEXt") {
    text = latin1_to_utf8(data.substr(end + 1));
    return true;
  }
  if (type == "zTXt") {
    std::string latin1;
    if (end + 2 > data.size() || !inflated(data.substr(end + 2), latin1)) return false;
    text = latin1_to_utf8(latin1);
    return true;
  }
  // iTXt: compression flag, method, language tag, translated keyword, text.
  if (key == "XML:com.adobe.xmp" || end + 3 > data.size()) return false;
  const bool compressed = data[end + 1] != 0;
  const std::size_t language = data.find('\0', end + 3);
  const std::size_t translated = language == std::string::npos ? language : data.find('\0', language + 1);
  if (translated == std::string::npos) return false;
  const std::string body = data.substr(translated + 1);
  if (compressed) return inflated(body, text) && valid_utf8(text);
  text = body;
  return valid_utf8(text);
}

}  // namespace

std::string png_chunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return be32_bytes(static_cast<std::uint32_t>(data.size())) + body + be32_bytes(static_cast<std::uint32_t>(crc));
}

std::string png_text_chunk(const std::string& key, const std::string& utf8) {
  std::string latin1_key, latin1_text;
  if (!utf8_to_latin1(key, latin1_key)) latin1_key = "Comment";
  latin1_key = latin1_key.substr(0, 79);
  if (utf8_to_latin1(utf8, latin1_text)) return png_chunk("tEXt", latin1_key + '\0' + latin1_text);
  // Uncompressed, without a language or a translated keyword.
  return png_chunk("iTXt", latin1_key + std::string("\0\0\0\0\0", 5) + utf8);
}

PngFacts check_png_chunks(int fd, const std::string& path) {
  const auto damaged = [&](const char* why) { return read_error(path, std::string("damaged or truncated PNG file (") + why + ")"); };
  PngFacts facts;
  std::vector<unsigned char> buffer(1 << 16);
  off_t at = 8;
  for (bool first = true;; first = false) {
    unsigned char head[8];
    if (read_at(fd, head, 8, at) != 8) throw damaged("it ends before its last chunk");
    const std::uint32_t length = be32(head);
    if (length > 0x7fffffffu) throw damaged("a chunk length is out of range");
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    if (first && type != "IHDR") throw damaged("it does not begin with a header chunk");
    // Chunks kelvane reads are kept whole; the rest is only checked.
    const bool kept = type == "tEXt" || type == "zTXt" || type == "iTXt" || type == "gAMA" || type == "cHRM" ||
                      type == "sRGB" || type == "pHYs" || type == "IHDR";
    std::string data;
    uLong crc = crc32(0L, head + 4, 4);
    for (std::uint32_t done = 0; done < length;) {
      const std::size_t n = std::min<std::size_t>(buffer.size(), length - done);
      if (read_at(fd, buffer.data(), n, at + 8 + done) != static_cast<long long>(n)) throw damaged("it ends before its last chunk");
      crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
      if (kept && length <= largest_text) data.append(reinterpret_cast<const char*>(buffer.data()), n);
      done += static_cast<std::uint32_t>(n);
    }
    unsigned char stored[4];
    if (read_at(fd, stored, 4, at + 8 + length) != 4) throw damaged("it ends before its last chunk");
    if (be32(stored) != static_cast<std::uint32_t>(crc)) throw damaged("a chunk fails its checksum");
    if (type == "IHDR" && data.size() >= 13) facts.interlaced = data[12] != 0;
    if (type == "gAMA" || type == "cHRM" || type == "sRGB") facts.colour_chunks += png_chunk(type, data);
    if (type == "pHYs" && data.size() == 9) {
      facts.physical = true;
      facts.x_per_unit = be32(reinterpret_cast<const unsigned char*>(data.data()));
      facts.y_per_unit = be32(reinterpret_cast<const unsigned char*>(data.data()) + 4);
      facts.unit = data[8];
    }
    std::string key, text;
    if ((type == "tEXt" || type == "zTXt" || type == "iTXt") && text_of(type, data, key, text))
      facts.texts.emplace_back(key, text);
    if (type == "IEND") return facts;
    at += 12 + static_cast<off_t>(length);
  }
}

JpegFacts jpeg_facts(int fd) {
  JpegFacts facts;
  off_t at = 2;
  for (int segments = 0; segments < 10000; ++segments) {
    unsigned char marker[4];
    if (read_at(fd, marker, 4, at) != 4 || marker[0] != 0xff) return facts;
    const unsigned m = marker[1];
    if (m == 0xda || m == 0xd9) return facts;  // the scan data starts, or the file ends
    if (m == 0xc2 || m == 0xc6 || m == 0xca || m == 0xce) facts.progressive = true;
    if (m == 0xff || (m >= 0xd0 && m <= 0xd7) || m == 0x01) {
      at += (m == 0xff) ? 1 : 2;  // fill bytes and markers without a length
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(marker[2] << 8 | marker[3]);
    if (m == 0xfe && length > 2) {
      std::string text(length - 2, '\0');
      if (read_at(fd, &text[0], text.size(), at + 4) != static_cast<long long>(text.size())) return facts;
      // Some writers end the comment with a NUL, as C strings do.
      while (!text.empty() && text.back() == '\0') text.pop_back();
      facts.comments.push_back(valid_utf8(text) ? text : latin1_to_utf8(text));
    }
    at += 2 + static_cast<off_t>(length);
  }
  return facts;
}

std::string jpeg_comment_segment(const std::string& text) {
  const std::string body = text.substr(0, 65533);
  const std::size_t length = body.size() + 2;
  return std::string{'\xff', '\xfe', static_cast<char>(length >> 8), static_cast<char>(length & 0xff)} + body;
}

}  // namespace kelvane
