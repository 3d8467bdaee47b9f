#include "main/samples.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "main/image_file.h"

void check_picture_fits(std::size_t width, std::size_t height, std::size_t depth,
                        std::size_t spectrum, const std::string& path) {
  // The picture as doubles, plus up to three tables of one channel while leveling.
  const long double pixels = static_cast<long double>(width) * height * depth;
  const long double needed = pixels * 8.0L * (static_cast<long double>(spectrum) + 3.0L);
  long double memory = static_cast<long double>(::sysconf(_SC_PHYS_PAGES)) *
                       static_cast<long double>(::sysconf(_SC_PAGE_SIZE));
  // A lower budget for batch jobs and sandboxes sharing the machine.
  if (const char* limit = std::getenv("KELVANE_MEMORY_LIMIT_MB")) {
    const long double megabytes = std::strtold(limit, nullptr);
    if (megabytes > 0) memory = std::min(memory, megabytes * (1 << 20));
  }
  if (needed > memory)
    throw FileError("cannot read " + path + ": a picture of " + std::to_string(width) + " x " +
                    std::to_string(height) + (depth > 1 ? " x " + std::to_string(depth) : "") +
                    " pixels needs " + std::to_string(static_cast<long long>(needed / (1 << 20))) +
                    " MiB to level, more than the " +
                    std::to_string(static_cast<long long>(memory / (1 << 20))) + " MiB available");
}
