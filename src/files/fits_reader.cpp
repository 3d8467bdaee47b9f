#include "files/fits_reader.h"

#include <fitsio.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "files/file_error.h"
#include "files/metadata.h"

namespace kelvane {

namespace {

double unit_of_bits(unsigned bits) { return static_cast<double>((std::uint64_t(1) << bits) - 1); }

struct FitsPage {
  int hdu = 1;           // cfitsio's number of the image's unit
  long slice = 0;        // the plane of a cube that is this page, or 0 for the planes as channels
  int datatype = TBYTE;  // what cfitsio reads the data as
};

// An open file, closed with its owner.
struct FitsHandle {
  fitsfile* file = nullptr;
  ~FitsHandle() {
    int status = 0;
    if (file) fits_close_file(file, &status);
  }
};

class FitsReader final : public PictureReader {
 public:
  FitsReader(const std::string& path, int fd) : PictureReader(path, "FITS", fd) {
    int status = 0;
    // Opened by name, and that name taken as it is: no extended file-name syntax.
    if (fits_open_diskfile(&handle_.file, ("/proc/self/fd/" + std::to_string(fd)).c_str(), READONLY, &status) != 0) throw damaged();
    int units = 0;
    if (fits_get_num_hdus(file_, &units, &status) != 0) throw damaged();
    for (int hdu = 1; hdu <= units; ++hdu) {
      int type = 0;
      if (fits_movabs_hdu(file_, hdu, &type, &status) != 0) throw damaged();
      if (type == IMAGE_HDU) add_pages(hdu);
    }
    if (pages_.empty()) throw read_error(path, "the FITS file holds no image");
  }

  ~FitsReader() override { ::close(fd_); }

  void read_rows(std::size_t page, std::size_t y, std::size_t count, void* rows) override {
    const FitsPage& f = sources_[page];
    const PageLayout& layout = pages_[page].layout;
    int status = 0, type = 0;
    if (fits_movabs_hdu(file_, f.hdu, &type, &status) != 0) throw damaged();
    const std::size_t bytes = sample_bytes(layout.sample), n = layout.channels, w = layout.width;
    plane_.resize(w * bytes);
    for (std::size_t r = 0; r < count; ++r) {
      unsigned char* out = static_cast<unsigned char*>(rows) + r * layout.row_bytes();
      for (std::size_t c = 0; c < n; ++c) {
        // The first row of the data is the bottom of the picture.
        long first[3] = {1, static_cast<long>(layout.height - (y + r)), f.slice > 0 ? f.slice : static_cast<long>(c + 1)};
        int any_null = 0;
        if (fits_read_pix(file_, f.datatype, first, static_cast<LONGLONG>(w), nullptr, plane_.data(), &any_null, &status) != 0)
          throw damaged();
        for (std::size_t x = 0; x < w; ++x)
          for (std::size_t b = 0; b < bytes; ++b) out[(x * n + c) * bytes + b] = plane_[x * bytes + b];
      }
    }
  }

 private:
  FileError damaged() const { return read_error(path_, "damaged or truncated FITS file"); }

  void add_pages(int hdu) {
    int status = 0, bitpix = 0, naxis = 0;
    long axes[9] = {0};
    if (fits_get_img_equivtype(file_, &bitpix, &status) != 0 || fits_get_img_dim(file_, &naxis, &status) != 0) throw damaged();
    if (naxis == 0) return;  // a header without data, as the first unit often is
    if (naxis > 9 || fits_get_img_size(file_, naxis, axes, &status) != 0) throw damaged();
    for (int a = 3; a < naxis; ++a)
      if (axes[a] != 1) throw read_error(path_, "FITS images of more than three axes are not supported");
    const long planes = naxis >= 3 ? axes[2] : 1;
    if (naxis < 2 || axes[0] <= 0 || axes[1] <= 0 || planes <= 0) throw damaged();
    PageInfo info;
    PageLayout& layout = info.layout;
    layout.width = static_cast<std::size_t>(axes[0]);
    layout.height = static_cast<std::size_t>(axes[1]);
    layout.channels = planes <= 4 ? static_cast<std::size_t>(planes) : 1;
    FitsPage source;
    source.hdu = hdu;
    double unit = 1.0;
    switch (bitpix) {
      case BYTE_IMG: source.datatype = TBYTE, layout.sample = SampleType::u8; break;
      case SBYTE_IMG: source.datatype = TSBYTE, layout.sample = SampleType::i8; break;
      case USHORT_IMG: source.datatype = TUSHORT, layout.sample = SampleType::u16; break;
      case SHORT_IMG: source.datatype = TSHORT, layout.sample = SampleType::i16; break;
      case ULONG_IMG: source.datatype = TUINT, layout.sample = SampleType::u32; break;
      case LONG_IMG: source.datatype = TINT, layout.sample = SampleType::i32; break;
      case FLOAT_IMG: source.datatype = TFLOAT, layout.sample = SampleType::f32; break;
      default: source.datatype = TDOUBLE, layout.sample = SampleType::f64; break;
    }
    layout.bits = static_cast<unsigned>(8 * sample_bytes(layout.sample));
    double offset = 0.0;
    if (!is_floating(layout.sample)) unit = unit_of_bits(layout.bits);
    if (is_signed(layout.sample)) offset = static_cast<double>(std::uint64_t(1) << (layout.bits - 1));
    layout.coding.assign(layout.channels, SampleCoding{unit, offset, 0.0});
    info.metadata = std::make_shared<Metadata>();
    // cfitsio reads through a cache of a few blocks.
    info.decoder_bytes = static_cast<long double>(layout.width) * sample_bytes(layout.sample) + 40 * 2880;
    if (planes <= 4) {
      pages_.push_back(info);
      sources_.push_back(source);
      return;
    }
    for (long slice = 1; slice <= planes; ++slice) {
      source.slice = slice;
      pages_.push_back(info);
      sources_.push_back(source);
    }
  }

  FitsHandle handle_;
  fitsfile*& file_ = handle_.file;
  std::vector<FitsPage> sources_;
  std::vector<unsigned char> plane_;
};

}  // namespace

std::unique_ptr<PictureReader> open_fits(const std::string& path, int fd) {
  try {
    return std::make_unique<FitsReader>(path, fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
}

}  // namespace kelvane
