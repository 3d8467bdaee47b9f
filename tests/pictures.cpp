#include "pictures.h"

#include <fitsio.h>
#include <tiffio.h>
#include <unistd.h>
#include <vips/vips.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfMultiPartOutputFile.h>
#include <OpenEXR/ImfOutputPart.h>
#include <OpenEXR/ImfPartType.h>

#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "files/page_values.h"
#include "files/picture_reader.h"
#include "files/vips_runtime.h"

using namespace kelvane;

std::vector<LoadedPage> load_pages(const std::string& path) {
  std::unique_ptr<PictureReader> reader = open_picture(path);
  std::vector<LoadedPage> pages;
  for (std::size_t p = 0; p < reader->pages().size(); ++p) pages.push_back({reader->pages()[p].layout, read_page_values(*reader, p)});
  return pages;
}

TestPage test_page(unsigned width, unsigned height, unsigned channels, const std::vector<unsigned char>& samples,
                   SampleType sample) {
  TestPage page;
  page.width = width;
  page.height = height;
  page.channels = channels;
  page.sample = sample;
  page.samples = samples;
  return page;
}

namespace {

std::string extension(const std::string& path) { return path.substr(path.find_last_of('.') + 1); }

void write_with_vips(const std::string& path, const TestPage& page) {
  start_vips();
  const VipsBandFormat format = page.sample == SampleType::u16   ? VIPS_FORMAT_USHORT
                                : page.sample == SampleType::f32 ? VIPS_FORMAT_FLOAT
                                                                 : VIPS_FORMAT_UCHAR;
  VipsImage* image = vips_image_new_from_memory_copy(page.samples.data(), page.samples.size(), int(page.width),
                                                     int(page.height), int(page.channels), format);
  ASSERT_NE(nullptr, image) << path;
  const bool deep = page.sample == SampleType::u16;
  const unsigned colours = page.channels - (page.alpha ? 1 : 0);
  image->Type = colours >= 3 ? (deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB)
                             : (deep ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W);
  if (page.channels == 4 && !page.alpha) image->Type = VIPS_INTERPRETATION_CMYK;
  const Metadata& m = page.metadata;
  if (m.orientation != 1) vips_image_set_int(image, VIPS_META_ORIENTATION, m.orientation);
  if (m.x_resolution > 0) {
    image->Xres = m.x_resolution / 25.4;
    image->Yres = m.y_resolution / 25.4;
    vips_image_set_string(image, VIPS_META_RESOLUTION_UNIT, "in");
  }
  if (!m.icc_profile.empty()) vips_image_set_blob_copy(image, VIPS_META_ICC_NAME, m.icc_profile.data(), m.icc_profile.size());
  for (std::size_t i = 0; i < m.texts.size(); ++i)
    vips_image_set_string(image, ("png-comment-" + std::to_string(i) + "-" + m.texts[i].first).c_str(), m.texts[i].second.c_str());
  EXPECT_EQ(0, vips_image_write_to_file(image, path.c_str(), nullptr)) << path << ": " << vips_error_buffer();
  vips_error_clear();
  g_object_unref(image);
}

void write_tiff(const std::string& path, const std::vector<TestPage>& pages, bool big) {
  TIFF* tiff = TIFFOpen(path.c_str(), big ? "w8" : "w");
  ASSERT_NE(nullptr, tiff) << path;
  for (const TestPage& page : pages) {
    const unsigned colours = page.channels - (page.alpha ? 1 : 0);
    const unsigned bytes = static_cast<unsigned>(sample_bytes(page.sample));
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(page.channels));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(8 * bytes));
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, is_floating(page.sample) ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, colours >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 3u);
    const unsigned extra = page.channels - (colours >= 3 ? 3 : 1);
    if (extra > 0) {
      std::vector<std::uint16_t> kinds(extra, EXTRASAMPLE_UNSPECIFIED);
      if (page.alpha) kinds.back() = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(extra), kinds.data());
    }
    const Metadata& m = page.metadata;
    if (m.orientation != 1) TIFFSetField(tiff, TIFFTAG_ORIENTATION, static_cast<std::uint16_t>(m.orientation));
    if (m.x_resolution > 0) {
      TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<float>(m.x_resolution));
      TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<float>(m.y_resolution));
      TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    if (!m.icc_profile.empty()) TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(m.icc_profile.size()), m.icc_profile.data());
    if (const std::string* text = m.text("Description")) TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, text->c_str());
    if (pages.size() > 1) TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    const std::size_t row = std::size_t(page.width) * page.channels * bytes;
    for (unsigned y = 0; y < page.height; ++y)
      ASSERT_EQ(1, TIFFWriteScanline(tiff, const_cast<unsigned char*>(page.samples.data()) + y * row, y, 0)) << path;
    ASSERT_EQ(1, TIFFWriteDirectory(tiff)) << path;
  }
  TIFFClose(tiff);
}

