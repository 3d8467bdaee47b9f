#include "image/thread_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvane {

namespace {

thread_local bool inside_task = false;

// One call of run_tasks: its tasks are handed out by one counter.
struct Job {
  const std::function<void(std::size_t)>* task;
  std::size_t count;
  std::atomic<std::size_t> next{0};
  std::size_t done = 0;     // tasks finished, under the pool's lock
  unsigned helpers = 0;     // workers still allowed to join
  unsigned active = 0;      // workers taking its tasks now
  std::exception_ptr failure;
};

class Pool {
 public:
  Pool() {
    for (unsigned i = 1; i < default_threads(); ++i) threads_.emplace_back([this] { work(); });
  }

  bool run(std::size_t n, unsigned threads, const std::function<void(std::size_t)>& task) {
    std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    Job job;
    job.task = &task;
    job.count = n;
    job.helpers = std::min<unsigned>(threads - 1, static_cast<unsigned>(threads_.size()));
    {
      std::lock_guard<std::mutex> hold(lock_);
      job_ = &job;
    }
    wake_.notify_all();
    take(job);
    std::unique_lock<std::mutex> hold(lock_);
    finished_.wait(hold, [&] { return job.done == job.count && job.active == 0; });
    job_ = nullptr;
    if (job.failure) std::rethrow_exception(job.failure);
    return true;
  }

 private:
  void work() {
    for (;;) {
      Job* job = nullptr;
      {
        std::unique_lock<std::mutex> hold(lock_);
        wake_.wait(hold, [&] { return job_ && job_->helpers > 0; });
        job = job_;
        --job->helpers;
        ++job->active;
      }
      take(*job);
      std::lock_guard<std::mutex> hold(lock_);
      --job->active;
      finished_.notify_all();
    }
  }

  void take(Job& job) {
    inside_task = true;
    std::size_t mine = 0;
    for (std::size_t i = job.next.fetch_add(1); i < job.count; i = job.next.fetch_add(1), ++mine) {
      try {
        (*job.task)(i);
      } catch (...) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!job.failure) job.failure = std::current_exception();
      }
    }
    inside_task = false;
    std::lock_guard<std::mutex> hold(lock_);
    job.done += mine;
    if (job.done == job.count) finished_.notify_all();
  }

  std::vector<std::thread> threads_;
  std::mutex busy_;  // one caller at a time; others run their tasks themselves
  std::mutex lock_;
  std::condition_variable wake_, finished_;
  Job* job_ = nullptr;
};

Pool& pool() {
  // Kept for the life of the process (never destroyed: its workers wait to the end).
  static Pool* shared = new Pool;
  return *shared;
}

}  // namespace

unsigned default_threads() { return std::max(1u, std::thread::hardware_concurrency()); }

void run_tasks(std::size_t n, unsigned threads, const std::function<void(std::size_t)>& task) {
  if (n == 0) return;
  if (threads > 1 && n > 1 && !inside_task && pool().run(n, threads, task)) return;
  for (std::size_t i = 0; i < n; ++i) task(i);
}

}  // namespace kelvane
