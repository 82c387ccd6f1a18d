// AVX2 versions of the FFT's hot loops. Every value is produced by the same
// IEEE operations on the same operands as in FFTnrc.cpp, several values at a
// time. Only rewritings that IEEE arithmetic makes exact are used: a + b is
// b + a, a * b is b * a, x - y is x + (-y), and -(a * b) is a * (-b); never a
// reassociated sum, and never a fused multiply-add (the target has no FMA).
// (Of two NaN operands, a swapped operation may pass on the other one; a
// NaN's sign and payload never reach an output sample.)
//
// The transcendental functions of the conversions must give what the C
// library's double function, rounded to float, gives. Here a double kernel
// whose relative error is far below kDecideMargin evaluates them; where the
// result lies within kDecideMargin of a point where rounding to float flips,
// the lane is recomputed by the C library instead. Everywhere else both the
// exact value and the library's value (within one double ulp of it) round to
// the same float as the kernel's. bench/exhaustive_trig.cpp checks this on
// every float input.
#include "FFTnrc_avx2.h"

#include "simd.h"

#if SIMD_HAVE_AVX2_BUILD

#include <immintrin.h>

#include <cmath>
#include <cstring>

#include "FFTnrc_tables.h"

namespace {

// ------------------------------------------------------------- helpers

SIMD_AVX2 inline __m256 sign_bits(int e0, int e1, int e2, int e3, int e4, int e5, int e6, int e7) {
    const int s = static_cast<int>(0x80000000u);
    return _mm256_castsi256_ps(_mm256_setr_epi32(e0 ? s : 0, e1 ? s : 0, e2 ? s : 0, e3 ? s : 0,
                                                 e4 ? s : 0, e5 ? s : 0, e6 ? s : 0, e7 ? s : 0));
}

// Complex point k of q (two floats) in the low half of a register.
SIMD_AVX2 inline __m128i load_point(const mfloat *q, uint32 k) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(q + 2 * k));
}

SIMD_AVX2 inline __m256 four_points(const mfloat *q, uint32 a, uint32 b, uint32 c, uint32 d) {
    const __m128i lo = _mm_unpacklo_epi64(load_point(q, a), load_point(q, b));
    const __m128i hi = _mm_unpacklo_epi64(load_point(q, c), load_point(q, d));
    return _mm256_castsi256_ps(_mm256_set_m128i(hi, lo));
}

// The four complex points of x in reverse order.
SIMD_AVX2 inline __m256 reverse_points(__m256 x) {
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(x), _MM_SHUFFLE(0, 1, 2, 3)));
}

// rev(g + 1) from rev(g), for indices below the power of two `size`: the
// increment carries from the top bit down.
uint32 reversed_increment(uint32 r, uint32 size) {
    uint32 bit = size >> 1;
    while (r & bit) {
        r ^= bit;
        bit >>= 1;
    }
    return r | bit;
}

// ------------------------------------------------------- complex stages

