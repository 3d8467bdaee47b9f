#include "fuzz_input.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/file_error.h"
#include "files/memory_budget.h"
#include "jobs/level_file.h"

using namespace kelvane;

namespace {

std::string scratch(const std::string& name) {
  return "/dev/shm/kelvane-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

// The image library's own formats are told by their names: a file that starts with a number
// is named .cimg when its first line holds a type name, .asc otherwise.
std::string input_name(const std::uint8_t* file, std::size_t size) {
  if (size == 0 || !std::isdigit(file[0])) return "in";
  for (std::size_t i = 0; i < size && file[i] != '\n'; ++i)
    if (std::isalpha(file[i])) return "in.cimg";
  return "in.asc";
}

constexpr double max_fuzzed_pixels = 4e6;

}  // namespace

bool level_fuzz_input(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return true;
  // Bits of the first byte: 0-1 the algorithm, 2 its gray form, 3 two windows, 4 alpha
  // leveled as a colour, 5-7 the output format.
  const std::uint8_t choice = data[0];
  static const char* const outputs[] = {"out.png", "out.ppm", "out.tif", "out.jpg",
                                        "out.exr", "out.pfm", "out.cimg", "out.bmp"};
  const std::string input = scratch(input_name(data + 1, size - 1)), output = scratch(outputs[choice >> 5]);
  if (std::FILE* f = std::fopen(input.c_str(), "wb")) {
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
  }
  Leveling leveling;
  leveling.algorithm = &algorithm_table[2 * (choice & 3) + ((choice >> 2) & 1)];
  leveling.windows = 1 + ((choice >> 3) & 1);
  leveling.window1 = 5;
  leveling.window2 = 11;
  leveling.method = find_gray_method("y709");
  leveling.level_alpha = (choice >> 4) & 1;
  // The fuzzer's budget, as scripts/fuzz sets it.
  StreamSettings settings;
  if (const char* megabytes = std::getenv("KELVANE_MEMORY_LIMIT_MB")) settings.memory_limit = std::strtoull(megabytes, nullptr, 10) << 20;
  bool refused = false;
  try {
    std::unique_ptr<PictureReader> reader = open_picture(input, settings.memory_limit);
    // A few bytes can claim a picture of hundreds of megapixels, which the stream levels in
    // little memory but, under the sanitizers, for minutes: the headers and first rows are
    // what is fuzzed there, so of such pictures only the first rows are decoded.
    double pixels = 0;
    for (const PageInfo& page : reader->pages()) pixels += double(page.layout.width) * double(page.layout.height);
    if (pixels <= max_fuzzed_pixels) {
      level_file(*reader, output, leveling, EncodingChoices(), settings);
    } else {
      const PageLayout& first = reader->pages()[0].layout;
      check_memory(input, first.width, first.height, static_cast<long double>(first.row_bytes()) * 16, settings.memory_limit);
      std::vector<unsigned char> rows(first.row_bytes() * 16);
      reader->read_rows(0, 0, std::min<std::size_t>(16, first.height), rows.data());
    }
  } catch (const FileError&) {
    refused = true;
  }
  ::unlink(input.c_str());
  ::unlink(output.c_str());
  return refused;
}
