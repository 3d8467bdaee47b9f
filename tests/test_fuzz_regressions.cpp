// Every input the fuzzer ever found, through the fuzz target's own path: under the
// sanitizers a crash, a leak or undefined behaviour fails this test, and each must still be
// refused as the damaged file it is (but one, which its fix made a picture).
#include <cstdlib>
#include <string>

#include "files.h"
#include "fuzz_input.h"

TEST(FuzzRegressions, EveryFindingStaysFixed) {
  // The fuzzer's settings (scripts/fuzz).
  ::setenv("KELVANE_MEMORY_LIMIT_MB", "256", 1);
  ::setenv("KELVANE_THREADS", "1", 1);
  std::size_t inputs = 0;
  for (const std::string& name : ScratchFolder::entries_of(KELVANE_FUZZ_REGRESSIONS)) {
    if (name == "README.md") continue;
    const std::string bytes = read_file(std::string(KELVANE_FUZZ_REGRESSIONS) + "/" + name);
    // Its fix reads the header from the first line, as CImg does: a picture of one pixel.
    const bool picture = name == "asc-header-read-across-lines-overran-the-values";
    EXPECT_EQ(!picture, level_fuzz_input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) << name;
    ++inputs;
  }
  ::unsetenv("KELVANE_MEMORY_LIMIT_MB");
  ::unsetenv("KELVANE_THREADS");
  EXPECT_GT(inputs, 0u);
}
