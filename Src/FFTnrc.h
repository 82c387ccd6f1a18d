/* Table-driven in-place real FFT of 256, 512, 1024 or 2048 points, its exact
   inverse, and conversions of the packed spectrum.

   Packed layout of an N-point spectrum (N floats): [0] DC, [1] Nyquist,
   [2k] Re X[k], [2k+1] Im X[k] for k = 1 .. N/2 - 1, with
   X[k] = sum_n x[n] e^{-j 2 pi n k / N} (forward transform, unscaled).
   Unpacked arrays (x, y, R, F) hold N/2 + 1 bins, DC to Nyquist; phases are
   radians in [-pi/2, 3pi/2]. */
#ifndef FFTNRC_H
#define FFTNRC_H

#include "nrtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TFFTnRC {
    uint32 nfft;     /* transform size N in real samples */
    int16 offset_cs; /* first entry of this size in the cosine table */
    int16 offset_sw; /* first entry of this size in the swap table */
} TFFTnRC;

/* Prepares the record for N = nfft. A size other than 256, 512, 1024 or 2048
   is stored but makes every transform of the record a no-op. */
TARNWELNC_API void FFTnRC_Init(TFFTnRC *it, uint32 nfft);
/* Owns nothing; provided for symmetry with Init. */
TARNWELNC_API void FFTnRC_Destroyed(TFFTnRC *it);
/* isign = 1: real frame -> packed spectrum. isign = -1: packed spectrum ->
   real frame, scaled by 1/N so that forward then inverse is the identity. */
TARNWELNC_API void FFTnRC_fft(const TFFTnRC *it, mfloat *p, int isign);

TARNWELNC_API void FFTnRC_fftbuf2xy(const TFFTnRC *it, const mfloat *fftbuf, mfloat *x, mfloat *y);
TARNWELNC_API void FFTnRC_xy2fftbuf(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *fftbuf);
TARNWELNC_API void FFTnRC_fftbuf2R(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R);
TARNWELNC_API void FFTnRC_fftbuf2F(const TFFTnRC *it, const mfloat *fftbuf, mfloat *F);
TARNWELNC_API void FFTnRC_fftbuf2RF(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R, mfloat *F);
TARNWELNC_API void FFTnRC_xy2R(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R);
TARNWELNC_API void FFTnRC_xy2F(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *F);
TARNWELNC_API void FFTnRC_xy2RF(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R, mfloat *F);
TARNWELNC_API void FFTnRC_RF2xy(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *x, mfloat *y);
TARNWELNC_API void FFTnRC_RF2fftbuf(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *fftbuf);

/* Hann window sampled at half-sample offsets: never 0, symmetric. */
TARNWELNC_API void FFTnRC_channing(uint32 len, mfloat *Wh);

#ifdef __cplusplus
}
#endif

#endif
