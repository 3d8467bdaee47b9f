#pragma once
// Loops over rows of doubles compiled three times, for processors with AVX-512, with AVX2
// and for any x86-64, and the copy to run chosen once when the program starts. All copies
// perform the same IEEE operations in the same order (no fused multiply-add:
// -ffp-contract=off), so the results are the same bits; AVX-512 only does eight of them at
// once where AVX2 does four and SSE2 two (std's divisions and roots gain most).
// The choice is made by an indirect function of the GNU C library, which others lack; under
// ThreadSanitizer that function would run before the sanitizer is ready, and crash.
#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__GLIBC__) && \
    !defined(__SANITIZE_THREAD__)
#define KELVANE_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define KELVANE_VECTOR_CLONES
#endif
