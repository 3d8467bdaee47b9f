// libFuzzer target over reading, leveling and writing (see fuzz_input.h).
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  level_fuzz_input(data, size);
  return 0;
}
