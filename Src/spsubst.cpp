// Spectral-subtraction noise suppressor. Every operation runs in single
// precision in a fixed order; transcendental functions run in double and are
// rounded once. Reordering any expression changes output samples. Each stage
// of a frame is a function here, called in the algorithm's order; the loops
// over samples and bins are the kernels (kernels/suppressor.inc), taken from
// the table of the instruction set in use.
#include "exact.h"

#include "spsubst.h"

#include <math.h>

#include "fpenv.h"
#include "geometry.h"
#include "kernels/kernels.h"
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

// The rows of the rate table, with where their windows start.
struct Rows {
    Geometry row[nr_geometry::kFrameCount];
};

constexpr Rows make_rows() {
    Rows r{};
    for (unsigned i = 0; i < nr_geometry::kFrameCount; ++i)
        r.row[i] = {nr_geometry::kFrames[i].len, nr_geometry::kFrames[i].nfft,
                    static_cast<int16>(nr_geometry::window_offset(i))};
    return r;
}

constexpr Rows kRows = make_rows();
static_assert(nr_geometry::largest_transform() <= SPSUBST_MAX_FRAME,
              "every frame and transform fits the record");

Geometry SizeFrame_nfft(uint32 rate) { return kRows.row[nr_geometry::row_for_rate(rate)]; }

// Whether the record holds a row's geometry as Init leaves it. Frame,
// Equalizer and Restore do nothing to any other record (never initialised,
// destroyed, or overwritten), so that no call reaches outside its arrays.
bool geometry_valid(const TSpectSubtract *it) {
    for (const Geometry &g : kRows.row) {
        if (it->len == g.len && it->nfft == g.nfft && it->offset_wn == g.offset_wn &&
            it->lenHalf == g.len / 2 && it->wmax == g.nfft / 2 + 1 && it->FFTnRC.nfft == g.nfft)
            return true;
    }
    return false;
}

// ------------------------------------------------------- speech detector

void VAD_Reset(TSpectSubtract *it) {
    it->ui_counter = 0;
    it->r_MeanVAD = 1e-20f;
    it->r_Mean2VAD = 1e-20f;
}

void VAD_Init(TSpectSubtract *it) { VAD_Reset(it); }

// Three-tap smoothing across frequency; A and B may be the same array.
void Smooth(const TSpectSubtract *it, const float *A, float *B) {
    Nr_Kernels()->smooth(A, B, it->wmax);
}

// ------------------------------------------------------------- analysis

// The halves never overlap (len is twice lenHalf), and inpS is the host's.
void shift_frame(TSpectSubtract *it, const int16 *inpS) {
    const uint32 keep = it->len - it->lenHalf;
    __builtin_memcpy(it->frameMic, it->frameMic + it->lenHalf, keep * sizeof(int16));
    __builtin_memcpy(it->frameMic + keep, inpS, it->lenHalf * sizeof(int16));
}

// Pre-emphasis, window and zero padding in one pass. The predecessor of
// frameMic[0] is the newest sample of the previous call; the window zeroes
// buff[0] anyway.
void emphasise_and_window(TSpectSubtract *it) {
    Nr_Kernels()->analysis_frame(it->frameMic, it->pre_emphasis, winTable32f + it->offset_wn, it->buff,
                                 it->len, it->nfft);
    it->pre_emphasis = it->frameMic[it->len - 1];
}

void transform_forward(TSpectSubtract *it) { FFTnRC_fft(&it->FFTnRC, it->buff, 1); }

void take_magnitude_and_phase(TSpectSubtract *it) {
    FFTnRC_fftbuf2RF(&it->FFTnRC, it->buff, it->psdX, it->phasa);
}

// The largest sample magnitude, in 16-bit steps, that near-silence may
// reach: it covers +-1 triangular dither and +-3 of a muted input's noise.
constexpr int kNearSilence = 3;

