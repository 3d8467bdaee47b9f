#include "gray/color.h"

#include "image/vector_clones.h"

namespace kelvane {


// Every value rescaled first, then K where the gray fails the guard: two loops of plain
// operations and selections, which run in vector instructions (a division under a condition
// would not).
KELVANE_VECTOR_CLONES
void reproject_row(double* v, const double* G, const double* K, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) v[x] = (v[x] / G[x]) * K[x];
  for (std::size_t x = 0; x < width; ++x) v[x] = passes_guard(G[x]) ? v[x] : K[x];
}

}  // namespace kelvane