// Span of 1 point: (a, b) -> (a + b, a - b) for the two point pairs.
SIMD_AVX2 inline __m256 span1(__m256 x) {
    const __m256 a = _mm256_permute_ps(x, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 b = _mm256_permute_ps(x, _MM_SHUFFLE(3, 2, 3, 2));
    return _mm256_blend_ps(_mm256_add_ps(a, b), _mm256_sub_ps(a, b), 0xCC);
}

// Span of 2 points, r0 .. r7: the upper pair, (r4, r5) times 1 and (r6, r7)
// times -j = (r7, -r6), added to and subtracted from the lower pair.
SIMD_AVX2 inline __m256 span2(__m256 x) {
    const __m256 lo = _mm256_permute2f128_ps(x, x, 0x00);
    const __m256 hi = _mm256_permute2f128_ps(x, x, 0x11);
    const __m256 t = _mm256_xor_ps(_mm256_permute_ps(hi, _MM_SHUFFLE(2, 3, 1, 0)),
                                   sign_bits(0, 0, 0, 1, 0, 0, 0, 1));
    return _mm256_blend_ps(_mm256_add_ps(lo, t), _mm256_sub_ps(lo, t), 0xF0);
}

// Span of 4 points, S0 .. S15 in x0 and x1: the upper half twiddled into
// (S8, S9, tr, ti, S13, -S12, -u, -v) with tr = (S10 + S11) c,
// ti = (S11 - S10) c, u = (S14 - S15) c, v = (S15 + S14) c.
SIMD_AVX2 inline void span4(__m256 *x0, __m256 *x1) {
    const __m256 a = *x1;
    const __m256 b = _mm256_permute_ps(a, _MM_SHUFFLE(2, 3, 0, 1));
    const __m256 m = _mm256_mul_ps(_mm256_blend_ps(_mm256_add_ps(a, b), _mm256_sub_ps(a, b), 0x48),
                                   _mm256_set1_ps(0.70710677f));
    __m256 t = _mm256_blend_ps(a, m, 0xCC);
    t = _mm256_blend_ps(t, b, 0x30);
    t = _mm256_xor_ps(t, sign_bits(0, 0, 0, 0, 0, 1, 1, 1));
    *x1 = _mm256_sub_ps(*x0, t);
    *x0 = _mm256_add_ps(*x0, t);
}

// Bit reversal and the three table-free stages in one pass: each group of
// 8 points is gathered from its bit-reversed places in a copy of p, and the
// spans of 1, 2 and 4 points are taken in registers.
SIMD_AVX2 void reverse_and_first_stages(mfloat *p, uint32 n) {
    const uint32 stride = n / 16;  // points / 8
    alignas(32) mfloat q[2048];
    std::memcpy(q, p, n * sizeof(mfloat));
    uint32 b = 0;  // g with its bits (those below stride) reversed
    for (uint32 g = 0; g < stride; ++g, b = reversed_increment(b, stride)) {
        // Point 8 g + i comes from rev(g) + rev3(i) stride.
        __m256 x0 = four_points(q, b, b + 4 * stride, b + 2 * stride, b + 6 * stride);
        __m256 x1 = four_points(q, b + stride, b + 5 * stride, b + 3 * stride, b + 7 * stride);
        x0 = span2(span1(x0));
        x1 = span2(span1(x1));
        span4(&x0, &x1);
        _mm256_storeu_ps(p + 16 * g, x0);
        _mm256_storeu_ps(p + 16 * g + 8, x1);
    }
}

uint32 stage_table_start(uint32 n) {
    uint32 start = 0;
    for (uint32 size = 256; size < n; size *= 2) start += size - 16;
    return start;
}

// Four butterflies of a stage with spans of 8 points or more: for a point
// (c, d) of the upper half, t = (c wr + d wi, d wr + c (-wi)); the lower half
// becomes lo + t, the upper lo - t.
SIMD_AVX2 inline void butterflies(__m256 *lo, __m256 *hi, const mfloat *wr, const mfloat *wi) {
    const __m256 y = *hi;
    const __m256 swapped = _mm256_permute_ps(y, _MM_SHUFFLE(2, 3, 0, 1));
    const __m256 t = _mm256_add_ps(_mm256_mul_ps(y, _mm256_loadu_ps(wr)),
                                   _mm256_mul_ps(swapped, _mm256_loadu_ps(wi)));
    *hi = _mm256_sub_ps(*lo, t);
    *lo = _mm256_add_ps(*lo, t);
}

// The stages with spans of 8 points and more (mmax floats), two at a time
// while two are left: the four vectors that a butterfly of the second stage
// pairs go through the first stage's two butterflies and then the second's,
// so every float sees the same operations as stage after stage.
SIMD_AVX2 void general_stages(mfloat *p, uint32 n) {
    const mfloat *wr = m_arStageCos32f + stage_table_start(n);
    const mfloat *wi = m_arStageSin32f + stage_table_start(n);
    uint32 mmax = 16;
    for (; 4 * mmax <= n; mmax *= 4) {
        const uint32 first = mmax - 16, second = 2 * mmax - 16;  // their tables
        for (uint32 g = 0; g < n; g += 4 * mmax) {
            for (uint32 j = 0; j < mmax; j += 8) {
                mfloat *a = p + g + j;
                __m256 x0 = _mm256_loadu_ps(a), x1 = _mm256_loadu_ps(a + mmax);
                __m256 x2 = _mm256_loadu_ps(a + 2 * mmax), x3 = _mm256_loadu_ps(a + 3 * mmax);
                butterflies(&x0, &x1, wr + first + j, wi + first + j);
                butterflies(&x2, &x3, wr + first + j, wi + first + j);
                butterflies(&x0, &x2, wr + second + j, wi + second + j);
                butterflies(&x1, &x3, wr + second + mmax + j, wi + second + mmax + j);
                _mm256_storeu_ps(a, x0);
                _mm256_storeu_ps(a + mmax, x1);
                _mm256_storeu_ps(a + 2 * mmax, x2);
                _mm256_storeu_ps(a + 3 * mmax, x3);
            }
        }
    }
    if (mmax < n) {
        const uint32 last = mmax - 16;
        for (uint32 j = 0; j < mmax; j += 8) {  // one group: 2 mmax = n
            __m256 x0 = _mm256_loadu_ps(p + j), x1 = _mm256_loadu_ps(p + mmax + j);
            butterflies(&x0, &x1, wr + last + j, wi + last + j);
            _mm256_storeu_ps(p + j, x0);
            _mm256_storeu_ps(p + mmax + j, x1);
        }
    }
}

// ------------------------------------------- transcendental functions

// Relative distance from the kernel's result within which the rounding to
// float is left to the C library. The kernels' own relative errors are
// below 2^-44; the library's are below 2^-52.
const double kDecideMargin = 0x1p-36;

// Lanes (bits of the result) whose rounding to float is not decided.
SIMD_AVX2 inline int undecided(__m256d y) {
    const __m256d d =
        _mm256_mul_pd(_mm256_andnot_pd(_mm256_set1_pd(-0.0), y), _mm256_set1_pd(kDecideMargin));
    const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(y, d));
    const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(y, d));
    return _mm_movemask_ps(_mm_cmpneq_ps(lo, hi));  // also every NaN lane
}

