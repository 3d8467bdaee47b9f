#include "files/exr_reader.h"

#include <unistd.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfInputPart.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfPartType.h>
#include <OpenEXR/Iex.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "files/descriptor_io.h"
#include "files/file_error.h"
#include "files/header_sizes.h"
#include "files/metadata.h"

namespace kelvane {

namespace {

// The library's reads, from our descriptor; a read past the end is missing data.
class DescriptorStream final : public Imf::IStream {
 public:
  DescriptorStream(int fd, const std::string& path) : Imf::IStream(path.c_str()), fd_(fd) {}
  bool read(char c[], int n) override {
    const long long got = read_at(fd_, c, static_cast<std::size_t>(n), static_cast<off_t>(position_));
    if (got != n) throw IEX_NAMESPACE::InputExc("unexpected end of file");
    position_ += static_cast<std::uint64_t>(n);
    return true;
  }
  std::uint64_t tellg() override { return position_; }
  void seekg(std::uint64_t position) override { position_ = position; }

 private:
  int fd_;
  std::uint64_t position_ = 0;
};

// A part's channels in the order kelvane keeps them: R, G, B (or Y), the others as the file
// lists them, then A.
struct Channels {
  std::vector<std::string> names;
  int alpha = -1;
  bool integer = true;  // every channel holds unsigned integers
  bool half = true;     // every channel holds half floats
};

Channels channels_of(const Imf::Header& header) {
  Channels c;
  std::vector<std::string> all;
  for (auto i = header.channels().begin(); i != header.channels().end(); ++i) {
    if (i.channel().xSampling != 1 || i.channel().ySampling != 1) throw std::runtime_error("subsampled channels");
    if (i.channel().type != Imf::UINT) c.integer = false;
    if (i.channel().type != Imf::HALF) c.half = false;
    all.push_back(i.name());
  }
  const auto has = [&](const char* name) { return std::find(all.begin(), all.end(), name) != all.end(); };
  if (has("R") && has("G") && has("B")) c.names = {"R", "G", "B"};
  else if (has("Y")) c.names = {"Y"};
  for (const std::string& name : all)
    if (name != "A" && std::find(c.names.begin(), c.names.end(), name) == c.names.end()) c.names.push_back(name);
  if (has("A")) {
    c.alpha = static_cast<int>(c.names.size());
    c.names.push_back("A");
  }
  return c;
}

class ExrReader final : public PictureReader {
 public:
  ExrReader(const std::string& path, int fd, unsigned long long memory_limit)
      : PictureReader(path, "OpenEXR", fd), stream_(fd, path) {
    check_exr_header(fd, path, memory_limit);
    try {
      file_ = std::make_unique<Imf::MultiPartInputFile>(stream_, 1, false);
      for (int p = 0; p < file_->parts(); ++p) add_page(file_->header(p));
    } catch (const FileError&) {
      throw;
    } catch (const std::exception&) {
      throw damaged();
    }
  }

  ~ExrReader() override {
    parts_.clear();
    file_.reset();
    ::close(fd_);
  }

  void read_rows(std::size_t page, std::size_t y, std::size_t count, void* rows) override {
    const PageLayout& layout = pages_[page].layout;
    const Imath::Box2i window = file_->header(static_cast<int>(page)).dataWindow();
    const std::size_t bytes = sample_bytes(layout.sample), pixel = layout.channels * bytes;
    // The frame buffer addresses pixel (x, y) of the data window at base + x * pixel + y * row.
    char* base = static_cast<char*>(rows) - (static_cast<std::ptrdiff_t>(window.min.x) +
                                             (static_cast<std::ptrdiff_t>(window.min.y) + static_cast<std::ptrdiff_t>(y)) *
                                                 static_cast<std::ptrdiff_t>(layout.width)) *
                                                static_cast<std::ptrdiff_t>(pixel);
    Imf::FrameBuffer frame;
    const Imf::PixelType type = layout.sample == SampleType::u32   ? Imf::UINT
                                : layout.sample == SampleType::f16 ? Imf::HALF
                                                                   : Imf::FLOAT;
    for (std::size_t c = 0; c < layout.channels; ++c)
      frame.insert(names_[page][c], Imf::Slice(type, base + c * bytes, pixel, pixel * layout.width));
    try {
      Imf::InputPart& part = input_part(page);
      part.setFrameBuffer(frame);
      part.readPixels(window.min.y + static_cast<int>(y), window.min.y + static_cast<int>(y + count) - 1);
    } catch (const std::exception&) {
      throw damaged();
    }
  }

