#include "files/picture_writer.h"

#include <cstring>

#include "files/atomic_file.h"
#include "files/bmp_writer.h"
#include "files/cimg_file.h"
#include "files/exr_writer.h"
#include "files/fits_writer.h"
#include "files/pnm_writer.h"
#include "files/tiff_writer.h"
#include "files/vips_writer.h"

namespace kelvane {

namespace {

// CImg's own formats are written whole: the pages are kept until the end.
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
    const Encoder encoder = format_.encoder;
    write_cimg(file_.fd(), output_, encoder == Encoder::ascii ? CImgFormat::ascii : encoder == Encoder::cimgz ? CImgFormat::cimgz : CImgFormat::cimg,
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
  switch (format.encoder) {
    case Encoder::cimg: case Encoder::cimgz: case Encoder::ascii: return std::make_unique<CImgWriter>(output, format, plans);
    case Encoder::pnm: return create_pnm(output, plans[0]);
    case Encoder::bmp: return create_bmp(output, plans[0], input[0]);
    case Encoder::tiff: return create_tiff(output, plans, input, choices);
    case Encoder::openexr: return create_exr(output, plans, input);
    case Encoder::fits: return create_fits(output, plans[0]);
    default: return create_with_vips(output, format, plans[0], input[0], choices);
  }
}

}  // namespace kelvane
