#include "files/tiff_writer.h"

#include <cstring>

#include "files/atomic_file.h"
#include "files/file_error.h"
#include "files/metadata.h"
#include "files/tiff_io.h"
#include "image/samples.h"

namespace kelvane {

namespace {

// Compressions by the names --tiff-compression takes, and which of an input's a TIFF output
// keeps (those that lose nothing).
std::uint16_t compression_code(const std::string& name) {
  if (name == "lzw") return COMPRESSION_LZW;
  if (name == "zip") return COMPRESSION_ADOBE_DEFLATE;
  if (name == "packbits") return COMPRESSION_PACKBITS;
  return COMPRESSION_NONE;
}

bool lossless(const std::string& name) { return name == "lzw" || name == "zip" || name == "packbits" || name == "none"; }

class TiffWriter final : public PictureWriter {
 public:
  TiffWriter(const std::string& output, const std::vector<PagePlan>& plans, const std::vector<PageInfo>& input,
             const EncodingChoices& choices)
      : output_(output), plans_(plans), input_(input), choices_(choices), file_(output) {
    // Files that may pass 4 GB are BigTIFF.
    long double bytes = 0;
    for (const PagePlan& plan : plans)
      bytes += static_cast<long double>(plan.width) * plan.height * plan.store.channels.size() * sample_bytes(plan.store.sample);
    tiff_ = std::make_unique<TiffHandle>(file_.fd(), output, bytes > 3.5e9L ? "w8" : "w");
    if (!tiff_->get()) throw failed();
  }

  void write_rows(std::size_t page, std::size_t y, std::size_t count, const double* values,
                  std::size_t channel_stride) override {
    TIFF* tiff = tiff_->get();
    if (!started_ || page != page_) {
      if (started_ && !TIFFWriteDirectory(tiff)) throw failed();
      start_page(page);
    }
    const PagePlan& plan = plans_[page];
    row_.resize(plan.width * plan.store.channels.size() * sample_bytes(plan.store.sample));
    for (std::size_t r = 0; r < count; ++r) {
      samples_from_values(values + r * plan.width, channel_stride, plan.width, plan.store, row_.data());
      if (TIFFWriteScanline(tiff, row_.data(), static_cast<std::uint32_t>(y + r), 0) != 1) throw failed();
    }
  }

  void commit() override {
    if (!tiff_->close()) throw failed();
    file_.commit();
  }

 private:
  void start_page(std::size_t page) {
    TIFF* tiff = tiff_->get();
    const PagePlan& plan = plans_[page];
    const std::size_t n = plan.store.channels.size();
    const std::size_t colours = n - (plan.alpha >= 0 ? 1 : 0);
    const bool rgb = colours >= 3;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(plan.width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(plan.height));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(n));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(8 * sample_bytes(plan.store.sample)));
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, is_floating(plan.store.sample) ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    // Channels beyond gray or RGB: alpha where it is, unspecified otherwise, so that no
    // reader takes them for alpha.
    const std::size_t extra = n - (rgb ? 3 : 1);
    if (extra > 0) {
      std::vector<std::uint16_t> kinds(extra, EXTRASAMPLE_UNSPECIFIED);
      if (plan.alpha >= 0) kinds[static_cast<std::size_t>(plan.alpha) - (rgb ? 3 : 1)] = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(extra), kinds.data());
    }
    const PageInfo& in = input_[page];
    const std::string compression = !choices_.tiff_compression.empty() ? choices_.tiff_compression
                                    : lossless(in.compression)        ? in.compression
                                                                      : std::string("none");
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression_code(compression));
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    if (plans_.size() > 1) {
      TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(page), static_cast<std::uint16_t>(plans_.size()));
    }
    if (in.metadata) set_metadata(*in.metadata);
    started_ = true;
    page_ = page;
  }

  void set_metadata(const Metadata& m) {
    TIFF* tiff = tiff_->get();
    if (m.orientation != 1) TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(m.orientation));
    if (m.x_resolution > 0 && m.y_resolution > 0) {
      TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(m.x_resolution));
      TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(m.y_resolution));
      TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT,
                   m.resolution_unit == ResolutionUnit::inch         ? RESUNIT_INCH
                   : m.resolution_unit == ResolutionUnit::centimetre ? RESUNIT_CENTIMETER
                                                                     : RESUNIT_NONE);
    }
    if (!m.icc_profile.empty())
      TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(m.icc_profile.size()), m.icc_profile.data());
    if (!m.xmp.empty()) TIFFSetField(tiff, TIFFTAG_XMLPACKET, static_cast<std::uint32_t>(m.xmp.size()), m.xmp.data());
    if (!m.iptc.empty() && m.iptc.size() % 4 == 0)
      TIFFSetField(tiff, TIFFTAG_RICHTIFFIPTC, static_cast<std::uint32_t>(m.iptc.size() / 4), m.iptc.data());
    for (const TiffText& t : tiff_texts) {
      const std::string* text = m.text(t.name);
      // A comment of another format is the nearest thing to a description.
      if (!text && t.tag == TIFFTAG_IMAGEDESCRIPTION) text = m.text("Comment");
      if (text) TIFFSetField(tiff, t.tag, text->c_str());
    }
  }

  FileError failed() const {
    if (tiff_ && tiff_->write_error()) return write_error(output_, std::strerror(tiff_->write_error()));
    return write_error(output_, "the TIFF encoder failed" + (tiff_ && !tiff_->complaint().empty() ? " (" + tiff_->complaint() + ")" : ""));
  }

  std::string output_;
  std::vector<PagePlan> plans_;
  const std::vector<PageInfo>& input_;
  EncodingChoices choices_;
  AtomicFile file_;
  std::unique_ptr<TiffHandle> tiff_;
  bool started_ = false;
  std::size_t page_ = 0;
  std::vector<unsigned char> row_;
};

}  // namespace

std::unique_ptr<PictureWriter> create_tiff(const std::string& output, const std::vector<PagePlan>& plans,
                                           const std::vector<PageInfo>& input, const EncodingChoices& choices) {
  return std::make_unique<TiffWriter>(output, plans, input, choices);
}

}  // namespace kelvane