 private:
  FileError damaged() const { return read_error(path_, "damaged or truncated OpenEXR file"); }

  Imf::InputPart& input_part(std::size_t page) {
    if (parts_.size() <= page) parts_.resize(page + 1);
    if (!parts_[page]) parts_[page] = std::make_unique<Imf::InputPart>(*file_, static_cast<int>(page));
    return *parts_[page];
  }

  void add_page(const Imf::Header& header) {
    if (Imf::isDeepData(header.type()))
      throw read_error(path_, "deep OpenEXR pictures (several samples a pixel) are not supported");
    const Imath::Box2i window = header.dataWindow();
    const long long width = static_cast<long long>(window.max.x) - window.min.x + 1;
    const long long height = static_cast<long long>(window.max.y) - window.min.y + 1;
    if (width <= 0 || height <= 0) throw damaged();
    Channels channels;
    try {
      channels = channels_of(header);
    } catch (const std::runtime_error&) {
      throw read_error(path_, "OpenEXR channels sampled at less than every pixel are not supported");
    }
    if (channels.names.empty()) throw damaged();
    PageInfo info;
    PageLayout& layout = info.layout;
    layout.width = static_cast<std::size_t>(width);
    layout.height = static_cast<std::size_t>(height);
    layout.channels = channels.names.size();
    layout.alpha = channels.alpha;
    // OpenEXR's colours are multiplied by alpha, always.
    layout.premultiplied = channels.alpha >= 0;
    layout.sample = channels.integer ? SampleType::u32 : channels.half ? SampleType::f16 : SampleType::f32;
    layout.bits = static_cast<unsigned>(8 * sample_bytes(layout.sample));
    layout.coding.assign(layout.channels, SampleCoding{channels.integer ? 4294967295.0 : 1.0, 0.0, 0.0});
    auto metadata = std::make_shared<Metadata>();
    const Imath::Box2i display = header.displayWindow();
    metadata->has_windows = true;
    const int data_corners[4] = {window.min.x, window.min.y, window.max.x, window.max.y};
    const int display_corners[4] = {display.min.x, display.min.y, display.max.x, display.max.y};
    std::copy(data_corners, data_corners + 4, metadata->data_window);
    std::copy(display_corners, display_corners + 4, metadata->display_window);
    info.metadata = metadata;
    info.chunk_rows = header.hasTileDescription() ? header.tileDescription().ySize : 16;
    // The library decodes a chunk of lines (or a row of tiles) at a time.
    info.decoder_bytes = static_cast<long double>(layout.width) * layout.channels * 4 * (info.chunk_rows + 32);
    info.encoding = "openexr " + std::to_string(static_cast<int>(header.compression()));
    pages_.push_back(info);
    names_.push_back(channels.names);
  }

  DescriptorStream stream_;
  std::unique_ptr<Imf::MultiPartInputFile> file_;
  std::vector<std::unique_ptr<Imf::InputPart>> parts_;
  std::vector<std::vector<std::string>> names_;  // each page's channels, in the order handed over
};

}  // namespace

std::unique_ptr<PictureReader> open_exr(const std::string& path, int fd, unsigned long long memory_limit) {
  try {
    return std::make_unique<ExrReader>(path, fd, memory_limit);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

}  // namespace kelvane