void mark_near_silence(TSpectSubtract *it) {
    int8 quiet = 1;
    for (uint32 j = 0; j < it->len; ++j)
        if (it->frameMic[j] > kNearSilence || it->frameMic[j] < -kNearSilence) quiet = 0;
    it->nearSilence = quiet;
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

// Near-silence (mark_near_silence) tells as little, and would drag the
// minima as far down; it too leaves the estimator alone, and comes out at
// the suppression limit, no louder than it came in.
void rest_at_limit(TSpectSubtract *it) {
    const mfloat floor = 1.0f - it->pSn;
    for (uint32 w = 0; w < it->wmax; ++w) it->psdX[w] = it->psdX[w] * floor;
}

// -------------------------------------------------------- noise tracking

// The previous frame's gain splits the magnitude into noise and remainder.
void split_by_gain(TSpectSubtract *it) {
    Nr_Kernels()->split_by_gain(it->psdX, it->Hn, it->pSn, it->psdN, it->psdS, it->wmax);
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
    Nr_Kernels()->track_noise_floor(it->arX0, it->arX, it->arXmin, it->arXtmp, it->arPROB, it->arN,
                                    it->arPost, psd, pNn, at_window_boundary(it), it->wmax);
}

// The a-posteriori SNR itself comes with the tracker's update.
void a_posteriori_snr(TSpectSubtract *it) { Smooth(it, it->arPost, it->arPost); }

// ------------------------------------------------------------ gain rules

// Per bin: prior, Wiener gain and clean estimate; returns the frame's
// speech statistic, the bins' terms summed in bin order above bin 8.
mfloat estimate_clean_spectrum(TSpectSubtract *it, const float *psd, mfloat pMn) {
    return Nr_Kernels()->clean_spectrum(it->arN, it->arS, it->arPost, psd, pMn, it->pSn,
                                        it->kind_subst, it->wmax);
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
    const mfloat spread = sqrtf(it->r_Mean2VAD - it->r_MeanVAD * it->r_MeanVAD);
    const mfloat Threshold = spread * 4.0f + (it->r_MeanVAD + 0.01f);
    return Result > Threshold ? 1 : 0;
}

int8 VAD_State(TSpectSubtract *it, const float *psdX, mfloat pNn, mfloat pMn) {
    track_noise_floor(it, psdX, pNn);
    a_posteriori_snr(it);
    return decide_speech(it, estimate_clean_spectrum(it, psdX, pMn));
}

// The slow mean spectra (the speech mean in speech frames only), then the
// gain the next frame applies.
void update_means_and_gain(TSpectSubtract *it) {
    Nr_Kernels()->mean_spectra_and_gain(it->psdN, it->psdNmean, it->psdX, it->psdSmean, it->psdS,
                                        it->Hn, it->pNn, it->pMn, it->stateVad == 1,
                                        it->kind_subst > 0, it->wmax);
}

void output_magnitude(TSpectSubtract *it, int8 ActiveSig) {
    const float *src = ActiveSig == 0 ? it->psdN : it->kind_subst != 0 ? it->arS : it->psdS;
    __builtin_memcpy(it->psdX, src, it->wmax * sizeof(float));
}

// -------------------------------------------------------------- synthesis

void polar_to_packed(TSpectSubtract *it) {
    FFTnRC_RF2fftbuf(&it->FFTnRC, it->psdX, it->phasa, it->buff);
}

void transform_inverse(TSpectSubtract *it) { FFTnRC_fft(&it->FFTnRC, it->buff, -1); }

void scale_frame(TSpectSubtract *it) {
    Nr_Kernels()->divide(it->buff, it->len, it->div_step + it->div_step);
}

void overlap_add(TSpectSubtract *it) {
    Nr_Kernels()->overlap_add(it->buff, it->buffPrev + it->lenHalf, it->len - it->lenHalf);
    __builtin_memcpy(it->buffPrev, it->buff, it->len * sizeof(float));
}

// Inverse of the pre-emphasis, recursing on the saturated 16-bit output.
void de_emphasise(TSpectSubtract *it, int16 *outS) {
    it->de_emphasis = Nr_Kernels()->de_emphasise(it->buff, it->de_emphasis, outS, it->lenHalf);
}

void map_parameters(TSpectSubtract *it, int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    it->kind_subst = kind_subst;
    if (pSdb >= 0.0f) {
        it->pSn = 0.0f;
    } else {
        const mfloat exponent = pSdb * 0.05f * 2.3025851f;
        it->pSn = 1.0f - Nr_Exp(exponent);  // the same bits with any C library
    }
    it->pNn = pNn;
    it->pMn = pMn;
}

// ------------------------------------------------------------ entry points
// Each entry point that computes runs its work in the IEEE default
// floating-point environment, whatever the caller has set (fpenv.h).

NR_NOINLINE void init(TSpectSubtract *it, uint32 SampleRate, int8 kind_subst, mfloat pSdb,
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
    it->nearSilence = 0;
}

NR_NOINLINE void reset(TSpectSubtract *it, int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    map_parameters(it, kind_subst, pSdb, pNn, pMn);
}

NR_NOINLINE void analyse(TSpectSubtract *it, const int16 *inpS) {
    if (!geometry_valid(it)) return;
    shift_frame(it, inpS);
    emphasise_and_window(it);
    transform_forward(it);
    take_magnitude_and_phase(it);
    mark_near_silence(it);
}

NR_NOINLINE void estimate(TSpectSubtract *it, int8 ActiveSig) {
    if (!geometry_valid(it)) return;
    if (digital_silence(it)) {
        it->stateVad = 0;  // psdX, all zeros, is the output
        return;
    }
    if (it->nearSilence) {
        it->stateVad = 0;
        rest_at_limit(it);
        return;
    }
    split_by_gain(it);
    it->stateVad = VAD_State(it, it->psdS, it->pNn, it->pMn);
    update_means_and_gain(it);
    output_magnitude(it, ActiveSig);
}

NR_NOINLINE void frame(TSpectSubtract *it, int8 ActiveSig, const int16 *inpS) {
    analyse(it, inpS);
    estimate(it, ActiveSig);
}

NR_NOINLINE void equalize(TSpectSubtract *it, int32 sizeMulAm, const mfloat *MulAm) {
    // Fewer than one gain would index before the table.
    if (!geometry_valid(it) || sizeMulAm < 1) return;
    const uint32 last_gain = static_cast<uint32>(sizeMulAm - 1);
    const uint32 last_bin = it->wmax - 1;
    for (uint32 w = 0; w < it->wmax; ++w) {
        const uint32 w_res = (w * last_gain) / last_bin;
        it->psdX[w] = (MulAm[w_res] + 1e-20f) * it->psdX[w];
    }
}

NR_NOINLINE void restore(TSpectSubtract *it, int16 *outS) {
    if (!geometry_valid(it)) return;
    polar_to_packed(it);
    transform_inverse(it);
    scale_frame(it);
    overlap_add(it);
    de_emphasise(it, outS);
}

}  // namespace

