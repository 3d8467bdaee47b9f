#include "files/tiff_reader.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/cmyk.h"
#include "files/descriptor_io.h"
#include "files/exif.h"
#include "files/file_error.h"
#include "files/metadata.h"
#include "files/tiff_io.h"

namespace kelvane {

namespace {

double unit_of_bits(unsigned bits) { return static_cast<double>((std::uint64_t(1) << bits) - 1); }

std::string compression_name(std::uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE: return "none";
    case COMPRESSION_LZW: return "lzw";
    case COMPRESSION_ADOBE_DEFLATE: case COMPRESSION_DEFLATE: return "zip";
    case COMPRESSION_PACKBITS: return "packbits";
    case COMPRESSION_JPEG: case COMPRESSION_OJPEG: return "jpeg";
    default: return "other";
  }
}

// How the stored samples of a page become the samples the reader hands over.
struct PageSource {
  tdir_t directory = 0;
  std::uint16_t photometric = PHOTOMETRIC_MINISBLACK, bits = 1, stored = 1, sample_format = SAMPLEFORMAT_UINT;
  bool separate = false;  // one plane per channel
  bool tiled = false;
  std::uint32_t tile_width = 0, tile_height = 0;
  bool through_rgba = false;     // decoded by libtiff's RGBA interface (YCbCr without JPEG)
  bool invert = false;           // min-is-white
  std::vector<std::uint16_t> palette[3];
  bool palette_bytes = false;    // every palette entry is an 8-bit code times 257
  bool cmyk = false;
  std::string icc_profile;
  SampleType file_sample = SampleType::u8;  // the stored channels, unpacked
};

template <class T>
std::string get_bytes(TIFF* tiff, ttag_t tag) {
  std::uint32_t count = 0;
  const T* data = nullptr;
  if (TIFFGetField(tiff, tag, &count, &data) != 1 || !data) return "";
  return std::string(reinterpret_cast<const char*>(data), count * sizeof(T));
}

// The file's Exif and GPS directories as an Exif block, IFD0 holding the camera's texts.
std::string exif_of(TIFF* tiff, int fd, const Metadata& metadata) {
  std::uint64_t exif_offset = 0, gps_offset = 0;
  const bool exif = TIFFGetField(tiff, TIFFTAG_EXIFIFD, &exif_offset) == 1 && exif_offset > 0;
  const bool gps = TIFFGetField(tiff, TIFFTAG_GPSIFD, &gps_offset) == 1 && gps_offset > 0;
  if (!exif && !gps) return "";
  const ByteSource file = [fd](std::uint64_t offset, void* out, std::size_t size) {
    return read_at(fd, out, size, static_cast<off_t>(offset)) == static_cast<long long>(size);
  };
  ExifIfd ifd0;
  const bool big_endian = TIFFIsByteSwapped(tiff), bigtiff = TIFFIsBigTIFF(tiff);
  if (exif) ifd0.children[exif_ifd_tag] = read_ifd(file, exif_offset, big_endian, bigtiff);
  if (gps) ifd0.children[gps_ifd_tag] = read_ifd(file, gps_offset, big_endian, bigtiff);
  for (const ExifText& t : exif_texts)
    if (const std::string* text = metadata.text(t.name)) ifd0.entries.push_back(text_entry(t.tag, *text));
  return exif_block(ifd0);
}

Metadata metadata_of(TIFF* tiff, int fd) {
  Metadata metadata;
  metadata.icc_profile = get_bytes<unsigned char>(tiff, TIFFTAG_ICCPROFILE);
  metadata.xmp = get_bytes<unsigned char>(tiff, TIFFTAG_XMLPACKET);
  metadata.iptc = get_bytes<std::uint32_t>(tiff, TIFFTAG_RICHTIFFIPTC);
  std::uint16_t orientation = 1, unit = RESUNIT_INCH;
  if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation) == 1 && orientation >= 1 && orientation <= 8)
    metadata.orientation = orientation;
  float x = 0, y = 0;
  if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) == 1 && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) == 1 && x > 0 && y > 0) {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    metadata.x_resolution = x;
    metadata.y_resolution = y;
    metadata.resolution_unit = unit == RESUNIT_CENTIMETER ? ResolutionUnit::centimetre
                               : unit == RESUNIT_NONE     ? ResolutionUnit::none
                                                          : ResolutionUnit::inch;
  }
  for (const TiffText& t : tiff_texts) {
    const char* value = nullptr;
    if (TIFFGetField(tiff, t.tag, &value) == 1 && value && *value) metadata.texts.emplace_back(t.name, value);
  }
  metadata.exif = exif_of(tiff, fd, metadata);
  return metadata;
}

