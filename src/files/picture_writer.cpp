#include "files/picture_writer.h"

#include <sys/stat.h>

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "files/atomic_file.h"
#include "files/cimg_file.h"
#include "files/file_error.h"
#include "files/file_proxy.h"
#include "files/metadata.h"
#include "files/pnm_writer.h"
#include "files/tiff_extra_samples.h"

namespace kelvane {

namespace {

using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

TypeDesc library_type(SampleType type) {
  switch (type) {
    case SampleType::u8: return TypeDesc::UINT8;
    case SampleType::u16: return TypeDesc::UINT16;
    case SampleType::u32: return TypeDesc::UINT32;
    case SampleType::f64: return TypeDesc::DOUBLE;
    default: return TypeDesc::FLOAT;
  }
}

// TIFF compressions that lose nothing, which an output keeps from a TIFF input.
bool lossless(const std::string& compression) {
  return compression == "lzw" || compression == "zip" || compression == "packbits" || compression == "none";
}

class LibraryWriter final : public PictureWriter {
 public:
  LibraryWriter(const std::string& output, const OutputFormat& format, const std::vector<PagePlan>& plans,
                const std::vector<PageInfo>& input, const EncodingChoices& choices)
      : output_(output), format_(format), plans_(plans), file_(output),
        proxy_(file_.fd(), output, OIIO::Filesystem::IOProxy::Write) {
    encoder_ = ImageOutput::create(format.plugin);
    if (!encoder_) throw write_error(output, std::string("this build cannot write ") + format.name + " files");
    // The TIFF plug-in writes every page over the first through a proxy; it gets the file by
    // name, and reports failed writes itself.
    proxied_ = encoder_->supports("ioproxy") && std::string(format.plugin) != "tiff";
    for (std::size_t p = 0; p < plans.size(); ++p) specs_.push_back(spec_of(plans[p], input[p], choices));
    // OpenEXR's parts share one display window: the smallest that holds every page.
    if (std::string(format.plugin) == "openexr" && specs_.size() > 1) {
      int width = 0, height = 0;
      for (const ImageSpec& s : specs_) width = std::max(width, s.width), height = std::max(height, s.height);
      for (ImageSpec& s : specs_) s.full_width = width, s.full_height = height;
    }
  }

  ~LibraryWriter() override {
    if (encoder_ && opened_) encoder_->close();
  }

  void write_rows(std::size_t page, std::size_t y, std::size_t count, const double* values,
                  std::size_t channel_stride) override {
    // The encoder starts with the first rows: one closed before any row was written would
    // complain on the console (libpng does) about a run that failed before it.
    const std::string name = proxied_ ? output_ : file_.name();
    if (!opened_) {
      opened_ = specs_.size() == 1 ? encoder_->open(name, specs_[0])
                                   : encoder_->open(name, static_cast<int>(specs_.size()), specs_.data());
      if (!opened_) throw failed();
    } else if (page != page_) {
      if (!encoder_->open(name, specs_[page], ImageOutput::AppendSubimage)) throw failed();
    }
    page_ = page;
    const PagePlan& plan = plans_[page];
    const std::size_t row_bytes = plan.width * plan.store.channels.size() * sample_bytes(plan.store.sample);
    samples_.resize(row_bytes * count);
    for (std::size_t r = 0; r < count; ++r)
      samples_from_values(values + r * plan.width, channel_stride, plan.width, plan.store, samples_.data() + r * row_bytes);
    if (!encoder_->write_scanlines(static_cast<int>(y), static_cast<int>(y + count), 0,
                                   library_type(plan.store.sample), samples_.data()))
      throw failed();
    check_disk();
  }

  void commit() override {
    const bool closed = encoder_->close();
    check_disk();
    if (!closed) throw failed();
    if (!proxied_) check_size();
    encoder_.reset();
    if (std::string(format_.plugin) == "tiff" && unmarked_extra_samples() && !tag_extra_samples(file_.name()))
      throw write_error(output_, "the TIFF file could not be completed (disk full?)");
    file_.commit();
  }

