// Every input the fuzzer ever found, through the fuzz target's own path: under the
// sanitizers a crash, a leak or undefined behaviour fails this test.
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
    level_fuzz_input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++inputs;
  }
  ::unsetenv("KELVANE_MEMORY_LIMIT_MB");
  ::unsetenv("KELVANE_THREADS");
  EXPECT_GT(inputs, 0u);
}