extern "C" {

void SpectSubtract_Init(TSpectSubtract *it, uint32 SampleRate, int8 kind_subst, mfloat pSdb,
                        mfloat pNn, mfloat pMn) {
    nr::exact(init, it, SampleRate, kind_subst, pSdb, pNn, pMn);
}

void SpectSubtract_Reset(TSpectSubtract *it, int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    nr::exact(reset, it, kind_subst, pSdb, pNn, pMn);
}

void SpectSubtract_Destroyed(TSpectSubtract *it) {
    it->SampleRate = 0;
    it->lenHalf = 0;
    it->wmax = 0;
    FFTnRC_Destroyed(&it->FFTnRC);
}

void SpectSubtract_Frame(TSpectSubtract *it, int8 ActiveSig, const int16 *inpS) {
    nr::exact(frame, it, ActiveSig, inpS);
}

void SpectSubtract_Analyse(TSpectSubtract *it, const int16 *inpS) { nr::exact(analyse, it, inpS); }

void SpectSubtract_Estimate(TSpectSubtract *it, int8 ActiveSig) {
    nr::exact(estimate, it, ActiveSig);
}

void SpectSubtract_Equalizer(TSpectSubtract *it, int32 sizeMulAm, const mfloat *MulAm) {
    nr::exact(equalize, it, sizeMulAm, MulAm);
}

void SpectSubtract_Restore(TSpectSubtract *it, int16 *outS) { nr::exact(restore, it, outS); }

// Copies: no arithmetic, so no environment to set.
void vCpy(mfloat *r, const mfloat *x, uint32 j) {
    for (uint32 i = 0; i < j; ++i) r[i] = x[i];
}

void CopyMem16i(const int16 *s, int16 *d, uint32 len, uint32 interleave) {
    for (uint32 k = 0; k < len; ++k) d[k * interleave] = s[k * interleave];
}

}  // extern "C"
