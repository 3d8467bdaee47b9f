#include "files/vips_reader.h"

#include <unistd.h>
#include <vips/vips.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/cmyk.h"
#include "files/file_error.h"
#include "files/header_sizes.h"
#include "files/metadata.h"
#include "files/png_chunks.h"
#include "files/vips_metadata.h"
#include "files/vips_runtime.h"

namespace kelvane {

namespace {

// An owned reference to a libvips object.
template <class T>
class Ref {
 public:
  explicit Ref(T* p = nullptr) : p_(p) {}
  ~Ref() { reset(); }
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  void reset(T* p = nullptr) {
    if (p_) g_object_unref(p_);
    p_ = p;
  }
  T* get() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }

 private:
  T* p_;
};

bool sample_type_of(VipsBandFormat format, SampleType& type) {
  switch (format) {
    case VIPS_FORMAT_UCHAR: type = SampleType::u8; return true;
    case VIPS_FORMAT_CHAR: type = SampleType::i8; return true;
    case VIPS_FORMAT_USHORT: type = SampleType::u16; return true;
    case VIPS_FORMAT_SHORT: type = SampleType::i16; return true;
    case VIPS_FORMAT_UINT: type = SampleType::u32; return true;
    case VIPS_FORMAT_INT: type = SampleType::i32; return true;
    case VIPS_FORMAT_FLOAT: type = SampleType::f32; return true;
    case VIPS_FORMAT_DOUBLE: type = SampleType::f64; return true;
    default: return false;
  }
}

double unit_of_bits(unsigned bits) { return static_cast<double>((std::uint64_t(1) << bits) - 1); }

// The bits of red, green and blue in a 16-bit BMP: 5 each, or as its bit masks say. Its
// decoder hands them over stretched to 8 bits.
void bmp16_bits(int fd, unsigned bits[3]) {
  bits[0] = bits[1] = bits[2] = 5;
  unsigned char header[66] = {};
  if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return;
  const auto u32 = [&](int at) {
    return std::uint32_t(header[at]) | std::uint32_t(header[at + 1]) << 8 | std::uint32_t(header[at + 2]) << 16 |
           std::uint32_t(header[at + 3]) << 24;
  };
  if ((header[28] | header[29] << 8) != 16) {
    bits[0] = bits[1] = bits[2] = 8;
    return;
  }
  if (u32(30) != 3) return;  // not BI_BITFIELDS
  for (int c = 0; c < 3; ++c) bits[c] = static_cast<unsigned>(__builtin_popcount(u32(54 + 4 * c)));
}

// Whether a BMP's pixels index a palette of grays only: its decoder hands them over as RGB,
// and kelvane then keeps the one channel.
bool bmp_gray_palette(int fd) {
  unsigned char header[54] = {};
  if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
  const auto u32 = [&](const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
  };
  const std::uint32_t info = u32(header + 14), bits = header[28] | header[29] << 8;
  if (info < 40 || bits > 8 || bits == 0) return false;
  std::uint32_t entries = u32(header + 46);
  if (entries == 0 || entries > (1u << bits)) entries = 1u << bits;
  std::vector<unsigned char> palette(entries * 4);
  if (::pread(fd, palette.data(), palette.size(), 14 + info) != static_cast<ssize_t>(palette.size())) return false;
  for (std::uint32_t i = 0; i < entries; ++i)
    if (palette[4 * i] != palette[4 * i + 1] || palette[4 * i + 1] != palette[4 * i + 2]) return false;
  return true;
}

// Whether a WebP file holds a lossless picture (a VP8L chunk rather than VP8).
bool webp_lossless(int fd) {
  unsigned char chunk[8];
  for (off_t at = 12; at < (off_t(1) << 20);) {
    if (::pread(fd, chunk, 8, at) != 8) return false;
    if (std::memcmp(chunk, "VP8L", 4) == 0) return true;
    if (std::memcmp(chunk, "VP8 ", 4) == 0) return false;
    const std::uint32_t size = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | std::uint32_t(chunk[7]) << 24;
    at += 8 + static_cast<off_t>(size) + (size & 1);
  }
  return false;
}

// Resolution from a PNG's pHYs: pixels per metre are given per inch where that is a whole
// number of dots (11811 per metre is 300 dpi), per centimetre otherwise.
void png_resolution(const PngFacts& png, Metadata& metadata) {
  metadata.x_resolution = metadata.y_resolution = 0;
  metadata.resolution_unit = ResolutionUnit::none;
  if (!png.physical || png.x_per_unit == 0 || png.y_per_unit == 0) return;
  if (png.unit != 1) {
    metadata.x_resolution = png.x_per_unit;
    metadata.y_resolution = png.y_per_unit;
    return;
  }
  const double x = png.x_per_unit * 0.0254, y = png.y_per_unit * 0.0254;
  if (std::fabs(x - std::round(x)) < 0.01 && std::fabs(y - std::round(y)) < 0.01) {
    metadata.x_resolution = std::round(x);
    metadata.y_resolution = std::round(y);
    metadata.resolution_unit = ResolutionUnit::inch;
  } else {
    metadata.x_resolution = png.x_per_unit / 100.0;
    metadata.y_resolution = png.y_per_unit / 100.0;
    metadata.resolution_unit = ResolutionUnit::centimetre;
  }
}

class VipsReader final : public PictureReader {
 public:
  VipsReader(const std::string& path, int fd, const VipsLoader& loader, unsigned long long memory_limit)
      : PictureReader(path, loader.format, fd), loader_(loader), name_("/proc/self/fd/" + std::to_string(fd)) {
    const std::string op = loader.operation;
    // Checks of our own before the decoder trusts the file.
    bool whole = false;
    if (op == "pngload_source") whole = (png_ = check_png_chunks(fd_, path)).interlaced;
    if (op == "jpegload_source") whole = (jpeg_ = jpeg_facts(fd_)).progressive;
    if (op == "webpload_source") check_webp_header(fd_, path, memory_limit);
    if (op == "magickload") {
      check_bmp_header(fd_, path);
      gray_palette_ = bmp_gray_palette(fd_);
    }
    // These decoders hold a whole page in any case.
    if (op == "webpload_source" || op == "heifload_source" || op == "jp2kload_source" || op == "gifload_source" ||
        op == "magickload")
      whole = true;
    start_vips();
    Ref<VipsImage> first = load(0);
    int pages = 1;
    if (loader.pages && vips_image_get_typeof(first.get(), VIPS_META_N_PAGES) &&
        vips_image_get_int(first.get(), VIPS_META_N_PAGES, &pages) != 0)
      pages = 1;
    for (int p = 0; p < pages; ++p) add_page(p == 0 ? first.get() : load(p).get(), whole);
  }

