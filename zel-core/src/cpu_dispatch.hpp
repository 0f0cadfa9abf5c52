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
