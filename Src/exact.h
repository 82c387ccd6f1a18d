// What the compiler must leave alone for the core's output to be the same
// bits everywhere: every operation rounded as written, in the order written.
// Build flags say so (CMakeLists.txt); this header makes a source of the core
// compiled any other way stop, as far as the preprocessor can tell. Every
// source of the core includes it first. Internal to the core.
#ifndef NR_EXACT_H
#define NR_EXACT_H

#include <float.h>

// Fast math reorders, fuses and drops operations. GCC sets __GCC_IEC_559 to
// 0 under any of its parts that change values (-fassociative-math,
// -freciprocal-math, -ffinite-math-only, -fno-signed-zeros and the like);
// other compilers tell only of finite math, which the code cannot have: it
// tests for NaN and infinity on purpose.
#if defined(__FAST_MATH__)
#error "the noise-suppressor core must not be built with -ffast-math: its output samples would change"
#elif defined(__GCC_IEC_559) && __GCC_IEC_559 == 0
#error "the noise-suppressor core needs IEEE arithmetic: remove the value-changing floating-point options (-fassociative-math, -freciprocal-math, -ffinite-math-only, -fno-signed-zeros, -funsafe-math-optimizations)"
#elif defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__
#error "the noise-suppressor core must not be built with -ffinite-math-only: it handles NaN and infinity"
#endif

// Intermediate results in a wider format (x87) round twice.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "the noise-suppressor core needs FLT_EVAL_METHOD 0: single precision evaluated in single precision (SSE2 on 32-bit x86)"
#endif

// A fused multiply-add rounds once where the code rounds twice. Clang
// honours the standard pragma (unless told -ffp-contract=fast). GCC ignores
// it and has no way to be told in the source nor to be asked, so the build
// passes -ffp-contract=off and says that it did with NR_FP_CONTRACT_OFF; a
// GCC build for a processor with fused multiply-add that does not say so
// stops here. (Without such instructions there is nothing to fuse.)
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__) && (defined(__FP_FAST_FMAF) || defined(__FP_FAST_FMA)) && \
    !defined(NR_FP_CONTRACT_OFF)
#error "the noise-suppressor core must be built with -ffp-contract=off (then define NR_FP_CONTRACT_OFF): fused multiply-adds change its output samples"
#endif

#endif
