#include "leveling/plane_pass.h"

#include "gray/color.h"

Picture& level_each_channel(Picture& image, const PlaneLeveler& level) {
  for (std::size_t z = 0; z < image.depth; ++z) {
    const Picture slice = image.slice(z);
    for (std::size_t c = 0; c < image.spectrum; ++c)
      level(PlanePass{slice.channel(c), slice.channel(c), image.width, image.height});
  }
  return image;
}

Picture& level_through_gray(Picture& image, GrayMethod method, const PlaneLeveler& level) {
  Plane gray(image.width, image.height);
  Plane corrected(image.width, image.height);
  for (std::size_t z = 0; z < image.depth; ++z) {
    Picture slice = image.slice(z);
    to_gray(slice, gray, method);
    level(PlanePass{gray.values.data(), corrected.values.data(), image.width, image.height});
    reproject_color(slice, gray, corrected);
  }
  return image;
}

Picture& level_gray_or_channels(Picture& image, GrayMethod method, bool exactly_three,
                                const PlaneLeveler& level) {
  if (exactly_three ? image.spectrum == 3 : image.spectrum >= 3) return level_through_gray(image, method, level);
  return level_each_channel(image, level);
}
