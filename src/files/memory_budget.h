#pragma once
// How much memory a run may use, checked against what a picture will need before anything
// is allocated for it.
#include <cstddef>
#include <string>

namespace kelvane {

// Bytes this process may still allocate: the least of the memory the system has available,
// `limit` when not 0, the address-space and data-size limits (ulimit -v, -d) less what the
// process already uses, and its control group's limit less its usage.
unsigned long long memory_budget(unsigned long long limit);

// "a picture of W x H pixels needs ... MiB to level, more than the ... MiB available" when
// `bytes` exceed the budget, else empty.
std::string memory_shortfall(std::size_t width, std::size_t height, long double bytes, unsigned long long limit);

// Throws FileError ("cannot read {path}: " and the shortfall) when `bytes` exceed the budget.
void check_memory(const std::string& path, std::size_t width, std::size_t height, long double bytes,
                  unsigned long long limit);

}  // namespace kelvane
