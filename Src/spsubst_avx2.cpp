// AVX2 versions of the suppressor's per-bin loops. The arithmetic is written
// with the vector types' operators, one line per line of the plain code in
// spsubst.cpp and with the same operands in the same order; branches become
// blends of both outcomes, with comparisons that treat a NaN as the plain
// comparison does. Sums over bins stay sequential.
#include "spsubst_avx2.h"

#include "simd.h"

#if SIMD_HAVE_AVX2_BUILD

#include <immintrin.h>

#include "spsubst_tables.h"

namespace {

const uint32 kLanes = 8;

SIMD_AVX2 inline __m256 load(const float *p) { return _mm256_loadu_ps(p); }
SIMD_AVX2 inline void store(float *p, __m256 v) { _mm256_storeu_ps(p, v); }
SIMD_AVX2 inline __m256 splat(float v) { return _mm256_set1_ps(v); }
// mask ? a : b, lane by lane.
SIMD_AVX2 inline __m256 select(__m256 mask, __m256 a, __m256 b) {
    return _mm256_blendv_ps(b, a, mask);
}
SIMD_AVX2 inline __m256 greater(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
SIMD_AVX2 inline __m256 equal(__m256 a, __m256 b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
SIMD_AVX2 inline __m256 is_inf(__m256 x) {
    return equal(_mm256_andnot_ps(splat(-0.0f), x), splat(__builtin_inff()));
}
// a < b ? a : b, and so b when either is a NaN.
SIMD_AVX2 inline __m256 min_of(__m256 a, __m256 b) { return _mm256_min_ps(a, b); }

// Whether |x| <= limit in every lane (a NaN is not).
SIMD_AVX2 inline bool all_below(__m256 x, float limit) {
    const __m256 in = _mm256_cmp_ps(_mm256_andnot_ps(splat(-0.0f), x), splat(limit), _CMP_LE_OQ);
    return _mm256_movemask_ps(in) == 0xFF;
}
SIMD_AVX2 inline bool all_ordered(__m256 x) {
    return _mm256_movemask_ps(_mm256_cmp_ps(x, x, _CMP_ORD_Q)) == 0xFF;
}

// g > 1 ? 1 : g
SIMD_AVX2 inline __m256 limit_to_one(__m256 g) {
    return select(greater(g, splat(1.0f)), splat(1.0f), g);
}

// isinf(x) ? 1 : x / (x + 1)
SIMD_AVX2 inline __m256 ratio_to_gain(__m256 x) {
    return select(is_inf(x), splat(1.0f), x / (x + 1.0f));
}

}  // namespace

extern "C" {

SIMD_AVX2 uint32 SpectSubtractAvx2_pre_emphasise(TSpectSubtract *it) {
    const int16 *x = it->frameMic;
    uint32 j = 1;
    for (; j + kLanes <= it->len; j += kLanes) {
        const __m256 before = _mm256_cvtepi32_ps(
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(x + j - 1))));
        const __m256 now = _mm256_cvtepi32_ps(
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(x + j))));
        store(it->buff + j, before * -0.8f + now);
    }
    return j;
}

SIMD_AVX2 uint32 SpectSubtractAvx2_apply_window(TSpectSubtract *it) {
    const float *win = winTable32f + it->offset_wn;
    uint32 j = 0;
    for (; j + kLanes <= it->len; j += kLanes)
        store(it->buff + j, load(it->buff + j) * load(win + j));
    return j;
}

// Division by 1, the divisor of every geometry, leaves every value as it is
// (a NaN from arithmetic is already quiet).
SIMD_AVX2 uint32 SpectSubtractAvx2_scale_frame(TSpectSubtract *it, mfloat divisor) {
    if (divisor == 1.0f) return it->len;
    uint32 j = 0;
    for (; j + kLanes <= it->len; j += kLanes) store(it->buff + j, load(it->buff + j) / divisor);
    return j;
}

SIMD_AVX2 uint32 SpectSubtractAvx2_overlap_add(TSpectSubtract *it) {
    const float *tail = it->buffPrev + it->lenHalf;
    uint32 j = 0;
    for (; j + kLanes <= it->len - it->lenHalf; j += kLanes)
        store(it->buff + j, load(it->buff + j) + load(tail + j));
    return j;
}

