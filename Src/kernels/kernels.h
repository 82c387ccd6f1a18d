/* The hot loops of the suppressor and the FFT, written once (kernels.inc
   and the three texts it includes) and compiled for each instruction set
   the build targets: the plain one, which is the reference and runs
   everywhere, and vector ones (x86-64 AVX2 and AVX-512, aarch64 NEON,
   WebAssembly SIMD128) that compute the same IEEE operations
   on the same operands in the same order for several values at once, and
   so give the same bits. The processor is checked once; every stage then
   takes its kernel from the one table that fits. Internal to the core. */
#ifndef NR_KERNELS_H
#define NR_KERNELS_H

#include "nrtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every kernel once: X(result, name, parameters). The table's members
   below and each instruction set's table (kernels.inc) are made from this
   list, the latter by assigning each member the function of its name, so
   that an entry cannot land in another's place. Adding a kernel is a line
   here and its body in the text of its subject. Counts are samples or
   bins; arrays never overlap unless said. */
#define NR_KERNEL_LIST(X)                                                                          \
    /* Suppressor, per frame (suppressor.inc). */                                                  \
    /* buff[j] = (x[j-1] * -0.8 + x[j]) * win[j] for j < len, x[-1] being prev; zeros from len     \
       to nfft. */                                                                                 \
    X(void, analysis_frame,                                                                        \
      (const int16 *x, int16 prev, const float *win, float *buff, uint32 len, uint32 nfft))        \
    X(void, split_by_gain,                                                                         \
      (const float *X, const float *Hn, float pSn, float *N, float *S, uint32 n))                  \
    /* Three-tap smoothing across bins, n >= 2; B may be A. */                                     \
    X(void, smooth, (const float *A, float *B, uint32 n))                                          \
    /* The noise-floor tracker's update of every bin, then the a-posteriori SNR                    \
       psd^2 / (N^2 + 1e-20) from the new noise estimate N. */                                     \
    X(void, track_noise_floor,                                                                     \
      (const float *X0, float *X, float *Xmin, float *Xtmp, float *prob, float *N, float *post,    \
       const float *psd, float pNn, int boundary, uint32 n))                                       \
    /* The clean estimate S of every bin; returns the speech statistic, the bins' terms summed     \
       in bin order from bin 9 on. */                                                              \
    X(float, clean_spectrum,                                                                       \
      (const float *N, float *S, const float *post, const float *psd, float pMn, float pSn,        \
       int kind, uint32 n))                                                                        \
    /* The slow means (the speech mean only where `speech`), then the gain of the next frame       \
       from them. */                                                                               \
    X(void, mean_spectra_and_gain,                                                                 \
      (const float *N, float *Nmean, const float *X, float *Smean, const float *S, float *Hn,      \
       float pNn, float pMn, int speech, int ratio_rule, uint32 n))                                \
    /* p[j] = p[j] / divisor */                                                                    \
    X(void, divide, (float *p, uint32 n, float divisor))                                           \
    /* p[j] = p[j] + tail[j] */                                                                    \
    X(void, overlap_add, (float *p, const float *tail, uint32 n))                                  \
    /* The de-emphasis recursion with saturation; returns the last sample. */                      \
    X(int16, de_emphasise, (const float *buff, int16 prev, int16 *out, uint32 n))                  \
                                                                                                   \
    /* FFT of n = 256 .. 2048 real points (fft.inc). */                                            \
    /* In-place forward complex FFT of the n/2 interleaved points of p. */                         \
    X(void, complex_fft, (float *p, uint32 n, const float *stage_cos, const float *stage_sin))     \
    /* The split step of the real transform with sign s, each value halved; C is the size's        \
       quarter-wave cosine segment. */                                                             \
    X(void, split_step, (float *p, uint32 n, const float *C, float s))                             \
    /* p[i] = (i odd ? -p[i] : p[i]) * factor */                                                   \
    X(void, conjugate_scale, (float *p, uint32 n, float factor))                                   \
                                                                                                   \
    /* Conversions (trig.inc). R or F may be null. Bins from..half-1 of a packed spectrum;         \
       count bins of separate real and imaginary arrays. */                                        \
    X(void, polar_packed, (const float *fftbuf, float *R, float *F, uint32 from, uint32 half))     \
    X(void, polar_split, (const float *x, const float *y, float *R, float *F, uint32 count))       \
    X(void, packed_from_polar,                                                                     \
      (const float *R, const float *F, float *fftbuf, uint32 from, uint32 half))                   \
    /* (float) atan((double) x), (float) cos((double) x) and sin; return how many values were      \
       left to the fallback. */                                                                    \
    X(uint32, atan_array, (const float *x, float *y, uint32 n))                                    \
    X(uint32, sincos_array, (const float *x, float *c, float *s, uint32 n))

typedef struct NrKernels {
    const char *name;
#define NR_KERNEL_MEMBER(result, kernel, parameters) result(*kernel) parameters;
    NR_KERNEL_LIST(NR_KERNEL_MEMBER)
#undef NR_KERNEL_MEMBER
} NrKernels;

/* The table of the instruction set in use. */
const NrKernels *Nr_Kernels(void);
/* Test hook: makes every later call take the table k (one of those
   Nr_AvailableKernels lists); null restores the choice by processor.
   Returns the table forced before, or null. */
const NrKernels *Nr_ForceKernels(const NrKernels *k);
/* The tables this build holds and the processor can run, plain first;
   returns their count (at most 4). */
uint32 Nr_AvailableKernels(const NrKernels **out);

/* The transcendental functions' last resort for values whose rounding to
   float the fast kernels cannot decide: the double-precision function
   rounded to double and then to float, computed without the C library
   (fallback.cpp), so that every platform gives the same bits. */
float Nr_AtanFallback(float x);
void Nr_SinCosFallback(float x, float *c, float *s);
/* (float) exp((double) x), rounded the same way. */
float Nr_Exp(float x);
/* Test hook: atan, cos, sin and exp of x before rounding, as hi + lo pairs
   in parts[0 .. 7] (zeros where the functions above need no evaluation:
   x zero, infinite or NaN, and exp outside [-104, 100]). */
void Nr_FallbackParts(float x, double *parts);

#ifdef __cplusplus
}
#endif

#endif
