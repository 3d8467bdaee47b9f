#pragma once
// How much memory a run may use, checked against what a picture will need before anything
// is allocated for it.
#include <cstddef>
#include <string>

// Bytes this process may still allocate: the least of the memory the system has available,
// KELVANE_MEMORY_LIMIT_MB when set, the address-space and data-size limits (ulimit -v, -d)
// less what the process already uses, and its control group's limit less its usage.
unsigned long long memory_budget();

// Throws FileError ("cannot read {path}: a picture of W x H pixels needs ... MiB to level,
// more than the ... MiB available") when `bytes` exceed the budget.
void check_memory(const std::string& path, std::size_t width, std::size_t height, long double bytes);