// atan(j / 16), j = 0 .. 16, rounded to double.
alignas(32) const double kAtanSixteenths[17] = {
    0.0,
    0x1.ff55bb72cfdeap-5,
    0x1.fd5ba9aac2f6ep-4,
    0x1.7b97b4bce5b02p-3,
    0x1.f5b75f92c80ddp-3,
    0x1.362773707ebccp-2,
    0x1.6f61941e4def1p-2,
    0x1.a64eec3cc23fdp-2,
    0x1.dac670561bb4fp-2,
    0x1.0657e94db30d0p-1,
    0x1.1e00babdefeb4p-1,
    0x1.345f01cce37bbp-1,
    0x1.4978fa3269ee1p-1,
    0x1.5d58987169b18p-1,
    0x1.700a7c5784634p-1,
    0x1.819d0b7158a4dp-1,
    0x1.921fb54442d18p-1,
};
const double kHalfPi = 0x1.921fb54442d18p+0;

// atan(x) in double for the four floats of x, relative error below 2^-48.
// With z = |x|, or 1/|x| where |x| > 1 (atan |x| = pi/2 - atan z), and
// c = j / 16 next to z, atan z = atan c + atan u with u = (z - c) / (1 + z c),
// taken as (1 - |x| c) / (|x| + c) in the second case so that one division
// does. j may come from a rough 1/|x|: |u| stays below 0.0316, where the
// series up to u^9 leaves less than 2^-53 relative.
SIMD_AVX2 inline __m256d atan_pd(__m128 x) {
    const __m256d sign = _mm256_set1_pd(-0.0), one = _mm256_set1_pd(1.0);
    const __m256d t = _mm256_cvtps_pd(x);
    const __m256d a = _mm256_andnot_pd(sign, t);
    const __m128 af = _mm_andnot_ps(_mm_set1_ps(-0.0f), x);
    const __m128 inverted_f = _mm_cmpgt_ps(af, _mm_set1_ps(1.0f));
    const __m256d inverted = _mm256_cmp_pd(a, one, _CMP_GT_OQ);
    const __m256d z_rough = _mm256_cvtps_pd(_mm_blendv_ps(af, _mm_rcp_ps(af), inverted_f));
    // A NaN lane takes the last entry (min keeps its second operand).
    const __m256d j = _mm256_min_pd(_mm256_round_pd(_mm256_mul_pd(z_rough, _mm256_set1_pd(16.0)),
                                                    _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC),
                                    _mm256_set1_pd(16.0));
    const __m256d c = _mm256_mul_pd(j, _mm256_set1_pd(0.0625));
    const __m256d ac = _mm256_mul_pd(a, c);
    const __m256d num = _mm256_blendv_pd(_mm256_sub_pd(a, c), _mm256_sub_pd(one, ac), inverted);
    const __m256d den = _mm256_blendv_pd(_mm256_add_pd(one, ac), _mm256_add_pd(a, c), inverted);
    const __m256d u = _mm256_div_pd(num, den);
    const __m256d u2 = _mm256_mul_pd(u, u);
    __m256d s = _mm256_set1_pd(1.0 / 9.0);
    s = _mm256_add_pd(_mm256_set1_pd(-1.0 / 7.0), _mm256_mul_pd(u2, s));
    s = _mm256_add_pd(_mm256_set1_pd(1.0 / 5.0), _mm256_mul_pd(u2, s));
    s = _mm256_add_pd(_mm256_set1_pd(-1.0 / 3.0), _mm256_mul_pd(u2, s));
    const __m256d atan_u = _mm256_add_pd(u, _mm256_mul_pd(u, _mm256_mul_pd(u2, s)));
    const __m256d atan_c =
        _mm256_mask_i32gather_pd(_mm256_setzero_pd(), kAtanSixteenths, _mm256_cvtpd_epi32(j),
                                 _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), 8);
    __m256d r = _mm256_add_pd(atan_c, atan_u);
    r = _mm256_blendv_pd(r, _mm256_sub_pd(_mm256_set1_pd(kHalfPi), r), inverted);
    return _mm256_or_pd(r, _mm256_and_pd(t, sign));
}