  ~VipsReader() override {
    open_.reset();
    ::close(fd_);
  }

  void read_rows(std::size_t page, std::size_t y, std::size_t count, void* rows) override {
    if (!open_.get() || open_page_ != page || y < next_row_) {
      open_ = load(page);
      open_page_ = page;
      cmyk_ = cmyk_converter(open_.get());
    }
    const PageLayout& layout = pages_[page].layout;
    Ref<VipsRegion> region(vips_region_new(open_.get()));
    VipsRect rect = {0, static_cast<int>(y), static_cast<int>(layout.width), static_cast<int>(count)};
    if (!region.get() || vips_region_prepare(region.get(), &rect) != 0) {
      open_.reset();
      throw damaged();
    }
    const std::size_t row_bytes = layout.row_bytes();
    for (std::size_t r = 0; r < count; ++r) {
      const void* from = VIPS_REGION_ADDR(region.get(), 0, static_cast<int>(y + r));
      unsigned char* to = static_cast<unsigned char*>(rows) + r * row_bytes;
      if (cmyk_) cmyk_->convert(from, to, layout.width);
      else std::memcpy(to, from, row_bytes);
    }
    next_row_ = y + count;
  }

 private:
  FileError damaged() const {
    if (for_want_of_memory(take_vips_error())) return FileError("cannot read " + path_ + ": not enough memory to decode it", path_, ENOMEM);
    return read_error(path_, "damaged or truncated " + format_ + " file");
  }

