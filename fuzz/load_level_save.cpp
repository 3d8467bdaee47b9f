// libFuzzer target: any bytes, taken as a picture file of any format the tool reads, go
// through reading, one leveling operation and writing, as a command-line run would.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/file_error.h"
#include "jobs/level_file.h"

namespace {

std::string scratch(const char* name) {
  return "/dev/shm/kelvane-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the operation and the output format; the rest is the file.
  const std::uint8_t choice = data[0];
  static const char* const outputs[] = {"out.png", "out.ppm", "out.tif", "out.jpg"};
  const std::string input = scratch("in"), output = scratch(outputs[(choice >> 6) & 3]);
  if (std::FILE* f = std::fopen(input.c_str(), "wb")) {
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
  }
  Leveling leveling;
  leveling.algorithm = &algorithms[2 * (choice & 3) + ((choice >> 2) & 1)];
  leveling.windows = 1 + ((choice >> 3) & 1);
  leveling.window1 = 5;
  leveling.window2 = 11;
  leveling.method = find_gray_method("y709");
  leveling.level_alpha = (choice >> 4) & 1;
  try {
    std::unique_ptr<PictureReader> reader = open_picture(input);
    level_file(*reader, output, leveling, EncodingChoices());
  } catch (const FileError&) {
  }
  ::unlink(input.c_str());
  ::unlink(output.c_str());
  return 0;
}
