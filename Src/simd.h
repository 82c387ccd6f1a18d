/* Choice between the two versions of the hot loops of the FFT and the
   suppressor: the plain one, which is the reference, and on x86-64 an AVX2
   one that computes the same operations on several values at once and so
   gives exactly the same bits. The AVX2 version runs where the processor
   has AVX2. Internal to the core. */
#ifndef SIMD_H
#define SIMD_H

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SIMD_HAVE_AVX2_BUILD 1
/* Marks a function compiled for AVX2 (without FMA, which would fuse). */
#define SIMD_AVX2 __attribute__((target("avx2")))
#else
#define SIMD_HAVE_AVX2_BUILD 0
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Nonzero when the AVX2 versions run. */
int Simd_Avx2(void);
/* Test hook: nonzero makes every later call take the plain versions, even
   where AVX2 exists; 0 restores the choice by processor. */
void Simd_ForcePlain(int on);

#ifdef __cplusplus
}
#endif

#endif
