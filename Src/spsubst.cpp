// Spectral-subtraction noise suppressor. Every operation runs in single
// precision in the order written here; transcendental functions run in double
// and are rounded once. Reordering any expression changes output samples.
// Where the processor has AVX2, the per-bin loops hand whole blocks of bins
// to spsubst_avx2.cpp, which gives the same bits; the rest runs here.
#include "spsubst.h"

#include <cmath>

#include "simd.h"
#include "spsubst_avx2.h"
#include "spsubst_tables.h"

extern "C" const TProductInfo SpectSubtract_Info = {
    "Tarnwel's Noise Cancellation of single microphone solution.",
    "Version 2.35",
    "Copyright (c) 2026 the noise-suppressor maintainers. MIT licence.",
};

namespace {

// ---------------------------------------------------------------- geometry

struct Geometry {
    uint32 len;
    uint32 nfft;
    int16 offset_wn;
};

const Geometry kRowA = {180, 512, 0};
const Geometry kRowB = {240, 512, 180};
const Geometry kRowC = {380, 512, 420};
const Geometry kRowD = {600, 1024, 800};
const Geometry kRowE = {960, 1024, 1400};
const Geometry kRowF = {2048, 2048, 2360};

// Exact rates first; rows A and B are reached by nothing else.
Geometry SizeFrame_nfft(uint32 rate) {
    switch (rate) {
        case 6000: return kRowA;
        case 8000: return kRowB;
        case 10000: case 11025: case 12000: case 16000: return kRowC;
        case 22000: case 22050: return kRowD;
        case 32000: return kRowE;
        case 44000: case 44100: return kRowF;
        default: break;
    }
    if (rate > 44000) return kRowF;
    if (rate > 30000) return kRowE;
    if (rate > 20000) return kRowD;
    return kRowC;
}

// ------------------------------------------------------- speech detector

void VAD_Reset(TSpectSubtract *it) {
    it->ui_counter = 0;
    it->r_MeanVAD = 1e-20f;
    it->r_Mean2VAD = 1e-20f;
}

void VAD_Init(TSpectSubtract *it) { VAD_Reset(it); }

// Three-tap smoothing across frequency; A and B may be the same array, so the
// left neighbour's input value is carried in T1.
const mfloat kEdgeSelf = 0.67f;
const mfloat kEdgeNeighbour = 1.0f - 0.67f;

void Smooth(const TSpectSubtract *it, const float *A, float *B) {
    const uint32 n = it->wmax;
    float T1 = A[0];
    B[0] = A[0] * kEdgeSelf + A[1] * kEdgeNeighbour;
    for (uint32 w = Simd_Avx2() ? SpectSubtractAvx2_smooth(A, B, n, &T1) : 1; w + 1 < n; ++w) {
        const float T2 = A[w];
        B[w] = (T1 + A[w + 1]) * 0.25f + A[w] * 0.5f;
        T1 = T2;
    }
    B[n - 1] = T1 * kEdgeNeighbour + A[n - 1] * kEdgeSelf;
}

// ------------------------------------------------------------- analysis

void shift_frame(TSpectSubtract *it, const int16 *inpS) {
    const uint32 keep = it->len - it->lenHalf;
    CopyMem16i(it->frameMic + it->lenHalf, it->frameMic, keep, 1);
    CopyMem16i(inpS, it->frameMic + keep, it->lenHalf, 1);
}

// The predecessor of frameMic[0] is the newest sample of the previous call;
// the window zeroes buff[0] anyway.
void pre_emphasise(TSpectSubtract *it) {
    const int16 *x = it->frameMic;
    it->buff[0] = static_cast<float>(it->pre_emphasis) * -0.8f + static_cast<float>(x[0]);
    for (uint32 j = Simd_Avx2() ? SpectSubtractAvx2_pre_emphasise(it) : 1; j < it->len; ++j)
        it->buff[j] = static_cast<float>(x[j - 1]) * -0.8f + static_cast<float>(x[j]);
    it->pre_emphasis = x[it->len - 1];
}

void apply_window(TSpectSubtract *it) {
    const float *win = winTable32f + it->offset_wn;
    for (uint32 j = Simd_Avx2() ? SpectSubtractAvx2_apply_window(it) : 0; j < it->len; ++j)
        it->buff[j] = it->buff[j] * win[j];
}

// buff still holds the previous spectrum beyond len.
void zero_pad(TSpectSubtract *it) {
    for (uint32 j = it->len; j < it->nfft; ++j) it->buff[j] = 0.0f;
}

void transform_forward(TSpectSubtract *it) { FFTnRC_fft(&it->FFTnRC, it->buff, 1); }

void take_magnitude_and_phase(TSpectSubtract *it) {
    FFTnRC_fftbuf2RF(&it->FFTnRC, it->buff, it->psdX, it->phasa);
}

// A frame of digital silence (every magnitude exactly zero) tells nothing
// about the noise or the speech. Letting it in would drag the noise-floor
// minima to zero, after which the noise passes for speech for as long as a
// search window remembers the pause; so such a frame leaves the whole
// estimator as it was and its output is silence.
bool digital_silence(const TSpectSubtract *it) {
    for (uint32 w = 0; w < it->wmax; ++w)
        if (it->psdX[w] != 0.0f) return false;
    return true;
}

// -------------------------------------------------------- noise tracking

// The previous frame's gain splits the magnitude into noise and remainder.
void split_by_gain(TSpectSubtract *it) {
    const mfloat pSn = it->pSn;
    for (uint32 w = Simd_Avx2() ? SpectSubtractAvx2_split_by_gain(it) : 0; w < it->wmax; ++w) {
        it->psdN[w] = it->Hn[w] * it->psdX[w];
        it->psdS[w] = it->psdX[w] - it->psdN[w] * pSn;
    }
}

void seed_trackers(TSpectSubtract *it) {
    Smooth(it, it->arX0, it->arX0);
    for (uint32 w = 0; w < it->wmax; ++w) {
        it->arPROB[w] = 0.5f;
        it->arN[w] = it->arX0[w];
        it->arS[w] = 0.0f;
        it->arXtmp[w] = it->arX0[w];
        it->arXmin[w] = it->arX0[w];
        it->arX[w] = it->arX0[w];
    }
}

bool at_window_boundary(const TSpectSubtract *it) {
    const uint32 frames_per_window = 8192 / (it->nfft / 2 + 1);
    return it->ui_counter % frames_per_window == 4;
}

// Minimum statistics: smoothed level, its floor over the last one or two
// search windows, speech probability from their ratio, and a noise estimate
// that adapts more slowly where speech is likely.
void track_noise_floor(TSpectSubtract *it, const float *psd, mfloat pNn) {
    it->ui_counter = it->ui_counter + 1;
    Smooth(it, psd, it->arX0);
    if (it->ui_counter < 2) seed_trackers(it);

    const bool boundary = at_window_boundary(it);
    const mfloat rate = 1.0f - pNn;
    uint32 w = Simd_Avx2() ? SpectSubtractAvx2_track_noise_floor(it, psd, pNn, boundary) : 0;
    for (; w < it->wmax; ++w) {
        const float x = it->arX0[w] * 0.25f + it->arX[w] * 0.75f;
        it->arX[w] = x;
        if (boundary) {
            it->arXmin[w] = it->arXtmp[w] < x ? it->arXtmp[w] : x;
            it->arXtmp[w] = x;
        } else {
            if (it->arXmin[w] > x) it->arXmin[w] = x;
            if (it->arXtmp[w] > x) it->arXtmp[w] = x;
        }
        float prob = it->arPROB[w] * 0.25f;
        if (x / (it->arXmin[w] + 1e-30f) > 2.25f) prob = prob + 0.75f;
        it->arPROB[w] = prob;
        const mfloat SpeechPresence = prob * rate + pNn;
        it->arN[w] = (1.0f - SpeechPresence) * psd[w] + it->arN[w] * SpeechPresence;
    }
}

void a_posteriori_snr(TSpectSubtract *it, const float *psd) {
    for (uint32 w = Simd_Avx2() ? SpectSubtractAvx2_a_posteriori_snr(it, psd) : 0; w < it->wmax; ++w)
        it->arPost[w] = (psd[w] * psd[w]) / (it->arN[w] * it->arN[w] + 1e-20f);
    Smooth(it, it->arPost, it->arPost);
}

// ------------------------------------------------------------ gain rules

// An infinite ratio x makes x / (x + 1) undefined; its limit is 1, and every
// finite x keeps the formula's exact result.
mfloat ratio_to_gain(mfloat x) {
    if (std::isinf(x)) return 1.0f;
    return x / (x + 1.0f);
}

// Decision-directed a-priori SNR from the previous clean estimate.
mfloat a_priori_snr(const TSpectSubtract *it, uint32 w, mfloat pMn) {
    const float noise2 = it->arN[w] * it->arN[w];
    mfloat prio = 0.0f;
    if (noise2 != 0.0f) prio = (it->arS[w] * (pMn * it->arS[w])) / noise2;
    const float post = it->arPost[w];
    const mfloat P = post > 1.0f ? post - 1.0f : 0.0f;
    return P * (1.0f - pMn) + prio;
}

mfloat clean_estimate(const TSpectSubtract *it, uint32 w, const float *psd, mfloat arHn) {
    switch (it->kind_subst) {
        case 1: return psd[w] - it->arN[w] * (arHn * it->pSn);
        case 2: return it->arN[w] * (1.0f - it->pSn) + arHn * psd[w];
        default: return arHn * psd[w];
    }
}

mfloat statistic_term(const TSpectSubtract *it, uint32 w, mfloat arHn, mfloat arPrio) {
    const float post = it->arPost[w];
    switch (it->kind_subst) {
        case 1: return arHn * post - (arPrio + 0.2f) * 0.2f;
        case 2: return arHn * post - (arPrio + 0.15f) * 0.15f;
        default: return arHn * (post - 1.0f);
    }
}

// Per bin: prior, Wiener gain and clean estimate; returns the frame's
// speech statistic summed over bins above 8.
mfloat estimate_clean_spectrum(TSpectSubtract *it, const float *psd, mfloat pMn) {
    mfloat Result = 0.0f;
    uint32 w = Simd_Avx2() ? SpectSubtractAvx2_estimate_clean_spectrum(it, psd, pMn, &Result) : 0;
    for (; w < it->wmax; ++w) {
        const mfloat arPrio = a_priori_snr(it, w, pMn);
        mfloat arHn = ratio_to_gain(arPrio);
        if (arHn > 1.0f) arHn = 1.0f;
        it->arS[w] = clean_estimate(it, w, psd, arHn);
        if (w > 8) Result = Result + statistic_term(it, w, arHn, arPrio);
    }
    return Result;
}

// Compares the statistic with a threshold that follows its own running mean
// and spread, learnt from quiet frames only.
int8 decide_speech(TSpectSubtract *it, mfloat Result) {
    Result = Result / static_cast<mfloat>(it->wmax);
    if (Result < 0.0f) Result = 0.0f;
    Result = Result / (1.0f + Result);

    if (it->ui_counter < 2) {
        it->r_MeanVAD = Result / 3.0f + it->r_MeanVAD;
        it->r_Mean2VAD = (Result * Result) / 3.0f + it->r_Mean2VAD;
        return 0;
    }
    if (Result < 0.1f) {
        it->r_MeanVAD = it->r_MeanVAD * 0.99f + Result * 0.01f;
        it->r_Mean2VAD = it->r_Mean2VAD * 0.99f + Result * (Result * 0.01f);
    }
    const mfloat spread = std::sqrt(it->r_Mean2VAD - it->r_MeanVAD * it->r_MeanVAD);
    const mfloat Threshold = spread * 4.0f + (it->r_MeanVAD + 0.01f);
    return Result > Threshold ? 1 : 0;
}

int8 VAD_State(TSpectSubtract *it, const float *psdX, mfloat pNn, mfloat pMn) {
    track_noise_floor(it, psdX, pNn);
    a_posteriori_snr(it, psdX);
    return decide_speech(it, estimate_clean_spectrum(it, psdX, pMn));
}

void update_mean_spectra(TSpectSubtract *it) {
    const mfloat pNn = it->pNn, rate = 1.0f - pNn;
    for (uint32 w = Simd_Avx2() ? SpectSubtractAvx2_update_noise_mean(it) : 0; w < it->wmax; ++w)
        it->psdNmean[w] = it->psdN[w] * rate + it->psdNmean[w] * pNn;
    if (it->stateVad == 1)
        for (uint32 w = Simd_Avx2() ? SpectSubtractAvx2_update_speech_mean(it) : 0; w < it->wmax; ++w)
            it->psdSmean[w] = it->psdX[w] - it->psdNmean[w];
}

mfloat limit_to_one(mfloat g) { return g > 1.0f ? 1.0f : g; }

mfloat ratio_gain(mfloat mN2, mfloat mS2) {
    if (mS2 + mN2 == 0.0f) return 0.0f;
    return limit_to_one(std::sqrt(mN2 / (mS2 + mN2)));
}

mfloat decision_directed_gain(mfloat mN2, mfloat mS2, mfloat S2, mfloat pMn) {
    const mfloat tmp = S2 == 0.0f ? 0.0f : mN2 / S2;
    const mfloat xi = (1.0f - pMn) * tmp + (pMn * mN2) / (mS2 + 1e-20f);
    return limit_to_one(std::sqrt(ratio_to_gain(xi)));
}

void next_frame_gain(TSpectSubtract *it) {
    for (uint32 w = Simd_Avx2() ? SpectSubtractAvx2_next_frame_gain(it) : 0; w < it->wmax; ++w) {
        const mfloat mN2 = it->psdNmean[w] * it->psdNmean[w];
        const mfloat mS2 = it->psdSmean[w] * it->psdSmean[w];
        if (it->kind_subst > 0)
            it->Hn[w] = ratio_gain(mN2, mS2);
        else
            it->Hn[w] = decision_directed_gain(mN2, mS2, it->psdS[w] * it->psdS[w], it->pMn);
    }
}

void output_magnitude(TSpectSubtract *it, int8 ActiveSig) {
    const float *src = ActiveSig == 0 ? it->psdN : it->kind_subst != 0 ? it->arS : it->psdS;
    vCpy(it->psdX, src, it->wmax);
}

// -------------------------------------------------------------- synthesis

void polar_to_packed(TSpectSubtract *it) {
    FFTnRC_RF2fftbuf(&it->FFTnRC, it->psdX, it->phasa, it->buff);
}

void transform_inverse(TSpectSubtract *it) { FFTnRC_fft(&it->FFTnRC, it->buff, -1); }

void scale_frame(TSpectSubtract *it) {
    const mfloat divisor = it->div_step + it->div_step;
    for (uint32 j = Simd_Avx2() ? SpectSubtractAvx2_scale_frame(it, divisor) : 0; j < it->len; ++j)
        it->buff[j] = it->buff[j] / divisor;
}

void overlap_add(TSpectSubtract *it) {
    const float *tail = it->buffPrev + it->lenHalf;
    for (uint32 j = Simd_Avx2() ? SpectSubtractAvx2_overlap_add(it) : 0; j < it->len - it->lenHalf; ++j)
        it->buff[j] = it->buff[j] + tail[j];
    vCpy(it->buffPrev, it->buff, it->len);
}

int16 saturate(mfloat v) {
    if (v > 32767.0f) return 32767;
    if (v < -32767.0f) return -32767;
    if (v != v) return 0;
    return static_cast<int16>(v);
}

// Inverse of the pre-emphasis, recursing on the saturated 16-bit output.
void de_emphasise(TSpectSubtract *it, int16 *outS) {
    if (Simd_Avx2()) {
        SpectSubtractAvx2_de_emphasise(it, outS);
        return;
    }
    int16 prev = it->de_emphasis;
    for (uint32 j = 0; j < it->lenHalf; ++j) {
        const mfloat v = static_cast<mfloat>(prev) * 0.8f + it->buff[j];
        prev = saturate(v);
        outS[j] = prev;
    }
    it->de_emphasis = prev;
}

void map_parameters(TSpectSubtract *it, int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    it->kind_subst = kind_subst;
    if (pSdb >= 0.0f) {
        it->pSn = 0.0f;
    } else {
        const mfloat exponent = pSdb * 0.05f * 2.3025851f;
        it->pSn = 1.0f - static_cast<mfloat>(std::exp(static_cast<double>(exponent)));
    }
    it->pNn = pNn;
    it->pMn = pMn;
}

}  // namespace