class TiffReader final : public PictureReader {
 public:
  TiffReader(const std::string& path, int fd, unsigned long long memory_limit)
      : PictureReader(path, "TIFF", fd), memory_limit_(memory_limit) {
    planes_.emplace_back(new TiffHandle(fd_, path, "rm", memory_limit));
    TIFF* tiff = planes_[0]->get();
    if (!tiff) throw damaged();
    for (tdir_t d = 0;; ++d) {
      add_page(tiff, d);
      if (!TIFFReadDirectory(tiff)) break;
      if (d > 65535) throw damaged();
    }
    // A directory that cannot be read ends the list of pages early: none may be lost.
    if (!planes_[0]->complaint().empty()) throw read_error(path, "page " + std::to_string(pages_.size() + 1) + " is damaged");
    current_ = sources_.size() - 1;
    directory_of_ = {sources_.back().directory};
  }

  ~TiffReader() override {
    planes_.clear();
    ::close(fd_);
  }

  void read_rows(std::size_t page, std::size_t y, std::size_t count, void* rows) override {
    select(page);
    const PageSource& s = sources_[page];
    const PageLayout& layout = pages_[page].layout;
    for (std::size_t r = 0; r < count; ++r) {
      unsigned char* out = static_cast<unsigned char*>(rows) + r * layout.row_bytes();
      if (s.through_rgba) rgba_row(s, layout, y + r, out);
      else convert_row(s, layout, stored_row(s, layout, y + r), out);
    }
  }

 private:
  FileError damaged() const { return read_error(path_, "damaged or truncated TIFF file"); }
  FileError refused(const std::string& why) const { return read_error(path_, why); }

