#pragma once
// Summed-area tables: S(x, y) is the sum of the plane over columns 0..x and rows 0..y.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>

#include "image/parallel.h"
#include "image/picture.h"

// Fills S (width * height, row-major) from the plane, taking value(I(x, y)) for every entry:
//   S(0, 0) = I(0, 0)
//   S(x, 0) = I(x, 0) + S(x - 1, 0)
//   S(0, y) = I(0, y) + S(0, y - 1)
//   S(x, y) = ((S(x - 1, y) + S(x, y - 1)) - S(x - 1, y - 1)) + I(x, y)
// Each entry depends only on its left, upper and upper-left neighbours, so filling row by row
// gives the same bits as any other order that respects those dependencies.
template <class Value>
void fill_summed_area(const double* plane, std::size_t width, std::size_t height, double* S,
                      Value value) {
  if (width == 0 || height == 0) return;
  S[0] = value(plane[0]);
  for (std::size_t x = 1; x < width; ++x) S[x] = value(plane[x]) + S[x - 1];
  for (std::size_t y = 1; y < height; ++y) {
    const double* in = plane + width * y;
    double* row = S + width * y;
    const double* above = row - width;
    row[0] = value(in[0]) + above[0];
    for (std::size_t x = 1; x < width; ++x)
      row[x] = ((row[x - 1] + above[x]) - above[x - 1]) + value(in[x]);
  }
}

// One row of the table, columns [begin, end), by the recurrence above.
template <class Value>
inline void fill_summed_area_row(const double* in, const double* above, double* row, std::size_t begin,
                                 std::size_t end, Value value) {
  std::size_t x = begin;
  if (x == 0 && x < end) {
    row[0] = above ? value(in[0]) + above[0] : value(in[0]);
    ++x;
  }
  if (above)
    for (; x < end; ++x) row[x] = ((row[x - 1] + above[x]) - above[x - 1]) + value(in[x]);
  else
    for (; x < end; ++x) row[x] = value(in[x]) + row[x - 1];
}

// The same table, filled by all threads as a wavefront: thread t fills rows t, t + T, ...
// and fills a block of columns of a row only once the row above is complete up to the end
// of that block. Every entry is computed from the same operands as above, so the bits are
// the same whatever the number of threads.
template <class Value>
void build_summed_area(const double* plane, std::size_t width, std::size_t height, double* S, Value value) {
  const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(thread_count(), height));
  // Blocks short enough for the rows to overlap, long enough to make waiting rare.
  const std::size_t block = std::min<std::size_t>(2048, std::max<std::size_t>(64, width / 8));
  if (threads <= 1 || width < 2 * block) {
    fill_summed_area(plane, width, height, S, value);
    return;
  }
  // done[y]: columns of row y complete so far.
  std::unique_ptr<std::atomic<std::size_t>[]> done(new std::atomic<std::size_t>[height]);
  for (std::size_t y = 0; y < height; ++y) done[y].store(0, std::memory_order_relaxed);
  parallel_each(threads, [&](std::size_t t) {
    for (std::size_t y = t; y < height; y += threads) {
      const double* in = plane + width * y;
      double* row = S + width * y;
      const double* above = y > 0 ? row - width : nullptr;
      for (std::size_t begin = 0; begin < width; begin += block) {
        const std::size_t end = std::min(width, begin + block);
        if (above)
          while (done[y - 1].load(std::memory_order_acquire) < end) std::this_thread::yield();
        fill_summed_area_row(in, above, row, begin, end, value);
        done[y].store(end, std::memory_order_release);
      }
    }
  });
}

// The summed-area table of channel c of the source.
Plane& integral_image(const Picture& source, Plane& table, int c);
