#include "files/exr_writer.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfMultiPartOutputFile.h>
#include <OpenEXR/ImfOutputPart.h>
#include <OpenEXR/ImfPartType.h>
#include <OpenEXR/Iex.h>

#include <cstring>
#include <exception>

#include "files/atomic_file.h"
#include "files/descriptor_io.h"
#include "files/file_error.h"
#include "files/metadata.h"
#include "image/samples.h"

namespace kelvane {

namespace {

// The library's writes, to our descriptor; the first failure is kept for the message.
class DescriptorStream final : public Imf::OStream {
 public:
  DescriptorStream(int fd, const std::string& path) : Imf::OStream(path.c_str()), bytes_(fd, path) {}
  void write(const char c[], int n) override {
    bytes_.put(c, static_cast<std::size_t>(n), static_cast<off_t>(position_));
    if (bytes_.error()) throw IEX_NAMESPACE::IoExc("write failed");
    position_ += static_cast<std::uint64_t>(n);
  }
  std::uint64_t tellp() override { return position_; }
  void seekp(std::uint64_t position) override { position_ = position; }
  const OutputBytes& bytes() const { return bytes_; }

 private:
  OutputBytes bytes_;
  std::uint64_t position_ = 0;
};

std::vector<std::string> channel_names(const PagePlan& plan) {
  const std::size_t n = plan.store.channels.size(), colours = n - (plan.alpha >= 0 ? 1 : 0);
  std::vector<std::string> names;
  for (std::size_t c = 0; c < n; ++c) {
    if (static_cast<int>(c) == plan.alpha) names.push_back("A");
    else if (colours == 3 && c < 3) names.push_back(std::string(1, "RGB"[c]));
    else if (colours == 1 && c == 0) names.push_back("Y");
    else names.push_back("channel" + std::to_string(c));
  }
  return names;
}

// An OpenEXR input's compression, where it loses nothing.
Imf::Compression compression_of(const PageInfo& input) {
  const std::string& name = input.encoding;
  for (Imf::Compression c : {Imf::NO_COMPRESSION, Imf::RLE_COMPRESSION, Imf::ZIPS_COMPRESSION, Imf::ZIP_COMPRESSION,
                             Imf::PIZ_COMPRESSION})
    if (name == "openexr " + std::to_string(static_cast<int>(c))) return c;
  return Imf::ZIP_COMPRESSION;
}

class ExrWriter final : public PictureWriter {
 public:
  ExrWriter(const std::string& output, const std::vector<PagePlan>& plans, const std::vector<PageInfo>& input)
      : output_(output), plans_(plans), file_(output), stream_(file_.fd(), output) {
    std::vector<Imf::Header> headers;
    bool own_display = false;  // a display window from the input, which the pages share
    for (std::size_t p = 0; p < plans.size(); ++p) {
      const PagePlan& plan = plans[p];
      Imf::Header header(static_cast<int>(plan.width), static_cast<int>(plan.height));
      const Metadata* m = input[p].metadata.get();
      if (m && m->has_windows && static_cast<std::size_t>(m->data_window[2] - m->data_window[0] + 1) == plan.width &&
          static_cast<std::size_t>(m->data_window[3] - m->data_window[1] + 1) == plan.height) {
        header.dataWindow() = Imath::Box2i({m->data_window[0], m->data_window[1]}, {m->data_window[2], m->data_window[3]});
        header.displayWindow() =
            Imath::Box2i({m->display_window[0], m->display_window[1]}, {m->display_window[2], m->display_window[3]});
        own_display = true;
      }
      header.compression() = compression_of(input[p]);
      const Imf::PixelType type = plan.store.sample == SampleType::f16 ? Imf::HALF : Imf::FLOAT;
      for (const std::string& name : channel_names(plan)) header.channels().insert(name, Imf::Channel(type));
      header.setType(Imf::SCANLINEIMAGE);
      header.setName("page " + std::to_string(p + 1));
      headers.push_back(header);
    }
    // Parts share one display window: the input's, or the smallest that holds every page.
    Imath::Box2i display = headers[0].displayWindow();
    if (!own_display)
      for (const Imf::Header& h : headers) display.extendBy(h.displayWindow());
    for (Imf::Header& h : headers) h.displayWindow() = display;
    try {
      out_ = std::make_unique<Imf::MultiPartOutputFile>(stream_, headers.data(), static_cast<int>(headers.size()), false, 1);
    } catch (const std::exception&) {
      throw failed();
    }
  }

  void write_rows(std::size_t page, std::size_t, std::size_t count, const double* values,
                  std::size_t channel_stride) override {
    const PagePlan& plan = plans_[page];
    const std::size_t n = plan.store.channels.size(), bytes = sample_bytes(plan.store.sample);
    const std::size_t row_bytes = plan.width * n * bytes;
    rows_.resize(row_bytes * count);
    for (std::size_t r = 0; r < count; ++r)
      samples_from_values(values + r * plan.width, channel_stride, plan.width, plan.store, rows_.data() + r * row_bytes);
    try {
      if (!part_ || page != page_) {
        part_ = std::make_unique<Imf::OutputPart>(*out_, static_cast<int>(page));
        page_ = page;
      }
      // Rows are written in order: the frame buffer holds the next `count` of them, pixel
      // (x, y) of the data window at base + x * pixel + y * row.
      const Imath::Box2i window = out_->header(static_cast<int>(page)).dataWindow();
      const int y = part_->currentScanLine();
      char* base = reinterpret_cast<char*>(rows_.data()) -
                   (static_cast<std::ptrdiff_t>(y) * static_cast<std::ptrdiff_t>(row_bytes) +
                    static_cast<std::ptrdiff_t>(window.min.x) * static_cast<std::ptrdiff_t>(n * bytes));
      Imf::FrameBuffer frame;
      const std::vector<std::string> names = channel_names(plan);
      const Imf::PixelType type = plan.store.sample == SampleType::f16 ? Imf::HALF : Imf::FLOAT;
      for (std::size_t c = 0; c < n; ++c) frame.insert(names[c], Imf::Slice(type, base + c * bytes, n * bytes, row_bytes));
      part_->setFrameBuffer(frame);
      part_->writePixels(static_cast<int>(count));
    } catch (const std::exception&) {
      throw failed();
    }
  }

  void commit() override {
    try {
      part_.reset();
      out_.reset();
    } catch (const std::exception&) {
      throw failed();
    }
    stream_.bytes().check();
    file_.commit();
  }

 private:
  FileError failed() const {
    stream_.bytes().check();
    return write_error(output_, "the OpenEXR encoder failed");
  }

  std::string output_;
  std::vector<PagePlan> plans_;
  AtomicFile file_;
  DescriptorStream stream_;
  std::unique_ptr<Imf::MultiPartOutputFile> out_;
  std::unique_ptr<Imf::OutputPart> part_;
  std::size_t page_ = 0;
  std::vector<unsigned char> rows_;
};

}  // namespace

std::unique_ptr<PictureWriter> create_exr(const std::string& output, const std::vector<PagePlan>& plans,
                                          const std::vector<PageInfo>& input) {
  return std::make_unique<ExrWriter>(output, plans, input);
}

}  // namespace kelvane