// The recursion runs through every sample, so its latency is what counts:
// the previous output stays a float (an integer in [-32767, 32767], or a
// zero of either sign, which only ever meets the next sample as a zero) and
// is truncated with roundss instead of going through integer conversions;
// the rare saturation is a branch off that path.
SIMD_AVX2 void SpectSubtractAvx2_de_emphasise(TSpectSubtract *it, int16 *outS) {
    const __m128 coef = _mm_set_ss(0.8f);
    __m128 prev = _mm_set_ss(static_cast<float>(it->de_emphasis));
    for (uint32 j = 0; j < it->lenHalf; ++j) {
        const __m128 v = _mm_add_ss(_mm_mul_ss(prev, coef), _mm_load_ss(it->buff + j));
        const float value = _mm_cvtss_f32(v);
        if (value > -32767.0f && value < 32767.0f)
            prev = _mm_round_ss(v, v, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        else if (value != value)
            prev = _mm_setzero_ps();
        else
            prev = _mm_set_ss(value > 0.0f ? 32767.0f : -32767.0f);
        outS[j] = static_cast<int16>(_mm_cvttss_si32(prev));
    }
    it->de_emphasis = static_cast<int16>(_mm_cvttss_si32(prev));
}

SIMD_AVX2 uint32 SpectSubtractAvx2_split_by_gain(TSpectSubtract *it) {
    const __m256 pSn = splat(it->pSn);
    uint32 w = 0;
    for (; w + kLanes <= it->wmax; w += kLanes) {
        const __m256 X = load(it->psdX + w), N = load(it->Hn + w) * X;
        store(it->psdN + w, N);
        store(it->psdS + w, X - N * pSn);
    }
    return w;
}

// The left neighbours are the block itself moved up one bin, with the input
// value carried from the block before (the output may already cover it).
SIMD_AVX2 uint32 SpectSubtractAvx2_smooth(const float *A, float *B, uint32 n, float *T1) {
    const __m256i up_one = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
    __m256 before = _mm256_set1_ps(*T1);  // lane 7: the input value of bin w - 1
    uint32 w = 1;
    for (; w + kLanes + 1 <= n; w += kLanes) {
        const __m256 mid = load(A + w), right = load(A + w + 1);
        const __m256 left = _mm256_blend_ps(_mm256_permutevar8x32_ps(mid, up_one),
                                            _mm256_permutevar8x32_ps(before, up_one), 0x01);
        store(B + w, (left + right) * 0.25f + mid * 0.5f);
        before = mid;
    }
    *T1 = _mm256_cvtss_f32(_mm256_permutevar8x32_ps(before, _mm256_set1_epi32(7)));
    return w;
}

SIMD_AVX2 uint32 SpectSubtractAvx2_track_noise_floor(TSpectSubtract *it, const float *psd,
                                                     mfloat pNn, int boundary) {
    const __m256 nn = splat(pNn), rate = splat(1.0f - pNn);
    uint32 w = 0;
    for (; w + kLanes <= it->wmax; w += kLanes) {
        const __m256 x = load(it->arX0 + w) * 0.25f + load(it->arX + w) * 0.75f;
        store(it->arX + w, x);
        __m256 xmin;
        if (boundary) {
            xmin = min_of(load(it->arXtmp + w), x);
            store(it->arXtmp + w, x);
        } else {
            xmin = min_of(x, load(it->arXmin + w));
            store(it->arXtmp + w, min_of(x, load(it->arXtmp + w)));
        }
        store(it->arXmin + w, xmin);
        __m256 prob = load(it->arPROB + w) * 0.25f;
        prob = select(greater(x / (xmin + 1e-30f), splat(2.25f)), prob + 0.75f, prob);
        store(it->arPROB + w, prob);
        const __m256 SpeechPresence = prob * rate + nn;
        store(it->arN + w,
              (1.0f - SpeechPresence) * load(psd + w) + load(it->arN + w) * SpeechPresence);
    }
    return w;
}

SIMD_AVX2 uint32 SpectSubtractAvx2_a_posteriori_snr(TSpectSubtract *it, const float *psd) {
    uint32 w = 0;
    for (; w + kLanes <= it->wmax; w += kLanes) {
        const __m256 s = load(psd + w), n = load(it->arN + w);
        store(it->arPost + w, (s * s) / (n * n + 1e-20f));
    }
    return w;
}

SIMD_AVX2 uint32 SpectSubtractAvx2_estimate_clean_spectrum(TSpectSubtract *it, const float *psd,
                                                           mfloat pMn, mfloat *Result) {
    const __m256 mn = splat(pMn), pSn = splat(it->pSn);
    const int8 kind = it->kind_subst;
    float term[SPSUBST_MAX_BINS];
    uint32 w = 0;
    for (; w + kLanes <= it->wmax; w += kLanes) {
        const __m256 arN = load(it->arN + w), arS = load(it->arS + w), post = load(it->arPost + w);
        const __m256 S = load(psd + w);
        // a_priori_snr: a zero noise power gives 0 (a NaN one does not).
        const __m256 noise2 = arN * arN;
        const __m256 prio = select(_mm256_cmp_ps(noise2, _mm256_setzero_ps(), _CMP_NEQ_UQ),
                                   (arS * (mn * arS)) / noise2, _mm256_setzero_ps());
        const __m256 P = select(greater(post, splat(1.0f)), post - 1.0f, _mm256_setzero_ps());
        const __m256 arPrio = P * (1.0f - pMn) + prio;
        const __m256 arHn = limit_to_one(ratio_to_gain(arPrio));
        __m256 clean, stat;
        switch (kind) {
            case 1:
                clean = S - arN * (arHn * pSn);
                stat = arHn * post - (arPrio + 0.2f) * 0.2f;
                break;
            case 2:
                clean = arN * (1.0f - it->pSn) + arHn * S;
                stat = arHn * post - (arPrio + 0.15f) * 0.15f;
                break;
            default:
                clean = arHn * S;
                stat = arHn * (post - 1.0f);
                break;
        }
        store(it->arS + w, clean);
        store(term + w, stat);
    }
    mfloat sum = *Result;
    for (uint32 v = 9; v < w; ++v) sum = sum + term[v];
    *Result = sum;
    return w;
}

SIMD_AVX2 uint32 SpectSubtractAvx2_update_noise_mean(TSpectSubtract *it) {
    const mfloat pNn = it->pNn, rate = 1.0f - pNn;
    uint32 w = 0;
    for (; w + kLanes <= it->wmax; w += kLanes)
        store(it->psdNmean + w, load(it->psdN + w) * rate + load(it->psdNmean + w) * pNn);
    return w;
}

SIMD_AVX2 uint32 SpectSubtractAvx2_update_speech_mean(TSpectSubtract *it) {
    uint32 w = 0;
    for (; w + kLanes <= it->wmax; w += kLanes)
        store(it->psdSmean + w, load(it->psdX + w) - load(it->psdNmean + w));
    return w;
}

// After a long silence the mean noise spectrum sits on subnormal numbers,
// whose arithmetic can be slow. Below 2^-75 its square mN2 rounds to +0, and
// then both rules give +0 unless a NaN takes part: the ratio rule
// sqrt(+0 / mS2) (or 0 where mS2 is 0), the decision-directed one
// sqrt(xi / (xi + 1)) with xi = (1 - pMn) (+0) + (pMn (+0)) / (mS2 + 1e-20)
// = +0 for any finite pMn (the two products are never both -0). Such blocks
// take +0 directly.
SIMD_AVX2 uint32 SpectSubtractAvx2_next_frame_gain(TSpectSubtract *it) {
    const mfloat pMn = it->pMn;
    const __m256 zero = _mm256_setzero_ps();
    const bool ratio_rule = it->kind_subst > 0, finite_pMn = pMn - pMn == 0.0f;
    uint32 w = 0;
    for (; w + kLanes <= it->wmax; w += kLanes) {
        const __m256 Nm = load(it->psdNmean + w), Sm = load(it->psdSmean + w);
        const __m256 S = load(it->psdS + w);
        __m256 g;
        if (all_below(Nm, 0x1p-75f) && all_ordered(Sm) &&
            (ratio_rule || (finite_pMn && all_ordered(S)))) {
            g = zero;
        } else {
            const __m256 mN2 = Nm * Nm, mS2 = Sm * Sm;
            if (ratio_rule) {
                // ratio_gain: 0 where both powers are 0.
                const __m256 sum = mS2 + mN2;
                g = select(equal(sum, zero), zero, limit_to_one(_mm256_sqrt_ps(mN2 / sum)));
            } else {
                // decision_directed_gain
                const __m256 S2 = S * S;
                const __m256 tmp = select(equal(S2, zero), zero, mN2 / S2);
                const __m256 xi = (1.0f - pMn) * tmp + (pMn * mN2) / (mS2 + 1e-20f);
                g = limit_to_one(_mm256_sqrt_ps(ratio_to_gain(xi)));
            }
        }
        store(it->Hn + w, g);
    }
    return w;
}

}  // extern "C"

