#include "stream/strip_walk.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "image/big_block.h"
#include "image/thread_pool.h"
#include "window_stats/table_rows.h"

namespace kelvane {

namespace {

constexpr std::size_t band_rows = table_group;

// Threads that walk strips at once.
unsigned strip_threads(const StripPlan& plan, unsigned threads) {
  return std::max(1u, static_cast<unsigned>(std::min<std::size_t>(threads, plan.strips())));
}

// Blocks of handed-over margins: one for each strip that can read while its block's next
// strip is being written, and one more, so that a strip can start handing over while the
// strip that read the block before is finishing.
std::size_t margin_blocks(const StripPlan& plan, unsigned threads) {
  return std::min<std::size_t>(strip_threads(plan, threads) + 1, plan.strips() - 1);
}

}  // namespace

std::size_t StripPlan::widest() const {
  std::size_t widest = 0;
  for (std::size_t k = 0; k < strips(); ++k) widest = std::max(widest, margin(k) + columns[k + 1] - columns[k]);
  return widest;
}

std::size_t StripPlan::kept_rows() const {
  return std::min<std::size_t>(2 * std::size_t(radius) + 2 * band_rows + 2, height + 1);
}

StripPlan plan_strips(std::size_t width, std::size_t height, std::uint32_t r, std::size_t tables, unsigned threads,
                      std::size_t strip_columns, long double budget) {
  StripPlan plan;
  plan.width = width;
  plan.height = height;
  plan.radius = r;
  const unsigned long long margin = 2ull * r + 1;
  if (margin > width) return plan;
  // By default one strip for each thread: a thread walks its own, never waiting for the
  // others but at the start.
  std::size_t count = threads;
  if (strip_columns > 0)  // the first strip hands over a whole margin of its own columns
    count = static_cast<std::size_t>(width / std::max<unsigned long long>(strip_columns, margin));
  if (count < 2 || width / count < margin) return plan;
  plan.columns.resize(count + 1);
  for (std::size_t k = 0; k <= count; ++k) plan.columns[k] = k * width / count;
  if (strip_walk_bytes(plan, tables, threads) > budget) plan.columns.clear();
  return plan;
}

long double strip_walk_bytes(const StripPlan& plan, std::size_t tables, unsigned threads) {
  if (plan.strips() < 2) return 0.0L;
  const unsigned running = strip_threads(plan, threads);
  const long double margin = 2.0L * plan.radius + 1;
  return 8.0L * tables * (static_cast<long double>(running) * plan.kept_rows() * plan.widest() +
                          static_cast<long double>(margin_blocks(plan, threads)) * plan.height * margin);
}

std::vector<double> walk_strips(const StripPlan& plan, std::size_t tables, unsigned threads, const StripWork& work) {
  const std::size_t strips = plan.strips(), height = plan.height, kept = plan.kept_rows();
  const std::size_t margin = 2 * std::size_t(plan.radius) + 1;
  const unsigned running = strip_threads(plan, threads);
  const std::size_t blocks = margin_blocks(plan, threads);
  // Margins handed to strip k, in block (k - 1) % blocks: [row][table][column].
  const std::size_t block = height * tables * margin;
  BigBlock handed(blocks * block * sizeof(double));
  const auto margins_for = [&](std::size_t k) {
    return static_cast<double*>(handed.data()) + ((k - 1) % blocks) * block;
  };
  std::unique_ptr<std::atomic<std::size_t>[]> handed_rows(new std::atomic<std::size_t>[strips]);
  std::unique_ptr<std::atomic<bool>[]> finished(new std::atomic<bool>[strips]);
  for (std::size_t k = 0; k < strips; ++k) {
    handed_rows[k].store(0, std::memory_order_relaxed);
    finished[k].store(false, std::memory_order_relaxed);
  }
  std::atomic<std::size_t> next{0}, leveled{0}, done{0};  // strips taken, rows leveled, strips done
  std::atomic<bool> stopped{false};  // a strip threw or its level() said stop: the others stop waiting
  std::vector<double> last(tables, 0.0);
  const std::thread::id caller = std::this_thread::get_id();

  // Waits for another strip; false where the walk stopped meanwhile.
  const auto wait_until = [&](auto ready) {
    while (!ready()) {
      if (stopped.load(std::memory_order_relaxed)) return false;
      std::this_thread::yield();
    }
    return true;
  };

  const auto walk_strip = [&](std::size_t k, std::vector<double>& kept_rows) {
    const std::size_t begin = plan.columns[k], end = plan.columns[k + 1], own_margin = plan.margin(k);
    const std::size_t origin = begin - own_margin, local = own_margin + (end - begin);
    const StripRows rows(kept_rows.data(), tables, local, origin, kept);
    const double* from = k > 0 ? margins_for(k) : nullptr;
    double* to = k + 1 < strips ? margins_for(k + 1) : nullptr;
    // The block was last read by strip k + 1 - blocks: it must be done with it. Strips
    // start in order and wait only for those left of them, so it finishes.
    if (to && k >= blocks && !wait_until([&] { return finished[k + 1 - blocks].load(std::memory_order_acquire); }))
      return false;
    const std::size_t first_leveled = plan.leveled_begin(k), end_leveled = plan.leveled_end(k);
    std::size_t filled = 0;
    for (std::size_t y = 0; y < height; y += band_rows) {
      // Another strip threw or stopped: a strip that never waits must see it too.
      if (stopped.load(std::memory_order_relaxed)) return false;
      const std::size_t n = std::min(band_rows, height - y);
      const std::size_t lead = std::min(y + n - 1 + plan.radius, height - 1);
      while (filled <= lead) {
        const std::size_t count = std::min(band_rows, lead - filled + 1);
        if (from && !wait_until([&] { return handed_rows[k - 1].load(std::memory_order_acquire) >= filled + count; }))
          return false;
        if (from)
          for (std::size_t i = 0; i < tables; ++i)
            for (std::size_t j = 0; j < count; ++j)
              std::copy_n(from + ((filled + j) * tables + i) * margin, margin, rows.row(i, filled + j) + origin);
        work.fill(filled, count, rows, begin, end);
        if (to)
          for (std::size_t i = 0; i < tables; ++i)
            for (std::size_t j = 0; j < count; ++j)
              std::copy_n(rows.row(i, filled + j) + (end - margin), margin, to + ((filled + j) * tables + i) * margin);
        filled += count;
        if (to) handed_rows[k].store(filled, std::memory_order_release);
      }
      for (std::size_t t = y; t < y + n; ++t)
        if (!work.level(t, first_leveled, end_leveled, rows)) return false;
      const std::size_t rows_leveled = leveled.fetch_add(n) + n;
      if (work.progress && std::this_thread::get_id() == caller) work.progress(rows_leveled);
    }
    if (k + 1 == strips)
      for (std::size_t i = 0; i < tables; ++i) last[i] = rows.row(i, height - 1)[plan.width - 1];
    finished[k].store(true, std::memory_order_release);
    return true;
  };

  const std::size_t widest = plan.widest();
  run_tasks(running, running, [&](std::size_t) {
    // A strip's table rows, for each strip this thread walks: sized once for the widest.
    std::vector<double> kept_rows(kept * tables * widest);
    const bool calling = std::this_thread::get_id() == caller;
    try {
      for (;;) {
        if (stopped.load()) return;
        const std::size_t k = next.fetch_add(1);
        if (k >= strips) break;
        if (!walk_strip(k, kept_rows)) {
          stopped.store(true);
          return;
        }
        done.fetch_add(1);
      }
      // The calling thread, out of strips (it may have walked none), tells the progress of
      // the others until they are done.
      if (calling && work.progress)
        while (done.load() < strips && !stopped.load()) {
          work.progress(leveled.load());
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    } catch (...) {
      stopped.store(true);
      throw;
    }
  });
  if (stopped.load()) return {};
  return last;
}

}  // namespace kelvane