// cos(x) and sin(x) in double for |x| <= 8, relative errors below 2^-44;
// returns the lanes outside that range. x = k pi/2 + r with |r| <= pi/4,
// r taken with pi/2 in two parts (k pio2_1 is exact, and so is
// x - k pio2_1); no float within that range lies closer than 1.1e-8 to a
// multiple of pi/2, so r keeps its relative accuracy. Taylor series up to
// r^13 (sine) and r^14 (cosine) leave less than 2^-45 and 2^-49.
SIMD_AVX2 inline int sincos_pd(__m256d x, __m256d *c, __m256d *s) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d in_range =
        _mm256_cmp_pd(_mm256_andnot_pd(sign, x), _mm256_set1_pd(8.0), _CMP_LE_OQ);
    const int outside = ~_mm256_movemask_pd(in_range) & 0xF;
    // k = x 2/pi rounded to an integer by adding 1.5 2^52, which leaves k in
    // the low bits of `shifted`; k = 0 comes out as +0, so that x - k pio2_1
    // keeps the sign of a zero x.
    const __m256d magic = _mm256_set1_pd(0x1.8p52);
    const __m256d shifted =
        _mm256_add_pd(_mm256_mul_pd(x, _mm256_set1_pd(0x1.45f306dc9c883p-1)), magic);
    const __m256d k = _mm256_sub_pd(shifted, magic);
    const __m256d r =
        _mm256_sub_pd(_mm256_sub_pd(x, _mm256_mul_pd(k, _mm256_set1_pd(0x1.921fb544p+0))),
                      _mm256_mul_pd(k, _mm256_set1_pd(0x1.0b4611a626331p-34)));
    const __m256d r2 = _mm256_mul_pd(r, r);
    __m256d ps = _mm256_set1_pd(1.0 / 6227020800.0);
    ps = _mm256_add_pd(_mm256_set1_pd(-1.0 / 39916800.0), _mm256_mul_pd(r2, ps));
    ps = _mm256_add_pd(_mm256_set1_pd(1.0 / 362880.0), _mm256_mul_pd(r2, ps));
    ps = _mm256_add_pd(_mm256_set1_pd(-1.0 / 5040.0), _mm256_mul_pd(r2, ps));
    ps = _mm256_add_pd(_mm256_set1_pd(1.0 / 120.0), _mm256_mul_pd(r2, ps));
    ps = _mm256_add_pd(_mm256_set1_pd(-1.0 / 6.0), _mm256_mul_pd(r2, ps));
    // r (1 + r^2 ps) keeps the sign of a zero r.
    const __m256d sin_r =
        _mm256_mul_pd(r, _mm256_add_pd(_mm256_set1_pd(1.0), _mm256_mul_pd(r2, ps)));
    __m256d pc = _mm256_set1_pd(-1.0 / 87178291200.0);
    pc = _mm256_add_pd(_mm256_set1_pd(1.0 / 479001600.0), _mm256_mul_pd(r2, pc));
    pc = _mm256_add_pd(_mm256_set1_pd(-1.0 / 3628800.0), _mm256_mul_pd(r2, pc));
    pc = _mm256_add_pd(_mm256_set1_pd(1.0 / 40320.0), _mm256_mul_pd(r2, pc));
    pc = _mm256_add_pd(_mm256_set1_pd(-1.0 / 720.0), _mm256_mul_pd(r2, pc));
    pc = _mm256_add_pd(_mm256_set1_pd(1.0 / 24.0), _mm256_mul_pd(r2, pc));
    pc = _mm256_add_pd(_mm256_set1_pd(-0.5), _mm256_mul_pd(r2, pc));
    const __m256d cos_r = _mm256_add_pd(_mm256_set1_pd(1.0), _mm256_mul_pd(r2, pc));
    // Quadrant k mod 4, from the two low bits of k moved to the sign bit: odd
    // quadrants swap sine and cosine; the sine is negative in quadrants 2 and
    // 3 (bit 1 of k), the cosine in 1 and 2 (bit 1 of k + 1).
    const __m256i q = _mm256_castpd_si256(shifted);
    const __m256d odd = _mm256_castsi256_pd(_mm256_slli_epi64(q, 63));
    const __m256d sin_neg = _mm256_castsi256_pd(_mm256_slli_epi64(q, 62));
    const __m256d cos_neg =
        _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_add_epi64(q, _mm256_set1_epi64x(1)), 62));
    *s = _mm256_xor_pd(_mm256_blendv_pd(sin_r, cos_r, odd), _mm256_and_pd(sin_neg, sign));
    *c = _mm256_xor_pd(_mm256_blendv_pd(cos_r, sin_r, odd), _mm256_and_pd(cos_neg, sign));
    return outside;
}