  void add_page(TIFF* tiff, tdir_t directory) {
    PageSource s;
    s.directory = directory;
    std::uint32_t width = 0, height = 0;
    std::uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) != 1 || TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) != 1 ||
        width == 0 || height == 0)
      throw damaged();
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &s.stored);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &s.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &s.sample_format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &s.photometric) != 1)
      s.photometric = s.stored >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (s.stored == 0 || s.bits == 0 || s.bits > 64) throw damaged();
    s.separate = planar == PLANARCONFIG_SEPARATE && s.stored > 1;
    s.tiled = TIFFIsTiled(tiff);
    if (s.tiled) {
      TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &s.tile_width);
      TIFFGetField(tiff, TIFFTAG_TILELENGTH, &s.tile_height);
      if (s.tile_width == 0 || s.tile_height == 0) throw damaged();
    }
    Metadata metadata = metadata_of(tiff, fd_);
    PageInfo info;
    PageLayout& layout = info.layout;
    layout.width = width;
    layout.height = height;
    std::size_t colours = 1;
    switch (s.photometric) {
      case PHOTOMETRIC_MINISWHITE: s.invert = true; break;
      case PHOTOMETRIC_MINISBLACK: break;
      case PHOTOMETRIC_RGB: colours = 3; break;
      case PHOTOMETRIC_PALETTE: colours = 1; break;
      case PHOTOMETRIC_SEPARATED: {
        std::uint16_t inks = INKSET_CMYK;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inks);
        if (inks != INKSET_CMYK || s.stored < 4)
          throw refused("its colours are ink separations other than CMYK, which kelvane cannot take as gray or RGB");
        s.cmyk = true;
        s.icc_profile = metadata.icc_profile;
        colours = 4;
        break;
      }
      case PHOTOMETRIC_YCBCR:
        colours = 3;
        if (compression == COMPRESSION_JPEG) TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        else s.through_rgba = true;
        break;
      case PHOTOMETRIC_CIELAB: throw refused("its colours are in the CIELAB colour model, which kelvane cannot take as gray or RGB");
      case PHOTOMETRIC_ICCLAB: throw refused("its colours are in the ICC L*a*b* colour model, which kelvane cannot take as gray or RGB");
      case PHOTOMETRIC_ITULAB: throw refused("its colours are in the ITU L*a*b* colour model, which kelvane cannot take as gray or RGB");
      case PHOTOMETRIC_LOGL: case PHOTOMETRIC_LOGLUV:
        throw refused("its colours are in the LogLuv colour model, which kelvane cannot take as gray or RGB");
      case PHOTOMETRIC_MASK: throw refused("it is a transparency mask, not a picture");
      case PHOTOMETRIC_CFA: throw refused("it holds a colour filter array (raw sensor data), not a picture");
      default: throw refused("its colour model (photometric " + std::to_string(s.photometric) + ") is not supported");
    }
    if (s.stored < colours) throw damaged();
    // The samples, unpacked.
    if (s.through_rgba) {
      s.file_sample = SampleType::u8;
      s.stored = 3;
      colours = 3;
    } else if (s.sample_format == SAMPLEFORMAT_IEEEFP) {
      if (s.bits != 16 && s.bits != 32 && s.bits != 64) throw refused(std::to_string(s.bits) + "-bit floating-point samples are not supported");
      s.file_sample = s.bits == 64 ? SampleType::f64 : s.bits == 16 ? SampleType::f16 : SampleType::f32;
    } else if (s.sample_format == SAMPLEFORMAT_INT) {
      if (s.bits != 8 && s.bits != 16 && s.bits != 32) throw refused("signed " + std::to_string(s.bits) + "-bit samples are not supported");
      s.file_sample = s.bits == 8 ? SampleType::i8 : s.bits == 16 ? SampleType::i16 : SampleType::i32;
    } else if (s.sample_format == SAMPLEFORMAT_UINT || s.sample_format == SAMPLEFORMAT_VOID) {
      if (s.bits > 32) throw refused(std::to_string(s.bits) + "-bit integer samples are not supported");
      s.file_sample = s.bits <= 8 ? SampleType::u8 : s.bits <= 16 ? SampleType::u16 : SampleType::u32;
    } else {
      throw refused("complex-valued samples are not supported");
    }
    if (s.cmyk && s.file_sample != SampleType::u8 && s.file_sample != SampleType::u16)
      throw refused(std::string("CMYK pictures of ") + sample_name(s.file_sample) + " samples are not supported");
    // The channels handed over: gray or RGB, then the extra samples.
    const std::size_t extra = s.stored - colours;
    layout.channels = (s.photometric == PHOTOMETRIC_PALETTE || s.cmyk ? 3 : colours) + extra;
    layout.sample = s.file_sample;
    layout.bits = s.through_rgba ? 8 : s.bits;
    double unit = unit_of_bits(std::min<unsigned>(s.bits, 32)), offset = 0.0;
    if (s.sample_format == SAMPLEFORMAT_IEEEFP) unit = 1.0;
    // Signed codes from -2^(b-1) up: offset onto 0 .. 2^b - 1.
    if (s.sample_format == SAMPLEFORMAT_INT) offset = static_cast<double>(std::uint64_t(1) << (s.bits - 1));
    if (s.photometric == PHOTOMETRIC_PALETTE) {
      std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
      if (s.bits > 16 || s.sample_format != SAMPLEFORMAT_UINT || TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) != 1)
        throw damaged();
      const std::size_t entries = std::size_t(1) << s.bits;
      s.palette[0].assign(red, red + entries);
      s.palette[1].assign(green, green + entries);
      s.palette[2].assign(blue, blue + entries);
      s.palette_bytes = true;
      for (const auto& p : s.palette)
        for (std::uint16_t v : p) s.palette_bytes = s.palette_bytes && v % 257 == 0;
      layout.sample = s.palette_bytes ? SampleType::u8 : SampleType::u16;
      layout.bits = s.palette_bytes ? 8 : 16;
      unit = s.palette_bytes ? 255.0 : 65535.0;
      if (extra > 0 && s.file_sample != layout.sample) throw refused("palette pictures with extra samples of another depth are not supported");
    }
    if (s.cmyk) {
      // The profile described the inks; the colours are now sRGB.
      if (CmykToRgb(path_, s.icc_profile, s.file_sample, extra).through_profile()) metadata.icc_profile.clear();
    }
    layout.coding.assign(layout.channels, SampleCoding{unit, offset, 0.0});
    // Alpha: the first extra sample marked as alpha, associated (the colours multiplied by
    // it) or not.
    std::uint16_t marked = 0;
    std::uint16_t* kinds = nullptr;
    if (extra > 0 && TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &marked, &kinds) == 1 && kinds)
      for (std::uint16_t e = 0; e < marked && e < extra; ++e)
        if (kinds[e] == EXTRASAMPLE_ASSOCALPHA || kinds[e] == EXTRASAMPLE_UNASSALPHA) {
          layout.alpha = static_cast<int>(layout.channels - extra + e);
          layout.premultiplied = kinds[e] == EXTRASAMPLE_ASSOCALPHA;
          break;
        }
    info.metadata = std::make_shared<Metadata>(std::move(metadata));
    info.encoding = compression_name(compression);
    info.chunk_rows = s.tiled ? s.tile_height : 16;
    // What the decoder holds: a row of tiles per plane, or a strip's worth of a scanline.
    const long double planes = s.separate ? s.stored : 1;
    info.decoder_bytes = s.tiled ? static_cast<long double>(TIFFTileSize64(tiff)) * (1.0L + (width + s.tile_width - 1) / s.tile_width) * planes
                                 : static_cast<long double>(TIFFScanlineSize64(tiff)) * 2 * planes;
    pages_.push_back(info);
    sources_.push_back(s);
  }

  // Makes the page's directory current, in a handle per plane for pages of one plane per
  // channel (each plane's strips are then decoded in order on their own).
  void select(std::size_t page) {
    const PageSource& s = sources_[page];
    const std::size_t handles = s.separate && !s.tiled ? s.stored : 1;
    while (planes_.size() < handles) {
      planes_.emplace_back(new TiffHandle(fd_, path_, "rm", memory_limit_));
      if (!planes_.back()->get()) throw damaged();
      directory_of_.push_back(0);
    }
    for (std::size_t h = 0; h < handles; ++h) {
      if (directory_of_[h] == s.directory) continue;
      if (!TIFFSetDirectory(planes_[h]->get(), s.directory)) throw damaged();
      // A pseudo-tag, forgotten with every change of directory.
      if (s.photometric == PHOTOMETRIC_YCBCR && !s.through_rgba)
        TIFFSetField(planes_[h]->get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
      directory_of_[h] = s.directory;
    }
    if (current_ != page) tile_row_ = static_cast<std::size_t>(-1);
    current_ = page;
  }

  // The stored samples of a row, one buffer per plane, as decoded.
  std::vector<std::vector<unsigned char>>& stored_row(const PageSource& s, const PageLayout& layout, std::size_t y) {
    const std::size_t planes = s.separate ? s.stored : 1;
    TIFF* tiff = planes_[0]->get();
    raw_.resize(planes);
    if (s.tiled) {
      const std::size_t row_of_tiles = y / s.tile_height;
      const std::size_t across = (layout.width + s.tile_width - 1) / s.tile_width;
      const tmsize_t tile_bytes = TIFFTileSize(tiff);
      const std::size_t tile_row_bytes = static_cast<std::size_t>(TIFFTileRowSize(tiff));
      if (tile_bytes <= 0 || tile_row_bytes == 0) throw damaged();
      if (row_of_tiles != tile_row_) {
        tiles_.resize(planes);
        tile_.resize(static_cast<std::size_t>(tile_bytes));
        for (std::size_t p = 0; p < planes; ++p) {
          tiles_[p].resize(across * static_cast<std::size_t>(tile_bytes));
          for (std::size_t t = 0; t < across; ++t) {
            if (TIFFReadTile(tiff, tile_.data(), static_cast<std::uint32_t>(t * s.tile_width),
                             static_cast<std::uint32_t>(row_of_tiles * s.tile_height), 0, static_cast<std::uint16_t>(p)) < 0)
              throw damaged();
            // Row r of tile t goes to row r of the band, after the tiles to its left.
            for (std::size_t r = 0; r < s.tile_height; ++r)
              std::memcpy(tiles_[p].data() + r * across * tile_row_bytes + t * tile_row_bytes,
                          tile_.data() + r * tile_row_bytes, tile_row_bytes);
          }
        }
        tile_row_ = row_of_tiles;
      }
      const std::size_t r = y % s.tile_height;
      for (std::size_t p = 0; p < planes; ++p)
        raw_[p].assign(tiles_[p].begin() + static_cast<std::ptrdiff_t>(r * across * tile_row_bytes),
                       tiles_[p].begin() + static_cast<std::ptrdiff_t>((r + 1) * across * tile_row_bytes));
      return raw_;
    }
    for (std::size_t p = 0; p < planes; ++p) {
      TIFF* plane = planes_[p]->get();
      raw_[p].resize(static_cast<std::size_t>(TIFFScanlineSize(plane)));
      if (raw_[p].empty() || TIFFReadScanline(plane, raw_[p].data(), static_cast<std::uint32_t>(y), static_cast<std::uint16_t>(p)) != 1)
        throw damaged();
    }
    return raw_;
  }

  // Unpacks `count` samples of `bits` bits from `raw`, starting at sample `first`, every
  // `step`-th of them into `out` (of the page's file sample type).
  static void unpack(const PageSource& s, const unsigned char* raw, std::size_t count, void* out, std::size_t step,
                     std::size_t first) {
    const unsigned bits = s.bits;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t k = first + i * step;
      switch (s.file_sample) {
        case SampleType::u8: case SampleType::i8:
          if (bits == 8) static_cast<std::uint8_t*>(out)[k] = raw[i];
          else static_cast<std::uint8_t*>(out)[k] = static_cast<std::uint8_t>(bits_at(raw, i * bits, bits));
          break;
        case SampleType::u16: case SampleType::i16: case SampleType::f16:
          if (bits == 16) std::memcpy(static_cast<std::uint16_t*>(out) + k, raw + 2 * i, 2);
          else static_cast<std::uint16_t*>(out)[k] = static_cast<std::uint16_t>(bits_at(raw, i * bits, bits));
          break;
        case SampleType::u32: case SampleType::i32:
          if (bits == 32) std::memcpy(static_cast<std::uint32_t*>(out) + k, raw + 4 * i, 4);
          // libtiff hands 24-bit samples over in the machine's byte order (little-endian here).
          else if (bits == 24) static_cast<std::uint32_t*>(out)[k] = raw[3 * i] | raw[3 * i + 1] << 8 | std::uint32_t(raw[3 * i + 2]) << 16;
          else static_cast<std::uint32_t*>(out)[k] = bits_at(raw, i * bits, bits);
          break;
        case SampleType::f32: std::memcpy(static_cast<float*>(out) + k, raw + 4 * i, 4); break;
        case SampleType::f64: std::memcpy(static_cast<double*>(out) + k, raw + 8 * i, 8); break;
      }
    }
  }

  // `bits` bits from bit `at` on, the most significant first.
  static std::uint32_t bits_at(const unsigned char* raw, std::size_t at, unsigned bits) {
    std::uint32_t v = 0;
    for (unsigned b = 0; b < bits; ++b, ++at) v = (v << 1) | ((raw[at / 8] >> (7 - at % 8)) & 1u);
    return v;
  }

  template <class T>
  static void invert(T* samples, std::size_t n, std::size_t channels, T largest) {
    for (std::size_t i = 0; i < n; i += channels) samples[i] = static_cast<T>(largest - samples[i]);
  }

  void convert_row(const PageSource& s, const PageLayout& layout, const std::vector<std::vector<unsigned char>>& raw,
                   unsigned char* out) {
    const std::size_t w = layout.width, n = s.stored;
    const std::size_t bytes = sample_bytes(s.file_sample);
    file_row_.resize(w * n * bytes);
    if (s.separate)
      for (std::size_t p = 0; p < n; ++p) unpack(s, raw[p].data(), w, file_row_.data(), n, p);
    else
      unpack(s, raw[0].data(), w * n, file_row_.data(), 1, 0);
    if (s.invert) {
      const std::uint32_t largest = static_cast<std::uint32_t>(unit_of_bits(std::min<unsigned>(s.bits, 32)));
      switch (s.file_sample) {
        case SampleType::u8: invert(file_row_.data(), w * n, n, static_cast<std::uint8_t>(largest)); break;
        case SampleType::u16: invert(reinterpret_cast<std::uint16_t*>(file_row_.data()), w * n, n, static_cast<std::uint16_t>(largest)); break;
        case SampleType::u32: invert(reinterpret_cast<std::uint32_t*>(file_row_.data()), w * n, n, largest); break;
        case SampleType::f32:
          for (std::size_t i = 0; i < w * n; i += n) reinterpret_cast<float*>(file_row_.data())[i] = 1.0f - reinterpret_cast<float*>(file_row_.data())[i];
          break;
        case SampleType::f64:
          for (std::size_t i = 0; i < w * n; i += n) reinterpret_cast<double*>(file_row_.data())[i] = 1.0 - reinterpret_cast<double*>(file_row_.data())[i];
          break;
        default: break;  // signed min-is-white is not a thing writers make
      }
    }
    if (s.photometric == PHOTOMETRIC_PALETTE) {
      palette_row(s, layout, out);
    } else if (s.cmyk) {
      if (!cmyk_ || cmyk_page_ != current_) {
        cmyk_ = std::make_unique<CmykToRgb>(path_, s.icc_profile, s.file_sample, n - 4);
        cmyk_page_ = current_;
      }
      cmyk_->convert(file_row_.data(), out, w);
    } else {
      std::memcpy(out, file_row_.data(), layout.row_bytes());
    }
  }

  void palette_row(const PageSource& s, const PageLayout& layout, unsigned char* out) const {
    const std::size_t w = layout.width, n = s.stored, channels = layout.channels;
    for (std::size_t x = 0; x < w; ++x) {
      const std::size_t index = s.file_sample == SampleType::u8 ? file_row_[x * n]
                                                                : reinterpret_cast<const std::uint16_t*>(file_row_.data())[x * n];
      for (std::size_t c = 0; c < channels; ++c) {
        const std::uint16_t v = c < 3 ? s.palette[c][index]
                                      : (s.file_sample == SampleType::u8 ? file_row_[x * n + c - 2]
                                                                         : reinterpret_cast<const std::uint16_t*>(file_row_.data())[x * n + c - 2]);
        if (layout.sample == SampleType::u8) out[x * channels + c] = static_cast<unsigned char>(c < 3 ? v / 257 : v);
        else reinterpret_cast<std::uint16_t*>(out)[x * channels + c] = v;
      }
    }
  }

  // libtiff's RGBA interface, for the rare layouts (YCbCr without JPEG) it decodes itself.
  void rgba_row(const PageSource&, const PageLayout& layout, std::size_t y, unsigned char* out) {
    TIFF* tiff = planes_[0]->get();
    char message[1024] = {};
    TIFFRGBAImage image;
    if (!TIFFRGBAImageOK(tiff, message) || !TIFFRGBAImageBegin(&image, tiff, 0, message)) throw damaged();
    image.req_orientation = ORIENTATION_TOPLEFT;
    image.row_offset = static_cast<int>(y);
    std::vector<std::uint32_t> pixels(layout.width);
    const int got = TIFFRGBAImageGet(&image, pixels.data(), static_cast<std::uint32_t>(layout.width), 1);
    TIFFRGBAImageEnd(&image);
    if (!got) throw damaged();
    for (std::size_t x = 0; x < layout.width; ++x) {
      out[3 * x] = static_cast<unsigned char>(TIFFGetR(pixels[x]));
      out[3 * x + 1] = static_cast<unsigned char>(TIFFGetG(pixels[x]));
      out[3 * x + 2] = static_cast<unsigned char>(TIFFGetB(pixels[x]));
    }
  }

  unsigned long long memory_limit_;
  std::vector<std::unique_ptr<TiffHandle>> planes_;  // the first for every page; more for separate planes
  std::vector<tdir_t> directory_of_;  // the directory each handle is at
  std::vector<PageSource> sources_;
  std::size_t current_ = 0;  // the page whose rows are being read
  std::size_t tile_row_ = static_cast<std::size_t>(-1);
  std::vector<std::vector<unsigned char>> raw_, tiles_;
  std::vector<unsigned char> tile_, file_row_;
  std::unique_ptr<CmykToRgb> cmyk_;
  std::size_t cmyk_page_ = static_cast<std::size_t>(-1);
};

}  // namespace

std::unique_ptr<PictureReader> open_tiff(const std::string& path, int fd, unsigned long long memory_limit) {
  try {
    return std::make_unique<TiffReader>(path, fd, memory_limit);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

}  // namespace kelvane
