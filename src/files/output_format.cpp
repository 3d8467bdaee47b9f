#include "files/output_format.h"

#include <algorithm>
#include <cstdint>

#include "files/file_error.h"

namespace kelvane {

namespace {

const std::vector<OutputFormat>& formats() {
  using A = AlphaKind;
  // extension, encoder, name, deepest integers, floats, alpha, pages, keeps integer types,
  // half floats, orientation tag, colour channels
  static const std::vector<OutputFormat> table = {
      {"png", Encoder::png, "PNG", 16, false, A::straight, false, false, false, false, {1, 3}},
      {"jpg", Encoder::jpeg, "JPEG", 8, false, A::none, false, false, false, true, {1, 3}},
      {"jpeg", Encoder::jpeg, "JPEG", 8, false, A::none, false, false, false, true, {1, 3}},
      {"jpe", Encoder::jpeg, "JPEG", 8, false, A::none, false, false, false, true, {1, 3}},
      {"tif", Encoder::tiff, "TIFF", 16, true, A::as_input, true, true, true, true, {}},
      {"tiff", Encoder::tiff, "TIFF", 16, true, A::as_input, true, true, true, true, {}},
      {"pbm", Encoder::pnm, "PBM", 1, false, A::none, false, false, false, false, {1}},
      {"pgm", Encoder::pnm, "PGM", 16, false, A::none, false, false, false, false, {1}},
      {"ppm", Encoder::pnm, "PPM", 16, false, A::none, false, false, false, false, {3}},
      {"pnm", Encoder::pnm, "PNM", 16, false, A::none, false, false, false, false, {1, 3}},
      {"pfm", Encoder::pnm, "PFM", 0, true, A::none, false, false, false, false, {1, 3}},
      {"bmp", Encoder::bmp, "BMP", 8, false, A::none, false, false, false, false, {1, 3}},
      {"exr", Encoder::openexr, "OpenEXR", 0, true, A::associated, true, false, true, false, {}},
      {"hdr", Encoder::radiance, "Radiance HDR", 0, true, A::none, false, false, false, false, {3}},
      {"fits", Encoder::fits, "FITS", 0, true, A::none, false, true, false, false, {1, 3}},
      {"fit", Encoder::fits, "FITS", 0, true, A::none, false, true, false, false, {1, 3}},
      {"webp", Encoder::webp, "WebP", 8, false, A::straight, false, false, false, false, {3}},
      {"heic", Encoder::heif, "HEIF", 8, false, A::straight, false, false, false, false, {3}},
      {"heif", Encoder::heif, "HEIF", 8, false, A::straight, false, false, false, false, {3}},
      {"jp2", Encoder::jpeg2000, "JPEG 2000", 16, false, A::straight, false, false, false, false, {1, 3}},
      {"j2k", Encoder::jpeg2000, "JPEG 2000", 16, false, A::straight, false, false, false, false, {1, 3}},
      {"cimg", Encoder::cimg, ".cimg", 0, true, A::straight, true, false, false, false, {}},
      {"cimgz", Encoder::cimgz, ".cimgz", 0, true, A::straight, true, false, false, false, {}},
      {"asc", Encoder::ascii, ".asc", 0, true, A::straight, true, false, false, false, {}},
  };
  return table;
}

std::string extension_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext;
}


// Floating-point formats that hold doubles as well as floats.
bool holds_doubles(const OutputFormat& format) {
  return format.encoder == Encoder::tiff || format.encoder == Encoder::fits;
}

std::string colours_text(const std::vector<std::size_t>& colours) {
  if (colours == std::vector<std::size_t>{1}) return "gray pictures";
  if (colours == std::vector<std::size_t>{3}) return "RGB pictures";
  return "gray or RGB pictures";
}

// The sample type an integer sample type keeps, with its largest code and signed offset.
void keep_integer_type(SampleType type, SampleStore& store, unsigned& bits) {
  store.sample = type;
  bits = static_cast<unsigned>(8 * sample_bytes(type));
  store.unit = static_cast<double>((std::uint64_t(1) << bits) - 1);
  store.offset = is_signed(type) ? static_cast<double>(std::uint64_t(1) << (bits - 1)) : 0.0;
}

}  // namespace

bool holds_whole_pages(const OutputFormat& format) {
  return format.encoder == Encoder::cimg || format.encoder == Encoder::cimgz || format.encoder == Encoder::ascii;
}

