#include "main/samples.h"

#include <unistd.h>

#include "main/image_file.h"

void check_picture_fits(std::size_t width, std::size_t height, std::size_t depth,
                        std::size_t spectrum, const std::string& path) {
  // The picture as doubles, plus up to three tables of one channel while leveling.
  const long double pixels = static_cast<long double>(width) * height * depth;
  const long double needed = pixels * 8.0L * (static_cast<long double>(spectrum) + 3.0L);
  const long double memory = static_cast<long double>(::sysconf(_SC_PHYS_PAGES)) *
                             static_cast<long double>(::sysconf(_SC_PAGE_SIZE));
  if (needed > memory)
    throw FileError("cannot read " + path + ": a picture of " + std::to_string(width) + " x " +
                    std::to_string(height) + (depth > 1 ? " x " + std::to_string(depth) : "") +
                    " pixels needs " + std::to_string(static_cast<long long>(needed / (1 << 20))) +
                    " MiB to level, more than this machine's " +
                    std::to_string(static_cast<long long>(memory / (1 << 20))) + " MiB");
}
