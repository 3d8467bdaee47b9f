#include "files/oiio_reader.h"

#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "files/file_error.h"
#include "files/header_sizes.h"
#include "files/file_proxy.h"
#include "files/metadata.h"
#include "files/png_chunks.h"
#include "files/tiff_extra_samples.h"

namespace kelvane {

namespace {

using OIIO::ImageInput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

// The sample type a page is read in: its own, except half floats (widened to float, exactly)
// and pages whose channels differ in type (read as the widest float).
bool sample_type_of(const ImageSpec& image_info, SampleType& type, TypeDesc& read_as) {
  TypeDesc format = image_info.format;
  if (!image_info.channelformats.empty()) {
    format = TypeDesc::FLOAT;
    for (const TypeDesc& t : image_info.channelformats)
      if (t == TypeDesc::DOUBLE) format = TypeDesc::DOUBLE;
  }
  read_as = format;
  switch (format.basetype) {
    case TypeDesc::UINT8: type = SampleType::u8; return true;
    case TypeDesc::UINT16: type = SampleType::u16; return true;
    case TypeDesc::UINT32: type = SampleType::u32; return true;
    case TypeDesc::INT8: type = SampleType::i8; return true;
    case TypeDesc::INT16: type = SampleType::i16; return true;
    case TypeDesc::INT32: type = SampleType::i32; return true;
    case TypeDesc::HALF: read_as = TypeDesc::FLOAT; type = SampleType::f32; return true;
    case TypeDesc::FLOAT: type = SampleType::f32; return true;
    case TypeDesc::DOUBLE: type = SampleType::f64; return true;
    default: return false;
  }
}

int int_attribute(const ImageSpec& image_info, const char* name, int fallback) {
  const OIIO::ParamValue* p = image_info.find_attribute(name);
  return p ? p->get_int(fallback) : fallback;
}

double unit_of_bits(unsigned bits) { return std::ldexp(1.0, static_cast<int>(bits)) - 1.0; }

// The bits of red, green and blue in a 16-bit BMP: 5 each, or as its bit masks say.
void bmp16_bits(int fd, unsigned bits[3]) {
  bits[0] = bits[1] = bits[2] = 5;
  unsigned char header[66] = {};
  if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return;
  const auto u32 = [&](int at) {
    return std::uint32_t(header[at]) | std::uint32_t(header[at + 1]) << 8 | std::uint32_t(header[at + 2]) << 16 |
           std::uint32_t(header[at + 3]) << 24;
  };
  if (u32(30) != 3) return;  // not BI_BITFIELDS
  for (int c = 0; c < 3; ++c) bits[c] = static_cast<unsigned>(__builtin_popcount(u32(54 + 4 * c)));
}

// How the stored samples of each channel become values.
std::vector<SampleCoding> coding_of(const ImageSpec& image_info, SampleType type, const std::string& plugin, int fd,
                                    unsigned& bits) {
  const unsigned container = static_cast<unsigned>(sample_bytes(type) * 8);
  std::vector<SampleCoding> coding(static_cast<std::size_t>(image_info.nchannels));
  bits = container;
  if (is_floating(type)) {
    for (auto& c : coding) c.unit = 1.0;
    return coding;
  }
  const bool is_signed = type == SampleType::i8 || type == SampleType::i16 || type == SampleType::i32;
  if (is_signed) {
    // FITS keeps unsigned samples as signed ones shifted by BZERO; other signed samples follow
    // the library's convention, the largest positive code as 1.0.
    const double bzero = image_info.get_float_attribute("Bzero", 0.0f);
    const double half = std::ldexp(1.0, static_cast<int>(container) - 1);
    for (auto& c : coding) {
      if (plugin == "fits" && bzero == half) {
        c.offset = half;
        c.unit = unit_of_bits(container);
      } else {
        c.unit = half - 1.0;
        bits = container - 1;
      }
    }
    return coding;
  }
  unsigned file_bits[3] = {container, container, container};
  const int declared = int_attribute(image_info, "oiio:BitsPerSample", static_cast<int>(container));
  if (declared > 0 && declared < static_cast<int>(container))
    file_bits[0] = file_bits[1] = file_bits[2] = static_cast<unsigned>(declared);
  if (plugin == "bmp" && int_attribute(image_info, "bmp:bitsperpixel", 0) == 16) bmp16_bits(fd, file_bits);
  bits = 0;
  for (std::size_t c = 0; c < coding.size(); ++c) {
    // Codes of fewer bits arrive stretched over the sample type: code = round(sample * stretch).
    const unsigned b = file_bits[c < 3 ? c : 0];
    coding[c].unit = unit_of_bits(b);
    if (b < container) coding[c].stretch = unit_of_bits(b) / unit_of_bits(container);
    if (b > bits) bits = b;
  }
  return coding;
}

// Colour models the library hands over as they are stored, which kelvane cannot take as gray
// or RGB.
const char* foreign_colour_model(const ImageSpec& image_info, const std::string& plugin) {
  if (plugin != "tiff") return nullptr;
  switch (int_attribute(image_info, "tiff:PhotometricInterpretation", 1)) {
    case 4: return "a transparency mask";
    case 5: return image_info.nchannels == 3 || image_info.nchannels == 4 ? nullptr : "ink separations other than CMYK";
    case 8: return "the CIELAB colour model";
    case 9: return "the ICC L*a*b* colour model";
    case 10: return "the ITU L*a*b* colour model";
    case 32803: return "a colour filter array (raw sensor data)";
    case 32844: case 32845: return "the LogLuv colour model";
    case 34892: return "linear raw sensor data";
    default: return nullptr;
  }
}

// Colours the decoder turned into RGB: CMYK and YCCK.
bool colours_converted(const ImageSpec& image_info, const std::string& plugin) {
  if (plugin == "jpeg") {
    const std::string model = image_info.get_string_attribute("jpeg:ColorSpace");
    return model == "CMYK" || model == "YCbCrK";
  }
  return plugin == "tiff" && int_attribute(image_info, "tiff:PhotometricInterpretation", 1) == 5;
}

// Decoders that read ahead in blocks, so that a short read at the end of a whole file is
// normal: for them only a read that starts at the end means missing data.
bool reads_ahead(const std::string& plugin) {
  return plugin == "webp" || plugin == "jpeg2000" || plugin == "openexr" || plugin == "hdr";
}

class LibraryReader final : public PictureReader {
 public:
  LibraryReader(const std::string& path, int fd, const char* plugin, const char* format, unsigned long long memory_limit)
      : PictureReader(path, format), fd_(fd), plugin_(plugin), proxy_(fd, path, OIIO::Filesystem::IOProxy::Read) {
    if (plugin_ == "png") whole_ = check_png_chunks(fd_, path);
    if (plugin_ == "jpeg") whole_ = jpeg_progressive(fd_);
    // These decoders hold a whole picture in any case.
    if (plugin_ == "webp" || plugin_ == "heif" || plugin_ == "jpeg2000") whole_ = true;
    if (plugin_ == "openexr") check_exr_header(fd_, path, memory_limit);
    if (plugin_ == "webp") check_webp_header(fd_, path, memory_limit);
    if (plugin_ == "bmp") check_bmp_header(fd_, path);
    input_ = ImageInput::create(plugin_);
    if (!input_) throw read_error(path, std::string("this build cannot read ") + format + " files");
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);  // alpha as stored, colours not multiplied by it
    // The JPEG plug-in takes proxies of its own kind only.
    if (input_->supports("ioproxy") && plugin_ != "jpeg") {
      OIIO::Filesystem::IOProxy* proxy = &proxy_;
      config.attribute("oiio:ioproxy", TypeDesc::PTR, &proxy);
      proxied_ = true;
    }
    ImageSpec first;
    if (!input_->open(proxied_ ? path : "/proc/self/fd/" + std::to_string(fd_), first, config)) {
      if (input_->geterror().find("No support for data format") != std::string::npos)
        throw read_error(path, "its kind of " + format_ + " samples is not supported");
      throw damaged();
    }
    for (int subimage = 0; input_->seek_subimage(subimage, 0); ++subimage) add_page(input_->spec());
    const std::string complaint = input_->geterror();
    if (pages_.empty()) throw damaged();
    // A page the library would not open ends its list of pages early; none may be lost.
    if (plugin_ == "tiff" && tiff_pages(fd_) > pages_.size())
      throw read_error(path, "page " + std::to_string(pages_.size() + 1) +
                                 (complaint.find("exceeds") != std::string::npos
                                      ? " is larger than the image library reads (32 GB)"
                                      : " is damaged"));
  }