extern "C" {

void SpectSubtract_Init(TSpectSubtract *it, uint32 SampleRate, int8 kind_subst, mfloat pSdb,
                        mfloat pNn, mfloat pMn) {
    it->SampleRate = SampleRate;
    const Geometry g = SizeFrame_nfft(SampleRate);
    it->len = g.len;
    it->nfft = g.nfft;
    it->div_step = 0.5f;
    it->lenHalf = g.len / 2;
    it->wmax = g.nfft / 2 + 1;
    it->offset_wn = g.offset_wn;

    map_parameters(it, kind_subst, pSdb, pNn, pMn);

    for (uint32 j = 0; j < it->len; ++j) {
        it->frameMic[j] = 0;
        it->buffPrev[j] = 0.0f;
    }
    const bool dd = kind_subst == 0;
    for (uint32 w = 0; w < it->wmax; ++w) {
        it->psdNmean[w] = dd ? 0.99f : 1e-20f;
        it->psdSmean[w] = dd ? 0.01f : 1e-20f;
        it->Hn[w] = dd ? 0.0f : 1e-20f;
    }
    FFTnRC_Init(&it->FFTnRC, it->nfft);
    VAD_Init(it);
    it->pre_emphasis = 0;
    it->de_emphasis = 0;
}

void SpectSubtract_Reset(TSpectSubtract *it, int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    map_parameters(it, kind_subst, pSdb, pNn, pMn);
}

void SpectSubtract_Destroyed(TSpectSubtract *it) {
    it->SampleRate = 0;
    it->lenHalf = 0;
    it->wmax = 0;
    FFTnRC_Destroyed(&it->FFTnRC);
}

void SpectSubtract_Frame(TSpectSubtract *it, int8 ActiveSig, const int16 *inpS) {
    shift_frame(it, inpS);
    pre_emphasise(it);
    apply_window(it);
    zero_pad(it);
    transform_forward(it);
    take_magnitude_and_phase(it);
    if (digital_silence(it)) {
        it->stateVad = 0;  // psdX, all zeros, is the output
        return;
    }
    split_by_gain(it);
    it->stateVad = VAD_State(it, it->psdS, it->pNn, it->pMn);
    update_mean_spectra(it);
    next_frame_gain(it);
    output_magnitude(it, ActiveSig);
}

void SpectSubtract_Equalizer(TSpectSubtract *it, int32 sizeMulAm, const mfloat *MulAm) {
    // Fewer than one gain would index before the table.
    if (it->wmax < 2 || sizeMulAm < 1) return;
    const uint32 last_gain = static_cast<uint32>(sizeMulAm - 1);
    const uint32 last_bin = it->wmax - 1;
    for (uint32 w = 0; w < it->wmax; ++w) {
        const uint32 w_res = (w * last_gain) / last_bin;
        it->psdX[w] = (MulAm[w_res] + 1e-20f) * it->psdX[w];
    }
}

void SpectSubtract_Restore(TSpectSubtract *it, int16 *outS) {
    polar_to_packed(it);
    transform_inverse(it);
    scale_frame(it);
    overlap_add(it);
    de_emphasise(it, outS);
}

void vCpy(mfloat *r, const mfloat *x, uint32 j) {
    for (uint32 i = 0; i < j; ++i) r[i] = x[i];
}

void CopyMem16i(const int16 *s, int16 *d, uint32 len, uint32 interleave) {
    for (uint32 k = 0; k < len; ++k) d[k * interleave] = s[k * interleave];
}

}  // extern "C"
