#include "stream/wavefront.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "image/thread_pool.h"

namespace kelvane {

void run_wavefront(std::size_t groups, std::size_t width, unsigned threads, const std::function<void(std::size_t)>& start,
                   const std::function<void(std::size_t, std::size_t, std::size_t)>& block) {
  // Blocks short enough for the groups to overlap, long enough to make waiting rare.
  const std::size_t columns = std::min<std::size_t>(2048, std::max<std::size_t>(64, width / 8));
  std::unique_ptr<std::atomic<std::size_t>[]> done(new std::atomic<std::size_t>[groups]);  // columns finished
  for (std::size_t g = 0; g < groups; ++g) done[g].store(0, std::memory_order_relaxed);
  // Groups are taken in order, so a group waits only for one taken before it: with the
  // tasks run one after the other (a pool in use elsewhere), the first takes them all.
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};  // a group threw: the ones after it stop waiting for it
  run_tasks(threads, threads, [&](std::size_t) {
    for (;;) {
      // After a failure no group is started: one that runs would find its slot's rows gone.
      if (failed.load()) return;
      const std::size_t g = next.fetch_add(1);
      if (g >= groups) return;
      try {
        start(g);
        for (std::size_t begin = 0; begin < width; begin += columns) {
          const std::size_t end = std::min(width, begin + columns);
          if (g > 0)
            while (done[g - 1].load(std::memory_order_acquire) < end) {
              if (failed.load(std::memory_order_relaxed)) return;
              std::this_thread::yield();
            }
          block(g, begin, end);
          done[g].store(end, std::memory_order_release);
        }
      } catch (...) {
        failed.store(true);
        throw;
      }
    }
  });
}

}  // namespace kelvane
