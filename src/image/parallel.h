#pragma once
// Splitting work between threads. Every split here gives each thread its own rows or planes
// to write, so the values computed never depend on the number of threads.
#include <cstddef>
#include <functional>

// Threads to use: KELVANE_THREADS when it holds a positive number, else the machine's cores.
unsigned thread_count();

// Calls body(begin, end) on consecutive, disjoint ranges covering [0, n), one per thread.
void parallel_ranges(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body);

// Calls body(t) for t in [0, threads), each on a thread of its own, all at the same time:
// for work whose parts wait on one another.
void run_together(unsigned threads, const std::function<void(unsigned)>& body);
