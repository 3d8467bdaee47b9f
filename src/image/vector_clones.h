#pragma once
// Loops over rows of doubles compiled twice, for processors with AVX2 and for any x86-64,
// and the copy to run chosen once when the program starts. Both copies perform the same IEEE
// operations in the same order (no fused multiply-add: -ffp-contract=off), so the results are
// the same bits; AVX2 only does four of them at once where SSE2 does two.
// The choice is made by an indirect function of the GNU C library, which others lack; under
// ThreadSanitizer that function would run before the sanitizer is ready, and crash.
#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__GLIBC__) && \
    !defined(__SANITIZE_THREAD__)
#define KELVANE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KELVANE_VECTOR_CLONES
#endif
