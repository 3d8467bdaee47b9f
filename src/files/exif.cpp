#include "files/exif.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace kelvane {

namespace {

// Bytes of one value of each TIFF type (0: a type kelvane does not know, whose entries are
// dropped), and the unit whose byte order is swapped (a rational is two numbers).
std::size_t type_size(std::uint16_t type) {
  static const std::size_t sizes[19] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
  return type < 19 ? sizes[type] : 0;
}

std::size_t swap_unit(std::uint16_t type) {
  if (type == 5 || type == 10) return 4;
  return type_size(type);
}

bool is_pointer(std::uint16_t tag) {
  return tag == exif_ifd_tag || tag == gps_ifd_tag || tag == interoperability_ifd_tag;
}

std::uint64_t number(const unsigned char* p, std::size_t bytes, bool big_endian) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes; ++i) v |= std::uint64_t(p[big_endian ? bytes - 1 - i : i]) << (8 * i);
  return v;
}

void put(std::string& out, std::size_t at, std::uint64_t v, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

constexpr std::size_t most_entries = 1000;
constexpr std::size_t largest_value = 1 << 24;

ExifIfd read(const ByteSource& source, std::uint64_t offset, bool big_endian, bool bigtiff, std::set<std::uint64_t>& seen,
             int depth) {
  ExifIfd ifd;
  if (depth > 3 || !seen.insert(offset).second) return ifd;
  const std::size_t count_bytes = bigtiff ? 8 : 2, entry_bytes = bigtiff ? 20 : 12, field = bigtiff ? 8 : 4;
  unsigned char head[8];
  if (!source(offset, head, count_bytes)) return ifd;
  const std::uint64_t count = number(head, count_bytes, big_endian);
  if (count > most_entries) return ifd;
  std::string entries(static_cast<std::size_t>(count) * entry_bytes, '\0');
  if (!source(offset + count_bytes, &entries[0], entries.size())) return ifd;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* e = reinterpret_cast<const unsigned char*>(entries.data()) + i * entry_bytes;
    ExifEntry entry;
    entry.tag = static_cast<std::uint16_t>(number(e, 2, big_endian));
    entry.type = static_cast<std::uint16_t>(number(e + 2, 2, big_endian));
    const std::uint64_t n = number(e + 4, bigtiff ? 8 : 4, big_endian);
    const std::size_t size = type_size(entry.type);
    if (size == 0 || n == 0 || n > largest_value / size) continue;
    entry.count = static_cast<std::uint32_t>(n);
    entry.value.resize(static_cast<std::size_t>(n) * size);
    const unsigned char* inline_value = e + (bigtiff ? 12 : 8);
    if (entry.value.size() <= field) std::memcpy(&entry.value[0], inline_value, entry.value.size());
    else if (!source(number(inline_value, field, big_endian), &entry.value[0], entry.value.size())) continue;
    if (big_endian) {
      const std::size_t unit = swap_unit(entry.type);
      for (std::size_t at = 0; at + unit <= entry.value.size(); at += unit) std::reverse(&entry.value[at], &entry.value[at] + unit);
    }
    if (is_pointer(entry.tag)) {
      if (entry.count != 1 || (entry.type != 4 && entry.type != 13 && entry.type != 16 && entry.type != 18)) continue;
      const std::uint64_t child = number(reinterpret_cast<const unsigned char*>(entry.value.data()), size, false);
      ExifIfd sub = read(source, child, big_endian, bigtiff, seen, depth + 1);
      if (!sub.entries.empty() || !sub.children.empty()) ifd.children[entry.tag] = std::move(sub);
      continue;
    }
    ifd.entries.push_back(std::move(entry));
  }
  return ifd;
}

}  // namespace

ExifIfd read_ifd(const ByteSource& source, std::uint64_t offset, bool big_endian, bool bigtiff) {
  std::set<std::uint64_t> seen;
  return read(source, offset, big_endian, bigtiff, seen, 0);
}

