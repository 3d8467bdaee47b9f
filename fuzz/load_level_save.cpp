// libFuzzer target: any bytes, taken as a picture file of any format the tool reads, go
// through loading, one leveling operation and saving, as a command-line run would.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "leveling/leveling.h"
#include "main/image_file.h"

namespace {

std::string scratch(const char* name) {
  return "/dev/shm/kelvane-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

}  // namespace

// The gray forms' channel-count warning would fill the fuzzer's log.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::cout.rdbuf(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the operation and the output format; the rest is the file.
  const std::uint8_t choice = data[0];
  const std::string input = scratch("in"), output = scratch(choice & 0x80 ? "out.ppm" : "out.png");
  if (std::FILE* f = std::fopen(input.c_str(), "wb")) {
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
  }
  try {
    Image image = load_unit_image(input);
    if (!image.empty()) {
      Picture picture = image.picture();
      const GrayMethod method = find_gray_method("y709");
      switch (choice & 3) {
        case 0: level_mean(picture, 7); break;
        case 1: level_std_fn2(picture, 5, 11, method); break;
        case 2: level_minmax(picture, 3, 10.0); break;
        default: level_range_fn2(picture, 3, 9, method, 10.0); break;
      }
      check_output_format(output, image.depth);
      save_unit_image(image, output);
    }
  } catch (const FileError&) {
  }
  ::unlink(input.c_str());
  ::unlink(output.c_str());
  return 0;
}
