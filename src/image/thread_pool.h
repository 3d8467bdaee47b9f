#pragma once
// A pool of threads kept for the process, so that a picture's many small steps do not each
// start threads. Work is split so that each task writes its own rows or tables: the values
// computed never depend on the number of threads.
#include <cstddef>
#include <functional>

namespace kelvane {

// Threads to use when nothing says otherwise: the machine's cores.
unsigned default_threads();

// Runs task(i) for every i in [0, n) on at most `threads` threads (the caller's included),
// and returns once all are done; the first exception a task throws is thrown again here.
// Called from inside a task, or while another caller uses the pool, it runs the tasks on the
// calling thread alone.
void run_tasks(std::size_t n, unsigned threads, const std::function<void(std::size_t)>& task);

}  // namespace kelvane
