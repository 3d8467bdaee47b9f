#include "tiff_bytes.h"

namespace {

void put(std::string& s, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

struct Entry {
  std::uint16_t tag, type;  // type 3 SHORT, 4 LONG
  std::vector<std::uint32_t> values;
};

std::size_t directory_size(const std::vector<Entry>& entries) {
  std::size_t size = 2 + 12 * entries.size() + 4;
  for (const Entry& e : entries) {
    const std::size_t bytes = e.values.size() * (e.type == 3 ? 2 : 4);
    if (bytes > 4) size += bytes;
  }
  return size;
}

// Writes a directory at `at` whose out-of-line values follow it; `next` is the next one's offset.
void write_directory(std::string& s, std::size_t at, const std::vector<Entry>& entries, std::uint32_t next) {
  put(s, at, static_cast<std::uint32_t>(entries.size()), 2);
  std::size_t extra = at + 2 + 12 * entries.size() + 4;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const std::size_t p = at + 2 + 12 * i;
    const int width = e.type == 3 ? 2 : 4;
    put(s, p, e.tag, 2);
    put(s, p + 2, e.type, 2);
    put(s, p + 4, static_cast<std::uint32_t>(e.values.size()), 4);
    std::size_t where = p + 8;
    if (e.values.size() * width > 4) {
      put(s, p + 8, static_cast<std::uint32_t>(extra), 4);
      where = extra;
      extra += e.values.size() * width;
    }
    for (std::size_t k = 0; k < e.values.size(); ++k) put(s, where + k * width, e.values[k], width);
  }
  put(s, at + 2 + 12 * entries.size(), next, 4);
}

std::vector<Entry> entries_of(const TiffPage& p, std::uint32_t data_offset) {
  std::vector<Entry> e = {
      {256, 4, {p.width}},
      {257, 4, {p.height}},
      {258, 3, std::vector<std::uint32_t>(p.samples, p.bits)},
      {259, 3, {1}},
      {262, 3, {p.photometric}},
      {273, 4, {data_offset}},
      {274, 3, {p.orientation}},
      {277, 3, {p.samples}},
      {278, 4, {p.height}},
      {279, 4, {static_cast<std::uint32_t>(p.data.size())}},
      {284, 3, {1}},
  };
  if (!p.extra_samples.empty()) e.push_back({338, 3, std::vector<std::uint32_t>(p.extra_samples.begin(), p.extra_samples.end())});
  e.push_back({339, 3, std::vector<std::uint32_t>(p.samples, p.sample_format)});
  return e;
}

}  // namespace

std::string tiff_bytes(const std::vector<TiffPage>& pages, bool directories_first) {
  std::string s = std::string("II*\0", 4) + std::string(4, '\0');
  // Offsets: with the directories first, all directories, then all data; else data then
  // directory for each page.
  std::vector<std::size_t> dir_at(pages.size()), data_at(pages.size());
  std::size_t at = 8;
  if (directories_first) {
    for (std::size_t i = 0; i < pages.size(); ++i) dir_at[i] = at, at += directory_size(entries_of(pages[i], 0)) + 1 & ~std::size_t(1);
    for (std::size_t i = 0; i < pages.size(); ++i) data_at[i] = at, at += pages[i].data.size() + 1 & ~std::size_t(1);
  } else {
    for (std::size_t i = 0; i < pages.size(); ++i) {
      data_at[i] = at, at += pages[i].data.size() + 1 & ~std::size_t(1);
      dir_at[i] = at, at += directory_size(entries_of(pages[i], 0)) + 1 & ~std::size_t(1);
    }
  }
  s.resize(at, '\0');
  put(s, 4, static_cast<std::uint32_t>(dir_at[0]), 4);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    s.replace(data_at[i], pages[i].data.size(), pages[i].data);
    const std::uint32_t next = i + 1 < pages.size() ? static_cast<std::uint32_t>(dir_at[i + 1]) : 0;
    write_directory(s, dir_at[i], entries_of(pages[i], static_cast<std::uint32_t>(data_at[i])), next);
  }
  return s;
}

std::string packed_codes(const std::vector<std::uint32_t>& codes, std::uint32_t per_row, unsigned bits) {
  std::string out;
  if (bits >= 16) {
    for (std::uint32_t c : codes)
      for (unsigned b = 0; b < bits / 8; ++b) out += static_cast<char>((c >> (8 * b)) & 0xff);
    return out;
  }
  for (std::size_t row = 0; row < codes.size() / per_row; ++row) {
    unsigned acc = 0, filled = 0;
    for (std::uint32_t x = 0; x < per_row; ++x) {
      acc = (acc << bits) | codes[row * per_row + x];
      filled += bits;
      while (filled >= 8) out += static_cast<char>((acc >> (filled - 8)) & 0xff), filled -= 8;
    }
    if (filled > 0) out += static_cast<char>((acc << (8 - filled)) & 0xff);
  }
  return out;
}

std::vector<std::uint32_t> tiff_tag(const std::string& file, std::uint16_t tag) {
  const auto get = [&](std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(file.at(at + i));
    return v;
  };
  const std::size_t ifd = get(4, 4), entries = get(ifd, 2);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t p = ifd + 2 + 12 * i;
    if (get(p, 2) != tag) continue;
    const int width = get(p + 2, 2) == 3 ? 2 : 4;
    const std::uint32_t count = get(p + 4, 4);
    const std::size_t where = count * width > 4 ? get(p + 8, 4) : p + 8;
    std::vector<std::uint32_t> values;
    for (std::uint32_t k = 0; k < count; ++k) values.push_back(get(where + k * width, width));
    return values;
  }
  return {};
}