void write_exr(const std::string& path, const std::vector<TestPage>& pages) {
  std::vector<Imf::Header> headers;
  std::vector<std::vector<std::string>> names;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    const TestPage& page = pages[p];
    Imf::Header header(int(page.width), int(page.height));
    const Metadata& m = page.metadata;
    if (m.has_windows) {
      header.dataWindow() = Imath::Box2i({m.data_window[0], m.data_window[1]}, {m.data_window[2], m.data_window[3]});
      header.displayWindow() = Imath::Box2i({m.display_window[0], m.display_window[1]}, {m.display_window[2], m.display_window[3]});
    }
    header.setType(Imf::SCANLINEIMAGE);
    header.setName("part" + std::to_string(p));
    const unsigned colours = page.channels - (page.alpha ? 1 : 0);
    std::vector<std::string> n = colours == 3 ? std::vector<std::string>{"R", "G", "B"} : std::vector<std::string>{"Y"};
    if (page.alpha) n.push_back("A");
    const Imf::PixelType type = page.sample == SampleType::f16 ? Imf::HALF : Imf::FLOAT;
    for (const std::string& name : n) header.channels().insert(name, Imf::Channel(type));
    headers.push_back(header);
    names.push_back(n);
  }
  Imf::MultiPartOutputFile out(path.c_str(), headers.data(), int(headers.size()));
  for (std::size_t p = 0; p < pages.size(); ++p) {
    const TestPage& page = pages[p];
    // Half and full floats as they are; 8-bit samples become floats of code / 255.
    const std::size_t bytes = page.sample == SampleType::f16 ? 2 : 4;
    std::vector<unsigned char> samples(page.samples);
    if (page.sample == SampleType::u8) {
      samples.resize(page.samples.size() * 4);
      for (std::size_t i = 0; i < page.samples.size(); ++i) {
        const float v = float(page.samples[i]) / 255.0f;
        std::memcpy(&samples[4 * i], &v, 4);
      }
    } else {
      ASSERT_TRUE(page.sample == SampleType::f32 || page.sample == SampleType::f16) << path;
    }
    Imf::OutputPart part(out, int(p));
    Imf::FrameBuffer frame;
    const Imath::Box2i window = headers[p].dataWindow();
    const std::size_t pixel = bytes * page.channels, row = pixel * page.width;
    char* base = reinterpret_cast<char*>(samples.data()) - (window.min.x * std::ptrdiff_t(pixel) + window.min.y * std::ptrdiff_t(row));
    const Imf::PixelType type = bytes == 2 ? Imf::HALF : Imf::FLOAT;
    for (std::size_t c = 0; c < names[p].size(); ++c) frame.insert(names[p][c], Imf::Slice(type, base + bytes * c, pixel, row));
    part.setFrameBuffer(frame);
    part.writePixels(int(page.height));
  }
}

