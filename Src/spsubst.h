/* Streaming single-microphone noise suppressor (spectral subtraction with
   minimum-statistics noise tracking).

   One record serves one channel. Per block of lenHalf new samples:
       SpectSubtract_Frame(&rec, 1, block);
       SpectSubtract_Equalizer(&rec, n, gains);   (optional)
       SpectSubtract_Restore(&rec, block);
   Restore returns the cleaned version of the block passed to the previous
   Frame call: the output lags the input by lenHalf samples. The record owns
   no memory; hosts may place it anywhere.

   Digital silence: a frame whose samples are all exactly zero changes no
   estimate (noise floor, speech detector, mean spectra, gains) and comes
   out as silence, with stateVad 0. So whole blocks of zeros before a stream
   only delay its output by as many blocks, and a pause of zeros leaves the
   noise reduction as it was before the pause. */
#ifndef SPSUBST_H
#define SPSUBST_H

#include "FFTnrc.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SPSUBST_MAX_FRAME 2048 /* longest analysis frame and FFT */
#define SPSUBST_MAX_BINS 1025  /* bins of the longest FFT */

typedef struct TSpectSubtract {
    uint32 Channels;   /* free for the host; the suppressor never uses it */
    uint32 SampleRate;
    uint32 len;        /* analysis frame length */
    uint32 lenHalf;    /* samples consumed and produced per block */
    int8 stateVad;     /* speech flag of the latest frame */
    int8 kind_subst;   /* suppression mode 0 .. 3 */
    mfloat pSn;        /* suppression factor, 1 - 10^(pSdb/20) */
    mfloat pNn;        /* noise adaptation rate */
    mfloat pMn;        /* musical-noise reduction weight */
    uint32 nfft;
    TFFTnRC FFTnRC;
    int16 offset_wn;   /* this frame length's window in winTable32f */
    float buff[SPSUBST_MAX_FRAME];
    int16 frameMic[SPSUBST_MAX_FRAME];
    mfloat div_step;
    float buffPrev[SPSUBST_MAX_FRAME];
    float psdX[SPSUBST_MAX_BINS];
    float phasa[SPSUBST_MAX_BINS];
    float psdS[SPSUBST_MAX_BINS];
    float psdSmean[SPSUBST_MAX_BINS];
    float psdN[SPSUBST_MAX_BINS];
    float psdNmean[SPSUBST_MAX_BINS];
    float Hn[SPSUBST_MAX_BINS];
    uint32 ui_counter; /* frames analysed since Init */
    uint32 wmax;       /* bins in use, nfft/2 + 1 */
    mfloat r_MeanVAD;
    mfloat r_Mean2VAD;
    float arX0[SPSUBST_MAX_BINS];
    float arX[SPSUBST_MAX_BINS];
    float arXmin[SPSUBST_MAX_BINS];
    float arXtmp[SPSUBST_MAX_BINS];
    float arPROB[SPSUBST_MAX_BINS];
    float arPost[SPSUBST_MAX_BINS];
    float arN[SPSUBST_MAX_BINS];
    float arS[SPSUBST_MAX_BINS];
    int16 pre_emphasis;
    int16 de_emphasis;
} TSpectSubtract;

typedef struct TProductInfo {
    TChar100 product_name;
    TChar100 product_version;
    TChar100 product_company;
} TProductInfo;

extern TARNWELNC_API const TProductInfo SpectSubtract_Info;

/* Starts (or restarts) a stream at SampleRate Hz. kind_subst 0 .. 3,
   pSdb <= 0 dB, pNn and pMn in [0.8, 1); the host checks the ranges. */
TARNWELNC_API void SpectSubtract_Init(TSpectSubtract *it, uint32 SampleRate,
                                      int8 kind_subst, mfloat pSdb, mfloat pNn,
                                      mfloat pMn);
/* Replaces the four user parameters between any two blocks. */
TARNWELNC_API void SpectSubtract_Reset(TSpectSubtract *it, int8 kind_subst,
                                       mfloat pSdb, mfloat pNn, mfloat pMn);
/* Ends the record's use; only Init may follow. */
TARNWELNC_API void SpectSubtract_Destroyed(TSpectSubtract *it);

/* Analyses lenHalf new samples. ActiveSig != 0 prepares the cleaned block,
   0 the estimated noise. inpS is fully read before returning. */
TARNWELNC_API void SpectSubtract_Frame(TSpectSubtract *it, int8 ActiveSig, const int16 *inpS);
/* Scales the prepared spectrum by sizeMulAm gains spread from 0 Hz to half
   the sampling rate (no interpolation); does nothing for sizeMulAm < 1. */
TARNWELNC_API void SpectSubtract_Equalizer(TSpectSubtract *it, int32 sizeMulAm, const mfloat *MulAm);
/* Writes lenHalf cleaned samples; outS may be the block given to Frame. */
TARNWELNC_API void SpectSubtract_Restore(TSpectSubtract *it, int16 *outS);

/* r[i] = x[i] for i < j, ascending. */
TARNWELNC_API void vCpy(mfloat *r, const mfloat *x, uint32 j);
/* d[k * interleave] = s[k * interleave] for k < len, ascending (so a move to
   a lower address within one buffer is safe). */
TARNWELNC_API void CopyMem16i(const int16 *s, int16 *d, uint32 len, uint32 interleave);

#ifdef __cplusplus
}
#endif

#endif
