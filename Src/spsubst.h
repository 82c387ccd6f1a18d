/* Streaming single-microphone noise suppressor (spectral subtraction with
   minimum-statistics noise tracking).

   One record serves one channel. Per block of lenHalf new samples:
       SpectSubtract_Frame(&rec, 1, block);
       SpectSubtract_Equalizer(&rec, n, gains);   (optional)
       SpectSubtract_Restore(&rec, block);

   Samples: 16-bit signed integers at full scale (-32768 .. 32767); the
   output saturates to -32767 .. 32767.
   Block length: read lenHalf after Init; it follows the sampling rate:
       6000 Hz: 90; 8000 Hz: 120; 20000 Hz and below otherwise (11025,
       16000, ...): 190; 20001 .. 30000 (22050, ...): 300; 30001 .. 43999
       (32000, ...): 480; 44000 and above (44100, 48000, ...): 1024.
   Delay: Restore returns the cleaned version of the block passed to the
   previous Frame call, so the output lags the input by exactly lenHalf
   samples; the first block out is the cleaned silence before the stream.
   Feed one block of zeros after the last to get the last one out.
   Parameters (Init and Reset):
       kind_subst  suppression mode: 0 decision-directed gain on the
                   magnitude after subtraction (gentle); 1 the tracked noise
                   subtracted under a Wiener gain; 2 Wiener gain with a floor
                   of the noise at the limit (most natural); 3 Wiener gain
                   alone (strongest). Values above 3 act as 3; negative
                   values mix the rules of 0 and 3 and are not a mode.
       pSdb        suppression limit in dB, <= 0 (-80 .. 0 useful): how far a
                   noise-only bin may be pulled down; 0 or more means none.
       pNn         noise adaptation rate in [0.8, 1): weight of the old noise
                   estimate per frame; higher adapts more slowly.
       pMn         musical-noise reduction in [0.8, 1): weight of the previous
                   frame's estimate in the a-priori SNR.
   Other values, NaN and infinities included, are taken as they are: no
   call goes outside the record for any of them, but the output is then
   not meaningful (a NaN parameter gives silence).
   Digital silence: a frame whose samples are all exactly zero changes no
   estimate (noise floor, speech detector, mean spectra, gains) and comes
   out as silence, with stateVad 0. So whole blocks of zeros before a stream
   only delay its output by as many blocks, and a pause of zeros leaves the
   noise reduction as it was before the pause.
   Near-silence: so does a frame none of whose len samples (the analysis
   frame: the new block and the one before it) lies outside -3 .. 3, such
   as dithered silence, the quiet start of a decoded file or a muted
   microphone. It comes out at the suppression limit: its magnitudes scaled
   by 10^(pSdb/20), the most any bin is pulled down, so it is no louder than
   it went in and joins the reduced noise around it. Without this rule a
   tenth of a second of +-1 dither drags the noise-floor minima near zero
   for a whole search window. Analyse sets nearSilence (1 or 0); Estimate
   reads it with psdX.
   The record: about 80 KB (sizeof (TSpectSubtract)), plain data that owns
   no memory, so hosts may place it anywhere and copy it; nothing is ever
   allocated. A host may read SampleRate, len, lenHalf, nfft, wmax (bins in
   use), stateVad (speech flag of the latest frame, 1 or 0) and, between
   Frame and Restore, psdX (output magnitudes of bins 0 .. wmax - 1, which
   Equalizer scales); Channels is the host's own. Everything else is
   internal state. Frame is Analyse followed by Estimate (below); the
   analysis depends on the input alone.
   Frame, Analyse, Estimate, Equalizer and Restore do nothing to a record
   that Init has not prepared (never initialised, destroyed, or
   overwritten).
   Threads: one record is used by one thread at a time; records are
   independent, and the constant tables are read-only, so any number of
   records may run on any threads at once.
   Floating-point environment: every function that computes runs in the
   IEEE default environment (round to nearest, subnormals kept, exceptions
   masked) whatever the caller has set, flush-to-zero, denormals-are-zero
   and the rounding direction included: it saves the caller's control
   register (MXCSR on x86-64, FPCR on aarch64), sets the defaults and
   restores the caller's before returning, so the output is the same bits in
   any host and the caller sees no change. That costs one read of the
   register per call, and a write and a restore only when the caller's
   differs. WebAssembly has no such modes. */
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
    int8 nearSilence;  /* set by Analyse: the frame is near-silence (below) */
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

/* Starts (or restarts) a stream at SampleRate Hz (any value; the rates
   above fix the frame), with the parameters above. The host checks them. */
TARNWELNC_API void SpectSubtract_Init(TSpectSubtract *it, uint32 SampleRate,
                                      int8 kind_subst, mfloat pSdb, mfloat pNn,
                                      mfloat pMn);
/* Replaces the four parameters between any two blocks, keeping every
   estimate: the next block is cleaned with them. */
TARNWELNC_API void SpectSubtract_Reset(TSpectSubtract *it, int8 kind_subst,
                                       mfloat pSdb, mfloat pNn, mfloat pMn);
/* Ends the record's use; only Init may follow. */
TARNWELNC_API void SpectSubtract_Destroyed(TSpectSubtract *it);

/* Analyses lenHalf new samples from inpS. ActiveSig != 0 prepares the
   cleaned block, 0 the estimated noise. inpS is fully read before returning
   and may be the buffer Restore writes. */
TARNWELNC_API void SpectSubtract_Frame(TSpectSubtract *it, int8 ActiveSig, const int16 *inpS);
/* Frame's two halves. Analyse takes lenHalf new samples and leaves the
   block's magnitudes in psdX and phases in phasa; Estimate runs the
   estimator on psdX and leaves there what Frame leaves. */
TARNWELNC_API void SpectSubtract_Analyse(TSpectSubtract *it, const int16 *inpS);
TARNWELNC_API void SpectSubtract_Estimate(TSpectSubtract *it, int8 ActiveSig);
/* Scales the prepared spectrum by sizeMulAm gains spread from 0 Hz to half
   the sampling rate (no interpolation); does nothing for sizeMulAm < 1. */
TARNWELNC_API void SpectSubtract_Equalizer(TSpectSubtract *it, int32 sizeMulAm, const mfloat *MulAm);
/* Writes lenHalf cleaned samples to outS: the block given to the previous
   Frame, cleaned. outS may be the block given to Frame. */
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