// The first row of a FITS image is the bottom of the picture.
void write_fits(const std::string& path, const TestPage& page) {
  ::unlink(path.c_str());
  fitsfile* file = nullptr;
  int status = 0;
  long axes[3] = {long(page.width), long(page.height), long(page.channels)};
  const int bitpix = page.sample == SampleType::u8 ? BYTE_IMG : page.sample == SampleType::u16 ? USHORT_IMG : FLOAT_IMG;
  const int type = page.sample == SampleType::u8 ? TBYTE : page.sample == SampleType::u16 ? TUSHORT : TFLOAT;
  fits_create_diskfile(&file, path.c_str(), &status);
  fits_create_img(file, bitpix, page.channels > 1 ? 3 : 2, axes, &status);
  const std::size_t bytes = sample_bytes(page.sample);
  std::vector<unsigned char> row(page.width * bytes);
  for (unsigned c = 0; c < page.channels; ++c)
    for (unsigned y = 0; y < page.height; ++y) {
      for (unsigned x = 0; x < page.width; ++x)
        std::memcpy(&row[x * bytes], &page.samples[((y * page.width + x) * page.channels + c) * bytes], bytes);
      long first[3] = {1, long(page.height - y), long(c + 1)};
      fits_write_pix(file, type, first, page.width, row.data(), &status);
    }
  fits_close_file(file, &status);
  ASSERT_EQ(0, status) << path;
}

}  // namespace

void write_picture(const std::string& path, const std::vector<TestPage>& pages, bool big) {
  const std::string ext = extension(path);
  if (ext == "tif" || ext == "tiff") return write_tiff(path, pages, big);
  if (ext == "exr") return write_exr(path, pages);
  ASSERT_EQ(1u, pages.size()) << path;
  if (ext == "fits") return write_fits(path, pages[0]);
  write_with_vips(path, pages[0]);
}

Facts facts_of(const std::string& path, int page) {
  start_vips();
  Facts facts;
  VipsImage* image = vips_image_new_from_file(path.c_str(), "page", page, nullptr);
  if (!image) {
    // Loaders of one page take no page number.
    vips_error_clear();
    if (page == 0) image = vips_image_new_from_file(path.c_str(), nullptr);
  }
  if (!image) {
    vips_error_clear();
    return facts;
  }
  facts.read = true;
  facts.width = image->Xsize;
  facts.height = image->Ysize;
  facts.bands = image->Bands;
  switch (image->BandFmt) {
    case VIPS_FORMAT_USHORT: facts.sample = SampleType::u16; break;
    case VIPS_FORMAT_FLOAT: facts.sample = SampleType::f32; break;
    case VIPS_FORMAT_DOUBLE: facts.sample = SampleType::f64; break;
    default: facts.sample = SampleType::u8; break;
  }
  facts.alpha = vips_image_hasalpha(image);
  facts.cmyk = image->Type == VIPS_INTERPRETATION_CMYK;
  if (vips_image_get_typeof(image, VIPS_META_ORIENTATION)) vips_image_get_int(image, VIPS_META_ORIENTATION, &facts.orientation);
  facts.dots_per_inch = image->Xres * 25.4;
  const void* data = nullptr;
  std::size_t size = 0;
  if (vips_image_get_typeof(image, VIPS_META_ICC_NAME) && vips_image_get_blob(image, VIPS_META_ICC_NAME, &data, &size) == 0)
    facts.icc_profile.assign(static_cast<const char*>(data), size);
  const char* text = nullptr;
  for (const char* name : {"image-description", "png-comment-0-Description"})
    if (vips_image_get_typeof(image, name) && vips_image_get_string(image, name, &text) == 0) facts.description = text;
  g_object_unref(image);
  return facts;
}

std::vector<unsigned char> samples_of(const std::string& path) {
  start_vips();
  VipsImage* image = vips_image_new_from_file(path.c_str(), nullptr);
  if (!image) return {};
  VipsImage* bytes = nullptr;
  std::vector<unsigned char> samples;
  if (vips_cast(image, &bytes, VIPS_FORMAT_UCHAR, nullptr) == 0) {
    std::size_t size = 0;
    void* memory = vips_image_write_to_memory(bytes, &size);
    samples.assign(static_cast<unsigned char*>(memory), static_cast<unsigned char*>(memory) + size);
    g_free(memory);
    g_object_unref(bytes);
  }
  g_object_unref(image);
  return samples;
}

std::vector<unsigned char> random_bytes(std::size_t n, unsigned seed) {
  std::vector<unsigned char> bytes(n);
  std::mt19937 rng(seed);
  for (auto& b : bytes) b = static_cast<unsigned char>(rng());
  return bytes;
}
