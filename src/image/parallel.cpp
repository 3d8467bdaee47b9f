#include "image/parallel.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

unsigned thread_count() {
  if (const char* text = std::getenv("KELVANE_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && n > 0) return static_cast<unsigned>(std::min(n, 256L));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

// Runs task(0 .. threads-1) concurrently; the first exception thrown by any of them (running
// out of memory, say) is thrown again here once all have finished.
void run_on_threads(unsigned threads, const std::function<void(unsigned)>& task) {
  std::exception_ptr failure;
  std::mutex failure_lock;
  auto guarded = [&](unsigned t) {
    try {
      task(t);
    } catch (...) {
      std::lock_guard<std::mutex> hold(failure_lock);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> helpers;
  helpers.reserve(threads - 1);
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(guarded, t);
  guarded(0);
  for (auto& h : helpers) h.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

void parallel_ranges(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body) {
  const unsigned threads = static_cast<unsigned>(std::min<std::size_t>(thread_count(), n));
  if (threads <= 1) {
    if (n > 0) body(0, n);
    return;
  }
  run_on_threads(threads, [&](unsigned t) { body(n * t / threads, n * (t + 1) / threads); });
}

void run_together(unsigned threads, const std::function<void(unsigned)>& body) {
  if (threads <= 1) body(0);
  else run_on_threads(threads, body);
}
