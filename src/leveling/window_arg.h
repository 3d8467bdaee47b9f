#pragma once
#include <cstdint>

namespace kelvane {

// Reads a window argument: a whole decimal number with an optional sign, nothing else.
// A negative number wraps to 2^32 + n, a half window that covers any picture; a number
// outside the 32-bit range becomes the largest window, 2^32 - 1. Returns false for text that
// is not such a number.
bool parse_window(const char* text, std::uint32_t& window);

}  // namespace kelvane