// (float) atan((double) x) for the four floats of x; *redone counts the
// lanes left to the C library.
SIMD_AVX2 inline __m128 atan4(__m128 x, uint32 *redone = nullptr) {
    const __m256d y = atan_pd(x);
    __m128 f = _mm256_cvtpd_ps(y);
    if (const int redo = undecided(y)) {
        if (redone) *redone += static_cast<uint32>(__builtin_popcount(redo));
        alignas(16) float out[4], in[4];
        _mm_store_ps(out, f);
        _mm_store_ps(in, x);
        for (int lane = 0; lane < 4; ++lane)
            if (redo & (1 << lane))
                out[lane] = static_cast<float>(std::atan(static_cast<double>(in[lane])));
        f = _mm_load_ps(out);
    }
    return f;
}

SIMD_AVX2 inline __m256 atan8(__m256 x) {
    return _mm256_set_m128(atan4(_mm256_extractf128_ps(x, 1)), atan4(_mm256_castps256_ps128(x)));
}

// (float) cos((double) x) and (float) sin((double) x) for four floats.
SIMD_AVX2 inline void sincos4(__m128 x, __m128 *c, __m128 *s, uint32 *redone = nullptr) {
    __m256d cd, sd;
    const int redo = sincos_pd(_mm256_cvtps_pd(x), &cd, &sd) | undecided(cd) | undecided(sd);
    *c = _mm256_cvtpd_ps(cd);
    *s = _mm256_cvtpd_ps(sd);
    if (redo) {
        if (redone) *redone += static_cast<uint32>(__builtin_popcount(redo));
        alignas(16) float co[4], so[4], in[4];
        _mm_store_ps(co, *c);
        _mm_store_ps(so, *s);
        _mm_store_ps(in, x);
        for (int lane = 0; lane < 4; ++lane) {
            if (redo & (1 << lane)) {
                co[lane] = static_cast<float>(std::cos(static_cast<double>(in[lane])));
                so[lane] = static_cast<float>(std::sin(static_cast<double>(in[lane])));
            }
        }
        *c = _mm_load_ps(co);
        *s = _mm_load_ps(so);
    }
}

SIMD_AVX2 inline void sincos8(__m256 x, __m256 *c, __m256 *s) {
    __m128 c0, s0, c1, s1;
    sincos4(_mm256_castps256_ps128(x), &c0, &s0);
    sincos4(_mm256_extractf128_ps(x, 1), &c1, &s1);
    *c = _mm256_set_m128(c1, c0);
    *s = _mm256_set_m128(s1, s0);
}

// ------------------------------------------------------ conversions

