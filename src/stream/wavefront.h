#pragma once
// Groups of rows computed in order, each from the group above it, spread over threads: group
// g runs a block of columns at a time, each block once group g - 1 has passed it, so that
// consecutive groups run at once a block apart. Any order that computes an entry after the
// entries it reads gives the same bits.
#include <cstddef>
#include <functional>

namespace kelvane {

// Calls start(g) and then block(g, begin, end) for the blocks of columns of every group g
// in [0, groups), on up to `threads` threads: block(g, b, e) after block(g - 1, b', e') for
// every e' <= e. A thread takes at most one group at a time, so at most `threads` groups are
// under way at once, and every group before them is complete. Once a call throws, no group is
// started; the first exception is thrown again.
void run_wavefront(std::size_t groups, std::size_t width, unsigned threads, const std::function<void(std::size_t)>& start,
                   const std::function<void(std::size_t, std::size_t, std::size_t)>& block);

}  // namespace kelvane
