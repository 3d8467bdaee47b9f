// Levels a small gradient in memory with the installed library and prints its first row.
#include <cstdio>
#include <vector>

#include <kelvane/kelvane.h>

int main() {
  std::vector<unsigned char> pixels(8 * 4);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 8);
  kelvane::level(kelvane::interleaved(pixels.data(), 8, 4, 1, kelvane::Sample::u8), kelvane::Operation("mean", 3));
  for (int x = 0; x < 8; ++x) std::printf("%d ", pixels[x]);
  try {
    kelvane::check(kelvane::Operation("meen", 3));
  } catch (const kelvane::Error& e) {
    std::printf("| %s\n", e.what());
  }
  return 0;
}
