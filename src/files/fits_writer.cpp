#include "files/fits_writer.h"

#include <fitsio.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "files/atomic_file.h"
#include "files/file_error.h"
#include "image/samples.h"

namespace kelvane {

namespace {

// cfitsio's image type (BITPIX with BZERO) and data type for each sample type.
void fits_types(SampleType sample, int& image, int& data) {
  switch (sample) {
    case SampleType::u8: image = BYTE_IMG, data = TBYTE; return;
    case SampleType::i8: image = SBYTE_IMG, data = TSBYTE; return;
    case SampleType::u16: image = USHORT_IMG, data = TUSHORT; return;
    case SampleType::i16: image = SHORT_IMG, data = TSHORT; return;
    case SampleType::u32: image = ULONG_IMG, data = TUINT; return;
    case SampleType::i32: image = LONG_IMG, data = TINT; return;
    case SampleType::f64: image = DOUBLE_IMG, data = TDOUBLE; return;
    default: image = FLOAT_IMG, data = TFLOAT; return;
  }
}

class FitsWriter final : public PictureWriter {
 public:
  FitsWriter(const std::string& output, const PagePlan& plan)
      : output_(output), plan_(plan), file_(output, AtomicFile::Creation::by_encoder) {
    int status = 0, image = 0;
    fits_types(plan.store.sample, image, datatype_);
    long axes[3] = {static_cast<long>(plan.width), static_cast<long>(plan.height), static_cast<long>(plan.store.channels.size())};
    errno = 0;
    if (fits_create_diskfile(&fits_, file_.name().c_str(), &status) != 0 ||
        fits_create_img(fits_, image, axes[2] > 1 ? 3 : 2, axes, &status) != 0) {
      const FileError error = failed();
      if (fits_) fits_close_file(fits_, &status);
      fits_ = nullptr;
      throw error;
    }
  }

  ~FitsWriter() override {
    int status = 0;
    if (fits_) fits_close_file(fits_, &status);
  }

  void write_rows(std::size_t, std::size_t y, std::size_t count, const double* values,
                  std::size_t channel_stride) override {
    row_.resize(plan_.width * sample_bytes(plan_.store.sample));
    SampleStore plane = plan_.store;
    int status = 0;
    for (std::size_t r = 0; r < count; ++r)
      for (std::size_t k = 0; k < plan_.store.channels.size(); ++k) {
        plane.channels = {plan_.store.channels[k]};
        samples_from_values(values + r * plan_.width, channel_stride, plan_.width, plane, row_.data());
        // The last row of the data is the top of the picture.
        long first[3] = {1, static_cast<long>(plan_.height - (y + r)), static_cast<long>(k + 1)};
        errno = 0;
        if (fits_write_pix(fits_, datatype_, first, static_cast<LONGLONG>(plan_.width), row_.data(), &status) != 0)
          throw failed();
      }
  }

  void commit() override {
    int status = 0;
    errno = 0;
    fitsfile* fits = fits_;
    fits_ = nullptr;
    if (fits_close_file(fits, &status) != 0) throw failed();
    file_.commit();
  }

 private:
  FileError failed() const {
    return errno != 0 ? write_error(output_, errno) : write_error(output_, "the FITS encoder failed");
  }

  std::string output_;
  PagePlan plan_;
  AtomicFile file_;
  fitsfile* fits_ = nullptr;
  int datatype_ = TFLOAT;
  std::vector<unsigned char> row_;
};

}  // namespace

std::unique_ptr<PictureWriter> create_fits(const std::string& output, const PagePlan& plan) {
  return std::make_unique<FitsWriter>(output, plan);
}

}  // namespace kelvane