std::vector<std::string> output_extensions() {
  std::vector<std::string> extensions;
  for (const auto& f : formats()) extensions.push_back(f.extension);
  return extensions;
}

std::string extension_list_text() {
  std::string list;
  for (const std::string& extension : output_extensions()) list += (list.empty() ? "." : ", .") + extension;
  return list;
}

bool output_extension_known(const std::string& extension) {
  const std::string ext = extension_of("picture." + extension);
  for (const auto& format : formats())
    if (ext == format.extension) return true;
  return false;
}

const OutputFormat& output_format(const std::string& path) {
  const std::string ext = extension_of(path);
  for (const auto& format : formats())
    if (ext == format.extension) return format;
  throw write_error(path, (ext.empty() ? std::string("no extension to choose a picture format by")
                                       : "unknown picture format '." + ext + "'") +
                              " (use " + extension_list_text() + ")");
}

std::vector<PagePlan> plan_output(const OutputFormat& format, const std::string& path,
                                  const std::vector<PageInfo>& pages) {
  if (pages.size() > 1 && !format.pages)
    throw write_error(path, "the picture has " + std::to_string(pages.size()) + " pages and ." +
                                extension_of(path) + " holds one (use .tif, .exr or .cimg)");
  const bool raw = holds_whole_pages(format);
  std::vector<PagePlan> plans;
  for (const PageInfo& page : pages) {
    const PageLayout& in = page.layout;
    PagePlan plan;
    plan.width = in.width;
    plan.height = in.height;
    // The picture's values keep their colour channels first and alpha last.
    const std::size_t colours = in.colour_channels();
    const auto& held = format.colours;
    if (!held.empty() && std::find(held.begin(), held.end(), colours) == held.end()) {
      // A gray picture is an RGB picture of three equal channels.
      if (colours != 1 || std::find(held.begin(), held.end(), 3) == held.end())
        throw write_error(path, "." + extension_of(path) + " holds " + colours_text(held) + ", and this picture has " +
                                    std::to_string(colours) + " colour channel" + (colours == 1 ? "" : "s") +
                                    (colours == 3 && held == std::vector<std::size_t>{1} ? " (use .ppm, .png or .tif)"
                                                                                         : " (use .tif, .exr or .cimg)"));
      plan.store.channels = {0, 0, 0};
    } else {
      for (std::size_t c = 0; c < colours; ++c) plan.store.channels.push_back(c);
    }
    if (in.alpha >= 0 && format.alpha != AlphaKind::none) {
      plan.alpha = static_cast<int>(plan.store.channels.size());
      plan.store.channels.push_back(colours);
      plan.associated = format.alpha == AlphaKind::associated || (format.alpha == AlphaKind::as_input && in.premultiplied);
      if (plan.associated) plan.store.premultiplied_by = plan.alpha;
    }
    if (raw) {
      plan.store.sample = SampleType::f64;
      plan.store.unit = 255.0;
      plan.bits = 64;
    } else if (format.keeps_integers && !is_floating(in.sample)) {
      keep_integer_type(in.sample, plan.store, plan.bits);
    } else if (format.integer_bits == 0 || (format.floats && is_floating(in.sample))) {
      plan.store.sample = in.sample == SampleType::f64 && holds_doubles(format) ? SampleType::f64
                          : in.sample == SampleType::f16 && format.holds_half   ? SampleType::f16
                                                                                : SampleType::f32;
      plan.store.unit = 1.0;
      plan.bits = static_cast<unsigned>(8 * sample_bytes(plan.store.sample));
    } else if (format.integer_bits == 1) {
      plan.store.sample = SampleType::u8;
      plan.store.unit = 255.0;
      plan.bits = 1;
    } else {
      const bool deep = is_floating(in.sample) || in.bits > 8;
      plan.bits = deep && format.integer_bits >= 16 ? 16 : 8;
      plan.store.sample = plan.bits == 16 ? SampleType::u16 : SampleType::u8;
      plan.store.unit = plan.bits == 16 ? 65535.0 : 255.0;
    }
    plans.push_back(plan);
  }
  if (raw && pages.size() > 1)
    for (const PagePlan& p : plans)
      if (p.width != plans[0].width || p.height != plans[0].height || p.store.channels.size() != plans[0].store.channels.size())
        throw write_error(path, "its pages differ in size or channels, and ." + extension_of(path) +
                                    " holds pages of one size (use .tif or .exr)");
  return plans;
}

}  // namespace kelvane
