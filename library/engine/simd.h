// Compiling one loop for several instruction sets. A loop body marked
// DEMOSAIC_ALWAYS_INLINE is inlined into one wrapper per set, each compiled
// with that set's instructions; the caller picks the wrapper for the
// processor it runs on. None of these sets lets the compiler fuse a multiply
// and an add (the build forbids contraction), so all wrappers compute the
// same values.
//
// The AVX2 and AVX-512 variants exist on x86 processors only: elsewhere
// DEMOSAIC_X86_VARIANTS is 0, the wrappers are not compiled, and every stage
// runs its portable baseline loop.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define DEMOSAIC_X86_VARIANTS 1
#else
#define DEMOSAIC_X86_VARIANTS 0
#endif

#define DEMOSAIC_ALWAYS_INLINE inline __attribute__((always_inline))
#if DEMOSAIC_X86_VARIANTS
#define DEMOSAIC_TARGET_AVX2 __attribute__((target("avx2")))
#define DEMOSAIC_TARGET_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq")))
#endif