ExifIfd parse_exif(const std::string& block) {
  if (block.size() < 8) return ExifIfd();
  const unsigned char* b = reinterpret_cast<const unsigned char*>(block.data());
  const bool big_endian = b[0] == 'M' && b[1] == 'M';
  if (!(big_endian || (b[0] == 'I' && b[1] == 'I')) || number(b + 2, 2, big_endian) != 42) return ExifIfd();
  const ByteSource source = [&](std::uint64_t offset, void* out, std::size_t size) {
    if (offset > block.size() || size > block.size() - offset) return false;
    std::memcpy(out, block.data() + offset, size);
    return true;
  };
  return read_ifd(source, number(b + 4, 4, big_endian), big_endian, false);
}

std::string ifd_bytes(const ExifIfd& ifd, std::uint64_t offset, bool bigtiff) {
  const std::size_t count_bytes = bigtiff ? 8 : 2, entry_bytes = bigtiff ? 20 : 12, field = bigtiff ? 8 : 4;
  // The entries in order of their tags, the pointers to sub-IFDs among them.
  std::vector<ExifEntry> entries = ifd.entries;
  for (const auto& child : ifd.children) {
    ExifEntry pointer;
    pointer.tag = child.first;
    pointer.type = bigtiff ? 18 : 4;
    pointer.count = 1;
    pointer.value.assign(type_size(pointer.type), '\0');
    entries.push_back(pointer);
  }
  std::stable_sort(entries.begin(), entries.end(), [](const ExifEntry& a, const ExifEntry& b) { return a.tag < b.tag; });
  std::string out(count_bytes + entries.size() * entry_bytes + field, '\0');
  put(out, 0, entries.size(), count_bytes);
  // Values that do not fit in their entry follow the directory, each at an even offset.
  std::vector<std::size_t> pointer_fields;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ExifEntry& e = entries[i];
    const std::size_t at = count_bytes + i * entry_bytes;
    put(out, at, e.tag, 2);
    put(out, at + 2, e.type, 2);
    put(out, at + 4, e.count, bigtiff ? 8 : 4);
    const std::size_t value_at = at + (bigtiff ? 12 : 8);
    if (is_pointer(e.tag)) pointer_fields.push_back(value_at);
    if (e.value.size() <= field) {
      std::memcpy(&out[value_at], e.value.data(), e.value.size());
    } else {
      if (out.size() % 2) out += '\0';
      put(out, value_at, offset + out.size(), field);
      out += e.value;
    }
  }
  // The sub-IFDs after it, in the order of their pointers.
  std::size_t k = 0;
  for (const ExifEntry& e : entries) {
    if (!is_pointer(e.tag)) continue;
    if (out.size() % 2) out += '\0';
    put(out, pointer_fields[k++], offset + out.size(), field);
    out += ifd_bytes(ifd.children.at(e.tag), offset + out.size(), bigtiff);
  }
  return out;
}

std::string exif_block(const ExifIfd& ifd0) {
  std::string block("II*\0\x08\0\0\0", 8);
  return block + ifd_bytes(ifd0, 8, false);
}

const ExifText exif_texts[5] = {
    {0x010f, "Make"}, {0x0110, "Model"}, {0x0132, "DateTime"}, {0x013b, "Artist"}, {0x8298, "Copyright"}};

ExifEntry text_entry(std::uint16_t tag, const std::string& text) {
  ExifEntry e;
  e.tag = tag;
  e.type = 2;
  e.value = text + '\0';
  e.count = static_cast<std::uint32_t>(e.value.size());
  return e;
}

const ExifEntry* entry_of(const ExifIfd& ifd, std::uint16_t tag) {
  for (const ExifEntry& e : ifd.entries)
    if (e.tag == tag) return &e;
  return nullptr;
}

ExifIfd without_tags(const ExifIfd& ifd, const std::vector<std::uint16_t>& tags) {
  ExifIfd copy;
  for (const ExifEntry& e : ifd.entries)
    if (std::find(tags.begin(), tags.end(), e.tag) == tags.end()) copy.entries.push_back(e);
  for (const auto& child : ifd.children) copy.children[child.first] = without_tags(child.second, tags);
  return copy;
}

std::uint32_t number_of(const ExifIfd& ifd, std::uint16_t tag, std::uint32_t fallback) {
  for (const ExifEntry& e : ifd.entries)
    if (e.tag == tag && (e.type == 3 || e.type == 4) && !e.value.empty())
      return static_cast<std::uint32_t>(number(reinterpret_cast<const unsigned char*>(e.value.data()), type_size(e.type), false));
  return fallback;
}

}  // namespace kelvane
