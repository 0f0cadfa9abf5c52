#pragma once

// Run-time choice of the instruction set for the hot loops whose compiled code the vector width
// speeds up: GCC and clang build one clone per listed target and pick the best the CPU supports
// when the program loads. Only loops whose results do not depend on the vector width use it.

#if defined(__x86_64__) && defined(__ELF__) && !defined(ZEL_NO_TARGET_CLONES) && \
    !defined(__SANITIZE_THREAD__)
#define ZEL_TARGET_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define ZEL_TARGET_CLONES
#endif

// Clones for loops whose results are fixed to the bit: AVX2 without FMA and the baseline. GCC 12
// contracts complex products into fused multiply-add-subtract (vfmaddsub) when vectorising for
// a target that has FMA or AVX-512, even under -ffp-contract=off; on a target without them it
// cannot. Function templates are cloned by GCC only; built with clang they keep the baseline.
#if defined(__x86_64__) && defined(__ELF__) && !defined(ZEL_NO_TARGET_CLONES) && \
    !defined(__SANITIZE_THREAD__) && defined(__GNUC__) && !defined(__clang__)
#define ZEL_EXACT_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZEL_EXACT_CLONES
#endif
