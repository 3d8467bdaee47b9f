#pragma once
// Summed-area tables: S(x, y) is the sum of the plane over columns 0..x and rows 0..y.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>

#include "image/parallel.h"
#include "image/picture.h"

// A summed-area table S (width * height, row-major) of value(I(x, y)):
//   S(0, 0) = I(0, 0)
//   S(x, 0) = I(x, 0) + S(x - 1, 0)
//   S(0, y) = I(0, y) + S(0, y - 1)
//   S(x, y) = ((S(x - 1, y) + S(x, y - 1)) - S(x - 1, y - 1)) + I(x, y)
// Each entry depends only on its left, upper and upper-left neighbours, so any order that
// computes those first gives the same bits. The orders below are chosen for speed: rows in
// sequence in memory, several rows at once so that their chains of additions overlap, and
// groups of rows spread over the threads.

// One row, columns [begin, end); `above` is null for the first row.
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

// How many rows are filled together.
constexpr std::size_t summed_area_group = 8;

// Rows y0 .. y0 + rows - 1 (y0 > 0), columns [begin, end). A group of rows goes together,
// skewed by one column each: row k is filled at column s - k in step s, after rows k - 1 and
// k have passed the columns it reads. Their chains of dependent additions then overlap.
template <class Value>
inline void fill_summed_area_rows(const double* plane, double* S, std::size_t width, std::size_t y0,
                                  std::size_t rows, std::size_t begin, std::size_t end, Value value) {
  constexpr std::size_t K = summed_area_group;
  if (rows != K) {
    for (std::size_t y = y0; y < y0 + rows; ++y)
      fill_summed_area_row(plane + width * y, S + width * (y - 1), S + width * y, begin, end, value);
    return;
  }
  const double* in[K];
  double* row[K];
  for (std::size_t k = 0; k < K; ++k) {
    in[k] = plane + width * (y0 + k);
    row[k] = S + width * (y0 + k);
  }
  std::size_t start = begin;
  if (start == 0) {
    for (std::size_t k = 0; k < K; ++k) row[k][0] = value(in[k][0]) + row[k][-static_cast<std::ptrdiff_t>(width)];
    start = 1;
  }
  if (start >= end) return;
  const auto cell = [&](std::size_t k, std::size_t x) {
    const double* above = row[k] - width;
    row[k][x] = ((row[k][x - 1] + above[x]) - above[x - 1]) + value(in[k][x]);
  };
  const auto partial_step = [&](std::size_t s) {
    for (std::size_t k = 0; k < K; ++k)
      if (s >= start + k && s - k < end) cell(k, s - k);
  };
  std::size_t s = start;
  for (; s < start + K - 1; ++s) partial_step(s);
  for (; s < end; ++s)
    for (std::size_t k = 0; k < K; ++k) cell(k, s - k);
  for (; s < end + K - 1; ++s) partial_step(s);
}

// The whole table. Row 0 first; then the groups of rows, group g on thread g % T, a block of
// columns at a time, each block once the group above has passed its last column.
template <class Value>
void build_summed_area(const double* plane, std::size_t width, std::size_t height, double* S, Value value) {
  if (width == 0 || height == 0) return;
  fill_summed_area_row(plane, nullptr, S, 0, width, value);
  constexpr std::size_t K = summed_area_group;
  const std::size_t groups = (height - 1 + K - 1) / K;
  const auto group_rows = [&](std::size_t g) { return std::min(K, height - 1 - g * K); };
  // Blocks short enough for the groups to overlap, long enough to make waiting rare.
  const std::size_t block = std::min<std::size_t>(2048, std::max<std::size_t>(64, width / 8));
  const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(thread_count(), groups));
  if (threads <= 1 || width < 2 * block) {
    for (std::size_t g = 0; g < groups; ++g) fill_summed_area_rows(plane, S, width, 1 + g * K, group_rows(g), 0, width, value);
    return;
  }
  // done[g]: columns of group g complete so far.
  std::unique_ptr<std::atomic<std::size_t>[]> done(new std::atomic<std::size_t>[groups]);
  for (std::size_t g = 0; g < groups; ++g) done[g].store(0, std::memory_order_relaxed);
  run_together(threads, [&](unsigned t) {
    for (std::size_t g = t; g < groups; g += threads)
      for (std::size_t begin = 0; begin < width; begin += block) {
        const std::size_t end = std::min(width, begin + block);
        if (g > 0)
          while (done[g - 1].load(std::memory_order_acquire) < end) std::this_thread::yield();
        fill_summed_area_rows(plane, S, width, 1 + g * K, group_rows(g), begin, end, value);
        done[g].store(end, std::memory_order_release);
      }
  });
}

// The summed-area table of channel c of the source.
Plane& integral_image(const Picture& source, Plane& table, int c);