  // A page, decoded on demand: rows are asked for in order.
  Ref<VipsImage> load(std::size_t page) {
    VipsOperation* operation = vips_operation_new(loader_.operation);
    if (!operation) {
      take_vips_error();
      throw read_error(path_, "this build of libvips cannot read " + format_ + " files");
    }
    if (std::strstr(loader_.operation, "_source")) {
      Ref<VipsSource> source(vips_source_new_from_file(name_.c_str()));
      if (source.get()) g_object_set(operation, "source", source.get(), nullptr);
    } else {
      g_object_set(operation, "filename", name_.c_str(), nullptr);
    }
    // A JPEG decoder's every complaint means missing or corrupt data (it fills in gray);
    // other decoders also warn about harmless things, such as a PNG's outdated profile.
    const bool jpeg = std::strcmp(loader_.operation, "jpegload_source") == 0;
    g_object_set(operation, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", jpeg ? VIPS_FAIL_ON_WARNING : VIPS_FAIL_ON_ERROR,
                 nullptr);
    if (loader_.pages) g_object_set(operation, "page", static_cast<int>(page), nullptr);
    // Building may hand back another operation in place of the one given.
    if (vips_cache_operation_buildp(&operation) != 0) {
      vips_object_unref_outputs(VIPS_OBJECT(operation));
      g_object_unref(operation);
      throw damaged();
    }
    Ref<VipsImage> image;
    g_object_get(operation, "out", image.out(), nullptr);
    vips_object_unref_outputs(VIPS_OBJECT(operation));
    g_object_unref(operation);
    if (gray_palette_ && image.get()->Bands == 3) {
      Ref<VipsImage> gray;
      if (vips_extract_band(image.get(), gray.out(), 0, nullptr) != 0) throw damaged();
      image = std::move(gray);
    }
    // Radiance files hold packed RGBE pixels: unpacked into floats.
    if (image.get()->Coding == VIPS_CODING_RAD) {
      Ref<VipsImage> floats;
      if (vips_rad2float(image.get(), floats.out(), nullptr) != 0) throw damaged();
      image = std::move(floats);
    }
    return image;
  }

  bool is_cmyk(VipsImage* image) const { return image->Type == VIPS_INTERPRETATION_CMYK && image->Bands >= 4; }

  std::unique_ptr<CmykToRgb> cmyk_converter(VipsImage* image) const {
    if (!is_cmyk(image)) return nullptr;
    SampleType type = SampleType::u8;
    sample_type_of(image->BandFmt, type);
    return std::make_unique<CmykToRgb>(path_, metadata_of(image).icc_profile, type,
                                       static_cast<std::size_t>(image->Bands - 4));
  }