// The phase rule: +-pi/2 on the imaginary axis (-pi/2 at 0), else
// atan(im / re), plus pi for a negative real part.
SIMD_AVX2 inline __m256 phase8(__m256 re, __m256 im) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 on_axis = _mm256_cmp_ps(re, zero, _CMP_EQ_OQ);
    // The quotient's value on the axis is never used; 0 keeps it off the
    // C library's path.
    const __m256 F = atan8(_mm256_blendv_ps(_mm256_div_ps(im, re), zero, on_axis));
    const __m256 axis = _mm256_blendv_ps(_mm256_set1_ps(-1.5707964f), _mm256_set1_ps(1.5707964f),
                                         _mm256_cmp_ps(im, zero, _CMP_GT_OQ));
    const __m256 G = _mm256_blendv_ps(F, axis, on_axis);
    return _mm256_blendv_ps(G, _mm256_add_ps(G, _mm256_set1_ps(3.1415927f)),
                            _mm256_cmp_ps(re, zero, _CMP_LT_OQ));
}

// The conversions take bins 1 .. N/2 - 1 in blocks of eight; the last block
// ends at bin N/2 - 1 and so overlaps the one before, where a bin done twice
// gets the same values twice.
uint32 next_block(uint32 k, uint32 half) {
    if (k + 16 <= half) return k + 8;
    return k + 8 < half ? half - 8 : half;
}

}  // namespace

extern "C" {

SIMD_AVX2 void FFTnRCAvx2_e_minus_jwt(const TFFTnRC *it, mfloat *p) {
    reverse_and_first_stages(p, it->nfft);
    general_stages(p, it->nfft);
}

SIMD_AVX2 uint32 FFTnRCAvx2_split_step(const mfloat *C, mfloat *p, uint32 n, mfloat s) {
    const uint32 quarter = n / 4;
    const __m256 vs = _mm256_set1_ps(s);
    const __m256i up = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
    const __m256i down = _mm256_setr_epi32(3, 3, 2, 2, 1, 1, 0, 0);
    const __m256 flip = _mm256_set1_ps(-0.0f);
    uint32 k = 1;
    // Bins k .. k + 3 and their mirrors, which lie backwards before float n - 2k.
    for (; k + 4 <= quarter; k += 4) {
        const uint32 i = 2 * k, j = n - i - 6;
        const __m256 c1 = _mm256_mul_ps(
            _mm256_permutevar8x32_ps(_mm256_castps128_ps256(_mm_loadu_ps(C + k)), up), vs);
        const __m256 c2 = _mm256_permutevar8x32_ps(
            _mm256_castps128_ps256(_mm_loadu_ps(C + quarter - k - 3)), down);
        const __m256 f = _mm256_loadu_ps(p + i);                  // a, b
        const __m256 m = reverse_points(_mm256_loadu_ps(p + j));  // c, d
        const __m256 sum = _mm256_add_ps(f, m), dif = _mm256_sub_ps(f, m);
        const __m256 apc = _mm256_moveldup_ps(sum), bpd = _mm256_movehdup_ps(sum);
        const __m256 amc = _mm256_moveldup_ps(dif), bmd = _mm256_movehdup_ps(dif);
        const __m256 A = _mm256_sub_ps(_mm256_mul_ps(c1, bpd), _mm256_mul_ps(c2, amc));
        const __m256 B = _mm256_add_ps(_mm256_mul_ps(c1, amc), _mm256_mul_ps(c2, bpd));
        const __m256 front =
            _mm256_blend_ps(_mm256_add_ps(apc, A), _mm256_mul_ps(_mm256_sub_ps(bmd, B), vs), 0xAA);
        const __m256 back =
            _mm256_blend_ps(_mm256_sub_ps(apc, A),
                            _mm256_mul_ps(_mm256_sub_ps(_mm256_xor_ps(bmd, flip), B), vs), 0xAA);
        _mm256_storeu_ps(p + i, front);
        _mm256_storeu_ps(p + j, reverse_points(back));
    }
    return 2 * k;
}

SIMD_AVX2 void FFTnRCAvx2_scale(mfloat *p, uint32 n, mfloat factor, int conjugate) {
    const __m256 flip = conjugate ? sign_bits(0, 1, 0, 1, 0, 1, 0, 1) : _mm256_setzero_ps();
    const __m256 f = _mm256_set1_ps(factor);
    for (uint32 i = 0; i < n; i += 8)
        _mm256_storeu_ps(p + i, _mm256_mul_ps(_mm256_xor_ps(_mm256_loadu_ps(p + i), flip), f));
}

SIMD_AVX2 uint32 FFTnRCAvx2_fftbuf2RF(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R,
                                      mfloat *F) {
    const uint32 half = it->nfft / 2;
    for (uint32 k = 1; k < half; k = next_block(k, half)) {
        const __m256 v0 = _mm256_loadu_ps(fftbuf + 2 * k), v1 = _mm256_loadu_ps(fftbuf + 2 * k + 8);
        const __m256 re = _mm256_castpd_ps(_mm256_permute4x64_pd(
            _mm256_castps_pd(_mm256_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0))),
            _MM_SHUFFLE(3, 1, 2, 0)));
        const __m256 im = _mm256_castpd_ps(_mm256_permute4x64_pd(
            _mm256_castps_pd(_mm256_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1))),
            _MM_SHUFFLE(3, 1, 2, 0)));
        _mm256_storeu_ps(
            R + k, _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(im, im), _mm256_mul_ps(re, re))));
        _mm256_storeu_ps(F + k, phase8(re, im));
    }
    return half;
}

