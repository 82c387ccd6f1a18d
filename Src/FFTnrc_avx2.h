/* AVX2 versions of the FFT's hot loops. Each computes the operations of its
   plain counterpart in FFTnrc.cpp, value for value in the same order,
   several values at a time, and so gives the same bits. Those that return a
   bin or float index handle whole blocks from the start of their range and
   leave the rest, from the index returned, to the plain loop. Call them only
   where Simd_Avx2() is nonzero. Internal to the core. */
#ifndef FFTNRC_AVX2_H
#define FFTNRC_AVX2_H

#include "nrtypes.h"
#include "FFTnrc.h"

#ifdef __cplusplus
extern "C" {
#endif

/* In-place forward complex FFT of the N/2 interleaved points of p. */
void FFTnRCAvx2_e_minus_jwt(const TFFTnRC *it, mfloat *p);
/* The split step from float index 2 (bin 1) on, C the size's cosine segment;
   returns the float index where it stopped. */
uint32 FFTnRCAvx2_split_step(const mfloat *C, mfloat *p, uint32 n, mfloat s);
/* p[i] = p[i] * factor for the n floats of p, n a multiple of 8; with
   conjugate set, the odd ones are negated first. */
void FFTnRCAvx2_scale(mfloat *p, uint32 n, mfloat factor, int conjugate);
/* FFTnRC_fftbuf2RF and FFTnRC_RF2fftbuf for bins 1 .. N/2 - 1, without DC
   and Nyquist; return N/2. */
uint32 FFTnRCAvx2_fftbuf2RF(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R, mfloat *F);
uint32 FFTnRCAvx2_RF2fftbuf(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *fftbuf);

/* y[i] = atan(x[i]) and c[i] = cos(x[i]), s[i] = sin(x[i]), each evaluated
   as the double-precision function of the float and rounded to float, for n
   values: the conversions' transcendental functions on their own, for
   checking them against the C library. Return how many values were left to
   the C library. */
uint32 FFTnRCAvx2_atan(const mfloat *x, mfloat *y, uint32 n);
uint32 FFTnRCAvx2_sincos(const mfloat *x, mfloat *c, mfloat *s, uint32 n);

#ifdef __cplusplus
}
#endif

#endif
