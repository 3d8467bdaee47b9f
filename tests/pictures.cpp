#include "pictures.h"

#include <gtest/gtest.h>

#include "files/page_values.h"
#include "files/picture_reader.h"

using namespace kelvane;

std::vector<LoadedPage> load_pages(const std::string& path) {
  std::unique_ptr<PictureReader> reader = open_picture(path);
  std::vector<LoadedPage> pages;
  for (std::size_t p = 0; p < reader->pages().size(); ++p) {
    pages.push_back({reader->pages()[p].layout, read_page_values(*reader, p)});
  }
  return pages;
}

void write_with_library(const std::string& path, const std::vector<OIIO::ImageSpec>& specs,
                        const std::vector<std::vector<unsigned char>>& samples) {
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << path;
  ASSERT_TRUE(specs.size() == 1 ? out->open(path, specs[0]) : out->open(path, int(specs.size()), specs.data()))
      << out->geterror();
  for (std::size_t p = 0; p < specs.size(); ++p) {
    if (p > 0) {
      ASSERT_TRUE(out->open(path, specs[p], OIIO::ImageOutput::AppendSubimage)) << out->geterror();
    }
    ASSERT_TRUE(out->write_image(specs[p].format, samples[p].data())) << out->geterror();
  }
  ASSERT_TRUE(out->close()) << out->geterror();
}

OIIO::ImageSpec library_image_info(const std::string& path, int page) {
  auto in = OIIO::ImageInput::open(path);
  if (!in) return OIIO::ImageSpec();
  in->seek_subimage(page, 0);
  OIIO::ImageSpec image_info = in->spec();
  in->close();
  return image_info;
}