  void add_page(VipsImage* image, bool whole) {
    if (image->Coding != VIPS_CODING_NONE) throw read_error(path_, "its pixels are coded in a way kelvane cannot read");
    PageInfo info;
    PageLayout& layout = info.layout;
    if (!sample_type_of(image->BandFmt, layout.sample))
      throw read_error(path_, "complex-valued samples are not supported");
    if (image->Xsize <= 0 || image->Ysize <= 0 || image->Bands <= 0) throw damaged();
    layout.width = static_cast<std::size_t>(image->Xsize);
    layout.height = static_cast<std::size_t>(image->Ysize);
    layout.channels = static_cast<std::size_t>(image->Bands);
    if (image->Type == VIPS_INTERPRETATION_LAB || image->Type == VIPS_INTERPRETATION_LABS ||
        image->Type == VIPS_INTERPRETATION_LABQ)
      throw read_error(path_, "its colours are in the CIELAB colour model, which kelvane cannot take as gray or RGB");
    Metadata metadata = metadata_of(image);
    const std::string op = loader_.operation;
    if (op == "pngload_source") {
      // Read from the file: libvips gives texts without their encoding, and not the rest.
      metadata.texts = png_.texts;
      metadata.png_colour_chunks = png_.colour_chunks;
      png_resolution(png_, metadata);
    }
    if (op == "jpegload_source") {
      for (const std::string& comment : jpeg_.comments) metadata.texts.emplace_back("Comment", comment);
      const char* subsampling = nullptr;
      if (vips_image_get_typeof(image, "jpeg-chroma-subsample") &&
          vips_image_get_string(image, "jpeg-chroma-subsample", &subsampling) == 0 && subsampling)
        info.encoding = subsampling;
    }
    if (op == "webpload_source") info.encoding = webp_lossless(fd_) ? "lossless" : "lossy";
    const std::unique_ptr<CmykToRgb> cmyk = cmyk_converter(image);
    if (cmyk) {
      layout.channels -= 1;
      // Converted through the profile, the colours are sRGB, which the profile does not describe.
      if (cmyk->through_profile()) metadata.icc_profile.clear();
    }
    if (vips_image_hasalpha(image)) layout.alpha = static_cast<int>(layout.channels) - 1;
    layout.bits = static_cast<unsigned>(sample_bytes(layout.sample) * 8);
    layout.coding.assign(layout.channels, SampleCoding{});
    if (is_floating(layout.sample)) {
      for (auto& c : layout.coding) c.unit = 1.0;
    } else if (is_signed(layout.sample)) {
      // Signed codes from -2^(b-1) up: offset onto 0 .. 2^b - 1.
      for (auto& c : layout.coding) c = SampleCoding{unit_of_bits(layout.bits), unit_of_bits(layout.bits - 1) + 1.0, 0.0};
    } else {
      unsigned bits[3] = {layout.bits, layout.bits, layout.bits};
      if (std::strcmp(loader_.operation, "magickload") == 0 && layout.sample == SampleType::u8) bmp16_bits(fd_, bits);
      layout.bits = 0;
      for (std::size_t c = 0; c < layout.channels; ++c) {
        // Codes of fewer bits arrive stretched over 8: code = round(sample * stretch).
        const unsigned b = c < 3 && static_cast<int>(c) != layout.alpha ? bits[c] : 8 * unsigned(sample_bytes(layout.sample));
        layout.coding[c].unit = unit_of_bits(b);
        if (b < 8 * sample_bytes(layout.sample)) layout.coding[c].stretch = unit_of_bits(b) / unit_of_bits(8);
        if (b > layout.bits) layout.bits = b;
      }
    }
    info.metadata = std::make_shared<Metadata>(std::move(metadata));
    if (whole)
      info.decoder_bytes = static_cast<long double>(layout.width) * layout.height * static_cast<std::size_t>(image->Bands) *
                           sample_bytes(layout.sample) * (std::strcmp(loader_.operation, "magickload") == 0 ? 3 : 1);
    pages_.push_back(info);
  }

  VipsLoader loader_;
  std::string name_;  // the open file, for libvips to open again
  PngFacts png_;
  JpegFacts jpeg_;
  bool gray_palette_ = false;
  Ref<VipsImage> open_;
  std::size_t open_page_ = 0;
  std::size_t next_row_ = 0;
  std::unique_ptr<CmykToRgb> cmyk_;
};

}  // namespace

std::unique_ptr<PictureReader> open_with_vips(const std::string& path, int fd, const VipsLoader& loader,
                                              unsigned long long memory_limit) {
  try {
    return std::make_unique<VipsReader>(path, fd, loader, memory_limit);
  } catch (...) {
    // The reader owns the descriptor only once it is constructed.
    ::close(fd);
    throw;
  }
}

}  // namespace kelvane