  ~LibraryReader() override {
    input_->close();
    ::close(fd_);
  }

  void read_rows(std::size_t page, std::size_t y, std::size_t count, void* rows) override {
    const Source& s = sources_[page];
    const int begin = s.y + static_cast<int>(y);
    const bool read = input_->read_scanlines(static_cast<int>(page), 0, begin, begin + static_cast<int>(count), s.z,
                                             0, static_cast<int>(pages_[page].layout.channels), s.read_as, rows);
    // Without the proxy, missing data shows only as the decoder's complaint (a JPEG's
    // "premature end"); with it, the decoder's complaints include harmless ones about tags.
    const bool complained = !input_->geterror().empty();
    if (!read || (!proxied_ && complained)) throw damaged();
    if (proxied_ && (proxy_.read_at_end() || (!reads_ahead(plugin_) && proxy_.read_past_end()))) throw damaged();
  }

 private:
  struct Source {
    int y;  // the first row's number: a page's data window need not start at 0
    int z;
    TypeDesc read_as;
  };

  FileError damaged() const { return read_error(path_, "damaged or truncated " + format_ + " file"); }

  void add_page(const ImageSpec& image_info) {
    if (image_info.deep) throw read_error(path_, "deep " + format_ + " pictures (several samples a pixel) are not supported");
    if (image_info.depth > 1) throw read_error(path_, "volumes are not supported");
    if (image_info.width <= 0 || image_info.height <= 0 || image_info.nchannels <= 0) throw damaged();
    if (const char* model = foreign_colour_model(image_info, plugin_))
      throw read_error(path_, std::string("its colours are in ") + model + ", which kelvane cannot take as gray or RGB");
    PageInfo info;
    PageLayout& layout = info.layout;
    TypeDesc read_as;
    if (!sample_type_of(image_info, layout.sample, read_as))
      throw read_error(path_, std::string("samples of type ") + image_info.format.c_str() + " are not supported");
    layout.width = static_cast<std::size_t>(image_info.width);
    layout.height = static_cast<std::size_t>(image_info.height);
    layout.channels = static_cast<std::size_t>(image_info.nchannels);
    layout.alpha = image_info.alpha_channel;
    layout.coding = coding_of(image_info, layout.sample, plugin_, fd_, layout.bits);
    info.metadata = std::make_shared<Metadata>(kept_metadata(image_info, colours_converted(image_info, plugin_)));
    info.compression = image_info.get_string_attribute("compression");
    if (image_info.tile_height > 0) info.chunk_rows = static_cast<std::size_t>(image_info.tile_height);
    if (whole_)
      info.decoder_bytes = static_cast<long double>(layout.width) * layout.height * layout.channels * sample_bytes(layout.sample);
    pages_.push_back(info);
    sources_.push_back(Source{image_info.y, image_info.z, read_as});
  }

  int fd_;
  std::string plugin_;
  FileProxy proxy_;
  bool proxied_ = false;
  bool whole_ = false;  // the decoder holds whole pages
  std::unique_ptr<ImageInput> input_;
  std::vector<Source> sources_;
};

}  // namespace

std::unique_ptr<PictureReader> open_with_image_library(const std::string& path, int fd, const char* plugin,
                                                       const char* format, unsigned long long memory_limit) {
  try {
    return std::make_unique<LibraryReader>(path, fd, plugin, format, memory_limit);
  } catch (...) {
    // The reader owns the descriptor only once it is constructed.
    ::close(fd);
    throw;
  }
}

}  // namespace kelvane
