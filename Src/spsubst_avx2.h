/* AVX2 versions of the suppressor's per-bin loops. Each computes the
   operations of its plain counterpart in spsubst.cpp, bin for bin in the
   same order, eight bins at a time, and so gives the same bits. Each takes
   the bins from its first one in whole blocks of eight and returns the bin
   where it stopped; the plain loop does the rest. Call them only where
   Simd_Avx2() is nonzero. Internal to the core. */
#ifndef SPSUBST_AVX2_H
#define SPSUBST_AVX2_H

#include "spsubst.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Samples of the frame from 1 on (pre-emphasis) or from 0 on. */
uint32 SpectSubtractAvx2_pre_emphasise(TSpectSubtract *it);
uint32 SpectSubtractAvx2_apply_window(TSpectSubtract *it);
uint32 SpectSubtractAvx2_scale_frame(TSpectSubtract *it, mfloat divisor);
uint32 SpectSubtractAvx2_overlap_add(TSpectSubtract *it);
/* The whole de-emphasis of a block, de_emphasis included. */
void SpectSubtractAvx2_de_emphasise(TSpectSubtract *it, int16 *outS);

uint32 SpectSubtractAvx2_split_by_gain(TSpectSubtract *it);
/* Interior bins of the smoother from bin 1 on, for n bins; A and B may be the
   same array. *T1 holds the input value of the bin before the first one and
   is left holding that of the bin before the one returned. */
uint32 SpectSubtractAvx2_smooth(const float *A, float *B, uint32 n, float *T1);
uint32 SpectSubtractAvx2_track_noise_floor(TSpectSubtract *it, const float *psd, mfloat pNn,
                                           int boundary);
uint32 SpectSubtractAvx2_a_posteriori_snr(TSpectSubtract *it, const float *psd);
/* Adds the statistic terms of the bins it takes to *Result, in bin order. */
uint32 SpectSubtractAvx2_estimate_clean_spectrum(TSpectSubtract *it, const float *psd, mfloat pMn,
                                                 mfloat *Result);
uint32 SpectSubtractAvx2_update_noise_mean(TSpectSubtract *it);
uint32 SpectSubtractAvx2_update_speech_mean(TSpectSubtract *it);
uint32 SpectSubtractAvx2_next_frame_gain(TSpectSubtract *it);

#ifdef __cplusplus
}
#endif

#endif