#else  // No AVX2 build: Simd_Avx2() is 0 and nothing here is called.

extern "C" {
uint32 SpectSubtractAvx2_pre_emphasise(TSpectSubtract *) { return 1; }
uint32 SpectSubtractAvx2_apply_window(TSpectSubtract *) { return 0; }
uint32 SpectSubtractAvx2_scale_frame(TSpectSubtract *, mfloat) { return 0; }
uint32 SpectSubtractAvx2_overlap_add(TSpectSubtract *) { return 0; }
void SpectSubtractAvx2_de_emphasise(TSpectSubtract *, int16 *) {}
uint32 SpectSubtractAvx2_split_by_gain(TSpectSubtract *) { return 0; }
uint32 SpectSubtractAvx2_smooth(const float *, float *, uint32, float *) { return 1; }
uint32 SpectSubtractAvx2_track_noise_floor(TSpectSubtract *, const float *, mfloat, int) {
    return 0;
}
uint32 SpectSubtractAvx2_a_posteriori_snr(TSpectSubtract *, const float *) { return 0; }
uint32 SpectSubtractAvx2_estimate_clean_spectrum(TSpectSubtract *, const float *, mfloat,
                                                 mfloat *) {
    return 0;
}
uint32 SpectSubtractAvx2_update_noise_mean(TSpectSubtract *) { return 0; }
uint32 SpectSubtractAvx2_update_speech_mean(TSpectSubtract *) { return 0; }
uint32 SpectSubtractAvx2_next_frame_gain(TSpectSubtract *) { return 0; }
}

#endif
