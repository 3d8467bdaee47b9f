#include "files/tiff_writer.h"

#include <cstring>

#include "files/atomic_file.h"
#include "files/descriptor_io.h"
#include "files/exif.h"
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
    append_exif();
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
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, is_floating(plan.store.sample) ? SAMPLEFORMAT_IEEEFP
                                             : is_signed(plan.store.sample) ? SAMPLEFORMAT_INT
                                                                            : SAMPLEFORMAT_UINT);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, rgb ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    // Channels beyond gray or RGB: alpha where it is, unspecified otherwise, so that no
    // reader takes them for alpha.
    const std::size_t extra = n - (rgb ? 3 : 1);
    if (extra > 0) {
      std::vector<std::uint16_t> kinds(extra, EXTRASAMPLE_UNSPECIFIED);
      if (plan.alpha >= 0)
        kinds[static_cast<std::size_t>(plan.alpha) - (rgb ? 3 : 1)] = plan.associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(extra), kinds.data());
    }
    const PageInfo& in = input_[page];
    const std::string compression = !choices_.tiff_compression.empty() ? choices_.tiff_compression
                                    : lossless(in.encoding)        ? in.encoding
                                                                      : std::string("none");
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression_code(compression));
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    if (plans_.size() > 1) {
      TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(page), static_cast<std::uint16_t>(plans_.size()));
    }
    set_metadata(in.metadata ? *in.metadata : Metadata());
    // The Exif and GPS directories are appended once libtiff is done; their pointers hold 0
    // until then.
    exif_.push_back(in.metadata ? parse_exif(in.metadata->exif) : ExifIfd());
    for (std::uint16_t tag : {exif_ifd_tag, gps_ifd_tag})
      if (exif_.back().children.count(tag)) TIFFSetField(tiff, tag, std::uint64_t(0));
    started_ = true;
    page_ = page;
  }

  void set_metadata(const Metadata& m) {
    TIFF* tiff = tiff_->get();
    if (m.orientation != 1) TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(m.orientation));
    // TIFF requires a resolution: without one, an aspect ratio of 1 and no unit.
    const bool known = m.x_resolution > 0 && m.y_resolution > 0;
    TIFFSetField(tiff, TIFFTAG_XRESOLUTION, known ? static_cast<float>(m.x_resolution) : 1.0f);
    TIFFSetField(tiff, TIFFTAG_YRESOLUTION, known ? static_cast<float>(m.y_resolution) : 1.0f);
    TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT,
                 known && m.resolution_unit == ResolutionUnit::inch         ? RESUNIT_INCH
                 : known && m.resolution_unit == ResolutionUnit::centimetre ? RESUNIT_CENTIMETER
                                                                            : RESUNIT_NONE);
    if (!m.icc_profile.empty())
      TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(m.icc_profile.size()), m.icc_profile.data());
    if (!m.xmp.empty()) TIFFSetField(tiff, TIFFTAG_XMLPACKET, static_cast<std::uint32_t>(m.xmp.size()), m.xmp.data());
    if (!m.iptc.empty() && m.iptc.size() % 4 == 0)
      TIFFSetField(tiff, TIFFTAG_RICHTIFFIPTC, static_cast<std::uint32_t>(m.iptc.size() / 4), m.iptc.data());
    const ExifIfd camera = parse_exif(m.exif);
    for (const TiffText& t : tiff_texts) {
      const std::string* text = m.text(t.name);
      // A comment of another format is the nearest thing to a description.
      if (!text && t.tag == TIFFTAG_IMAGEDESCRIPTION) text = m.text("Comment");
      // The camera's texts of an Exif block are TIFF tags of their own.
      const ExifEntry* exif = entry_of(camera, static_cast<std::uint16_t>(t.tag));
      const std::string from_exif = exif && exif->type == 2 ? exif->value.substr(0, exif->value.find('\0')) : "";
      if (text) TIFFSetField(tiff, t.tag, text->c_str());
      else if (!from_exif.empty()) TIFFSetField(tiff, t.tag, from_exif.c_str());
    }
  }

  // Writes every page's Exif and GPS directories after the file libtiff wrote, and points
  // the page's entries at them. Pixel dimensions are left out: they were the input's.
  void append_exif() {
    const int fd = file_.fd();
    unsigned char head[16];
    if (read_at(fd, head, sizeof head, 0) != static_cast<long long>(sizeof head)) throw failed();
    const bool big = head[2] == 43;
    const std::size_t count_bytes = big ? 8 : 2, entry_bytes = big ? 20 : 12, field = big ? 8 : 4;
    const auto number = [](const unsigned char* p, std::size_t n) {
      std::uint64_t v = 0;
      for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t(p[i]) << (8 * i);
      return v;
    };
    std::uint64_t directory = number(head + (big ? 8 : 4), field);
    for (const ExifIfd& exif : exif_) {
      unsigned char count[8] = {};
      if (directory == 0 || read_at(fd, count, count_bytes, static_cast<off_t>(directory)) != static_cast<long long>(count_bytes))
        throw failed();
      const std::uint64_t n = number(count, count_bytes);
      std::vector<unsigned char> entries(static_cast<std::size_t>(n) * entry_bytes + field);
      if (read_at(fd, entries.data(), entries.size(), static_cast<off_t>(directory + count_bytes)) !=
          static_cast<long long>(entries.size()))
        throw failed();
      for (std::size_t i = 0; i < n; ++i) {
        const unsigned char* e = entries.data() + i * entry_bytes;
        const std::uint16_t tag = static_cast<std::uint16_t>(number(e, 2));
        if (tag != exif_ifd_tag && tag != gps_ifd_tag) continue;
        auto child = exif.children.find(tag);
        if (child == exif.children.end()) continue;
        const long long end = file_size(fd);
        const std::uint64_t at = static_cast<std::uint64_t>(end + (end % 2));
        // Pixel dimensions were the input's; the components' order describes JPEG data.
        const std::string bytes = ifd_bytes(without_tags(child->second, {0xa002, 0xa003, 0x9101}), at, big);
        unsigned char pointer[8] = {};
        for (std::size_t b = 0; b < field; ++b) pointer[b] = static_cast<unsigned char>(at >> (8 * b));
        int error = write_at(fd, bytes.data(), bytes.size(), static_cast<off_t>(at));
        if (error == 0)
          error = write_at(fd, pointer, field, static_cast<off_t>(directory + count_bytes + i * entry_bytes + (big ? 12 : 8)));
        if (error != 0) throw write_error(output_, error);
      }
      directory = number(entries.data() + n * entry_bytes, field);
    }
  }

  FileError failed() const {
    if (tiff_ && tiff_->write_error()) return write_error(output_, tiff_->write_error());
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
  std::vector<ExifIfd> exif_;  // each page's Exif, to append
};

}  // namespace

std::unique_ptr<PictureWriter> create_tiff(const std::string& output, const std::vector<PagePlan>& plans,
                                           const std::vector<PageInfo>& input, const EncodingChoices& choices) {
  return std::make_unique<TiffWriter>(output, plans, input, choices);
}

}  // namespace kelvane