 private:
  ImageSpec spec_of(const PagePlan& plan, const PageInfo& page, const EncodingChoices& choices) {
    const int n = static_cast<int>(plan.store.channels.size());
    ImageSpec image_info(static_cast<int>(plan.width), static_cast<int>(plan.height), n, library_type(plan.store.sample));
    const int colours = plan.alpha >= 0 ? n - 1 : n;
    static const char* const rgb[] = {"R", "G", "B"};
    image_info.channelnames.clear();
    for (int c = 0; c < n; ++c)
      image_info.channelnames.push_back(c == plan.alpha ? "A" : colours == 3 && c < 3 ? rgb[c] : colours == 1 && c == 0 ? "Y" : "channel" + std::to_string(c));
    image_info.alpha_channel = plan.alpha;
    image_info.attribute("oiio:UnassociatedAlpha", 1);
    if (page.metadata)
      for (const auto& attribute : page.metadata->attributes) image_info.attribute(attribute.name(), attribute.type(), attribute.data());
    const std::string plugin = format_.plugin;
    if (plugin == "jpeg") image_info.attribute("CompressionQuality", choices.jpeg_quality);
    if (plugin == "png") image_info.attribute("png:compressionLevel", choices.png_compression);
    if (plugin == "tiff")
      image_info.attribute("compression", !choices.tiff_compression.empty() ? choices.tiff_compression
                                    : lossless(page.compression)   ? page.compression
                                                                   : std::string("none"));
    if (proxied_) {
      OIIO::Filesystem::IOProxy* proxy = &proxy_;
      image_info.attribute("oiio:ioproxy", TypeDesc::PTR, &proxy);
    }
    return image_info;
  }

  bool unmarked_extra_samples() const {
    for (const PagePlan& plan : plans_)
      if (plan.alpha < 0 && plan.store.channels.size() != 1 && plan.store.channels.size() != 3) return true;
    return false;
  }

  FileError failed() {
    const int error = proxy_.write_error();
    encoder_->geterror();
    return write_error(output_, error ? std::strerror(error) : std::string("the ") + format_.name + " encoder failed");
  }

  void check_disk() {
    if (proxy_.write_error()) throw write_error(output_, std::strerror(proxy_.write_error()));
  }

  // Some encoders that write through a name of their own report no failed write: an
  // uncompressed FITS file shorter than its samples was cut short (a full disk).
  void check_size() {
    struct stat info;
    long double samples = 0;
    for (const PagePlan& plan : plans_)
      samples += static_cast<long double>(plan.width) * plan.height * plan.store.channels.size() * sample_bytes(plan.store.sample);
    const bool uncompressed = std::string(format_.plugin) == "fits";
    if (::fstat(file_.fd(), &info) != 0 || info.st_size == 0 || (uncompressed && info.st_size < samples))
      throw write_error(output_, std::strerror(ENOSPC));
  }

  std::string output_;
  const OutputFormat& format_;
  std::vector<PagePlan> plans_;
  AtomicFile file_;
  FileProxy proxy_;
  bool proxied_ = false;
  std::unique_ptr<ImageOutput> encoder_;
  std::vector<ImageSpec> specs_;
  bool opened_ = false;
  std::size_t page_ = 0;
  std::vector<unsigned char> samples_;
};

// The image library's own formats are written whole: the pages are kept until the end.
class CImgWriter final : public PictureWriter {
 public:
  CImgWriter(const std::string& output, const OutputFormat& format, const std::vector<PagePlan>& plans)
      : output_(output), format_(format), plans_(plans), file_(output), pages_(plans.size()) {}

  void write_rows(std::size_t page, std::size_t y, std::size_t count, const double* values,
                  std::size_t channel_stride) override {
    const PagePlan& plan = plans_[page];
    const std::size_t plane = plan.width * plan.height, n = plan.store.channels.size();
    pages_[page].resize(plane * n);
    for (std::size_t k = 0; k < n; ++k)
      for (std::size_t r = 0; r < count; ++r)
        std::memcpy(pages_[page].data() + k * plane + (y + r) * plan.width,
                    values + plan.store.channels[k] * channel_stride + r * plan.width, plan.width * sizeof(double));
  }

  void commit() override {
    std::vector<const double*> pages;
    for (const auto& p : pages_) pages.push_back(p.data());
    const std::string plugin = format_.plugin;
    write_cimg(file_.fd(), output_, plugin == "asc" ? CImgFormat::ascii : plugin == "cimgz" ? CImgFormat::cimgz : CImgFormat::cimg,
               plans_[0].width, plans_[0].height, plans_[0].store.channels.size(), pages);
    file_.commit();
  }

 private:
  std::string output_;
  const OutputFormat& format_;
  std::vector<PagePlan> plans_;
  AtomicFile file_;
  std::vector<std::vector<double>> pages_;
};

}  // namespace

std::unique_ptr<PictureWriter> create_picture(const std::string& output, const OutputFormat& format,
                                              const std::vector<PagePlan>& plans,
                                              const std::vector<PageInfo>& input, const EncodingChoices& choices) {
  const std::string plugin = format.plugin;
  if (plugin == "cimg" || plugin == "cimgz" || plugin == "asc") return std::make_unique<CImgWriter>(output, format, plans);
  if (plugin == "pnm") return create_pnm(output, plans[0]);
  return std::make_unique<LibraryWriter>(output, format, plans, input, choices);
}

}  // namespace kelvane