SIMD_AVX2 uint32 FFTnRCAvx2_RF2fftbuf(const TFFTnRC *it, const mfloat *R, const mfloat *F,
                                      mfloat *fftbuf) {
    const uint32 half = it->nfft / 2;
    for (uint32 k = 1; k < half; k = next_block(k, half)) {
        __m256 c, s;
        sincos8(_mm256_loadu_ps(F + k), &c, &s);
        const __m256 r = _mm256_loadu_ps(R + k);
        const __m256 re = _mm256_mul_ps(c, r), im = _mm256_mul_ps(s, r);
        const __m256 lo = _mm256_unpacklo_ps(re, im), hi = _mm256_unpackhi_ps(re, im);
        _mm256_storeu_ps(fftbuf + 2 * k, _mm256_permute2f128_ps(lo, hi, 0x20));
        _mm256_storeu_ps(fftbuf + 2 * k + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
    }
    return half;
}

SIMD_AVX2 uint32 FFTnRCAvx2_atan(const mfloat *x, mfloat *y, uint32 n) {
    uint32 redone = 0;
    for (uint32 i = 0; i < n; i += 4) {
        alignas(16) float in[4] = {0, 0, 0, 0}, out[4];
        const uint32 m = n - i < 4 ? n - i : 4;
        std::memcpy(in, x + i, m * sizeof(float));
        _mm_store_ps(out, atan4(_mm_load_ps(in), &redone));
        std::memcpy(y + i, out, m * sizeof(float));
    }
    return redone;
}

SIMD_AVX2 uint32 FFTnRCAvx2_sincos(const mfloat *x, mfloat *c, mfloat *s, uint32 n) {
    uint32 redone = 0;
    for (uint32 i = 0; i < n; i += 4) {
        alignas(16) float in[4] = {0, 0, 0, 0}, co[4], so[4];
        const uint32 m = n - i < 4 ? n - i : 4;
        std::memcpy(in, x + i, m * sizeof(float));
        __m128 vc, vs;
        sincos4(_mm_load_ps(in), &vc, &vs, &redone);
        _mm_store_ps(co, vc);
        _mm_store_ps(so, vs);
        std::memcpy(c + i, co, m * sizeof(float));
        std::memcpy(s + i, so, m * sizeof(float));
    }
    return redone;
}

}  // extern "C"

#else  // No AVX2 build: Simd_Avx2() is 0 and nothing here is called.

extern "C" {
void FFTnRCAvx2_e_minus_jwt(const TFFTnRC *, mfloat *) {}
uint32 FFTnRCAvx2_split_step(const mfloat *, mfloat *, uint32, mfloat) { return 2; }
void FFTnRCAvx2_scale(mfloat *, uint32, mfloat, int) {}
uint32 FFTnRCAvx2_fftbuf2RF(const TFFTnRC *, const mfloat *, mfloat *, mfloat *) { return 1; }
uint32 FFTnRCAvx2_RF2fftbuf(const TFFTnRC *, const mfloat *, const mfloat *, mfloat *) { return 1; }
uint32 FFTnRCAvx2_atan(const mfloat *, mfloat *, uint32) { return 0; }
uint32 FFTnRCAvx2_sincos(const mfloat *, mfloat *, mfloat *, uint32) { return 0; }
}

#endif
