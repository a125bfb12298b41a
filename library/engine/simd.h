// Compiling one loop for several instruction sets. A loop body marked
// DEMOSAIC_ALWAYS_INLINE is inlined into one wrapper per set, each compiled
// with that set's instructions; the caller picks the wrapper for the
// processor it runs on. None of these sets lets the compiler fuse a multiply
// and an add (the build forbids contraction), so all wrappers compute the
// same values.
#pragma once

#define DEMOSAIC_ALWAYS_INLINE inline __attribute__((always_inline))
#define DEMOSAIC_TARGET_AVX2 __attribute__((target("avx2")))
#define DEMOSAIC_TARGET_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq")))
