/* Table-driven in-place real FFT of N = 256, 512, 1024 or 2048 points, its
   exact inverse, and conversions of the packed spectrum.

   Sizes: FFTnRC_Init takes any N, but only these four have tables; for any
   other N every function below does nothing at all (no buffer is read or
   written), the same way on every processor.
   Scaling: the forward transform is unscaled, X[k] = sum_n x[n]
   e^{-j 2 pi n k / N}; the inverse divides by N, so forward then inverse
   returns the frame (to single-precision rounding).
   Packed layout (N floats): [0] DC, [1] Nyquist (both real), [2k] Re X[k],
   [2k+1] Im X[k] for k = 1 .. N/2 - 1.
   Unpacked arrays (x, y real and imaginary parts; R magnitudes; F phases)
   hold N/2 + 1 bins, DC to Nyquist. R is the magnitude sqrt(re^2 + im^2)
   (|DC| and |Nyquist| exactly); F is the phase in radians in
   [-pi/2, 3pi/2]: atan(im / re), plus pi where re < 0, and -pi/2 or pi/2
   on the imaginary axis (-pi/2 at 0).
   Aliasing: the transform works in place on p; a conversion's output
   arrays must not overlap its input arrays or each other.
   Precision: single precision in a fixed order; arctangent, cosine and sine
   are the double-precision functions rounded to float, so results are the
   same bits on every processor. No function allocates.
   Floating-point environment: as for the suppressor (spsubst.h), every
   function that computes runs in the IEEE defaults whatever the caller set,
   and hands the caller's environment back unchanged.
   Threads: a record is read-only during every call, so one record may
   serve any number of threads at once on different buffers. */
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
   is stored, leaves the offsets as they were and makes every function of
   the record a no-op. */
TARNWELNC_API void FFTnRC_Init(TFFTnRC *it, uint32 nfft);
/* Owns nothing; provided for symmetry with Init. */
TARNWELNC_API void FFTnRC_Destroyed(TFFTnRC *it);
/* isign = 1: real frame -> packed spectrum. isign = -1: packed spectrum ->
   real frame, scaled by 1/N so that forward then inverse is the identity. */
TARNWELNC_API void FFTnRC_fft(const TFFTnRC *it, mfloat *p, int isign);

/* Packed spectrum -> real parts x and imaginary parts y (0 at DC, Nyquist). */
TARNWELNC_API void FFTnRC_fftbuf2xy(const TFFTnRC *it, const mfloat *fftbuf, mfloat *x, mfloat *y);
/* x, y -> packed spectrum (the imaginary parts of DC and Nyquist dropped). */
TARNWELNC_API void FFTnRC_xy2fftbuf(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *fftbuf);
/* Packed spectrum -> magnitudes R, phases F, or both. */
TARNWELNC_API void FFTnRC_fftbuf2R(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R);
TARNWELNC_API void FFTnRC_fftbuf2F(const TFFTnRC *it, const mfloat *fftbuf, mfloat *F);
TARNWELNC_API void FFTnRC_fftbuf2RF(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R, mfloat *F);
/* x, y -> magnitudes R, phases F, or both (every bin by the same rule). */
TARNWELNC_API void FFTnRC_xy2R(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R);
TARNWELNC_API void FFTnRC_xy2F(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *F);
TARNWELNC_API void FFTnRC_xy2RF(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R, mfloat *F);
/* R, F -> x = R cos F, y = R sin F, each product formed in double with the
   C library's cosine and sine and rounded once. */
TARNWELNC_API void FFTnRC_RF2xy(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *x, mfloat *y);
/* R, F -> packed spectrum: Re = cos F * R, Im = sin F * R in single
   precision (DC and Nyquist take cos F * R). */
TARNWELNC_API void FFTnRC_RF2fftbuf(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *fftbuf);

/* Hann window of len points sampled at half-sample offsets,
   0.5 - 0.5 cos(2 pi (i + 0.5) / len): never 0, symmetric to rounding. */
TARNWELNC_API void FFTnRC_channing(uint32 len, mfloat *Wh);

#ifdef __cplusplus
}
#endif

#endif
