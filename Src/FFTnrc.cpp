// Real FFT: an N/2-point radix-2 complex FFT on the even/odd samples, then a
// split step that separates the two interleaved half-spectra. All arithmetic
// is single precision in a fixed order, so results are reproducible bit for
// bit; twiddles come from a quarter-wave cosine table. Where the processor
// has AVX2, the hot loops hand whole blocks to FFTnrc_avx2.cpp, which gives
// the same bits; what is left over runs here.
#include "FFTnrc.h"

#include <cmath>

#include "FFTnrc_avx2.h"
#include "FFTnrc_tables.h"
#include "simd.h"

namespace {

struct SizeSegments {
    uint32 nfft;
    int16 offset_cs;
    int16 offset_sw;
};

const SizeSegments kSegments[] = {
    {256, 0, 0},
    {512, 65, 128},
    {1024, 194, 384},
    {2048, 451, 896},
};

bool size_supported(uint32 n) {
    for (const SizeSegments &s : kSegments)
        if (s.nfft == n) return true;
    return false;
}

void swap_pair(mfloat *p, uint32 a, uint32 b) {
    mfloat t = p[a];
    p[a] = p[b];
    p[b] = t;
}

void bit_reverse(const TFFTnRC *it, mfloat *p, uint32 points) {
    const unsigned short *partner = m_adwSwapTab + it->offset_sw;
    for (uint32 k = 0; k < points; ++k) {
        uint32 s = partner[k];
        if (s != 0) {
            swap_pair(p, 2 * k, s);
            swap_pair(p, 2 * k + 1, s + 1);
        }
    }
}

// Spans of 1, 2 and 4 points need no table: their twiddles are 1, -j and
// the two diagonals.
void stage_span1(mfloat *p, uint32 n) {
    for (uint32 g = 0; g < n; g += 4) {
        mfloat a0 = p[g], a1 = p[g + 1], b0 = p[g + 2], b1 = p[g + 3];
        p[g] = a0 + b0;
        p[g + 1] = a1 + b1;
        p[g + 2] = a0 - b0;
        p[g + 3] = a1 - b1;
    }
}

void stage_span2(mfloat *p, uint32 n) {
    for (uint32 g = 0; g < n; g += 8) {
        mfloat r[8];
        for (int i = 0; i < 8; ++i) r[i] = p[g + i];
        p[g] = r[0] + r[4];
        p[g + 1] = r[1] + r[5];
        p[g + 4] = r[0] - r[4];
        p[g + 5] = r[1] - r[5];
        p[g + 2] = r[2] + r[7];
        p[g + 3] = r[3] - r[6];
        p[g + 6] = r[2] - r[7];
        p[g + 7] = r[3] + r[6];
    }
}

void stage_span4(mfloat *p, uint32 n) {
    const mfloat c = 0.70710677f;
    for (uint32 g = 0; g < n; g += 16) {
        mfloat S[16];
        for (int i = 0; i < 16; ++i) S[i] = p[g + i];
        p[g] = S[0] + S[8];
        p[g + 1] = S[1] + S[9];
        p[g + 8] = S[0] - S[8];
        p[g + 9] = S[1] - S[9];

        mfloat tr = (S[10] + S[11]) * c;
        mfloat ti = (S[11] - S[10]) * c;
        p[g + 2] = S[2] + tr;
        p[g + 3] = S[3] + ti;
        p[g + 10] = S[2] - tr;
        p[g + 11] = S[3] - ti;

        p[g + 4] = S[4] + S[13];
        p[g + 5] = S[5] - S[12];
        p[g + 12] = S[4] - S[13];
        p[g + 13] = S[5] + S[12];

        mfloat u = (S[14] - S[15]) * c;
        mfloat v = (S[15] + S[14]) * c;
        p[g + 6] = S[6] - u;
        p[g + 7] = S[7] - v;
        p[g + 14] = S[6] + u;
        p[g + 15] = S[7] + v;
    }
}

// Twiddle e^{-j 2 pi index / N} as (wr, wi) with wi the sine, read from the
// quarter-wave table; sin(x) is the cosine table read backwards.
void twiddle(const mfloat *C, uint32 n, uint32 index, mfloat *wr, mfloat *wi) {
    if (index <= n / 4) {
        *wr = C[index];
        *wi = C[n / 4 - index];
    } else {
        *wr = -C[n / 2 - index];
        *wi = C[index - n / 4];
    }
}

void general_stages(const mfloat *C, mfloat *p, uint32 n) {
    uint32 index_step = n / 8;
    for (uint32 mmax = 16; mmax < n; mmax *= 2) {
        const uint32 istep = 2 * mmax;
        index_step /= 2;
        uint32 index = 0;
        for (uint32 m = 1; m < mmax; m += 2, index += index_step) {
            mfloat wr, wi;
            twiddle(C, n, index, &wr, &wi);
            for (uint32 a = m - 1; a + 1 <= n; a += istep) {
                mfloat c = p[a + mmax], d = p[a + mmax + 1];
                mfloat tr = d * wi + c * wr;
                mfloat ti = d * wr - c * wi;
                p[a + mmax] = p[a] - tr;
                p[a + mmax + 1] = p[a + 1] - ti;
                p[a] = p[a] + tr;
                p[a + 1] = p[a + 1] + ti;
            }
        }
    }
}

// In-place forward complex FFT (kernel e^{-j wt}, unscaled) of the N/2
// points stored interleaved in p.
void e_minus_jwt(const TFFTnRC *it, mfloat *p) {
    if (Simd_Avx2()) {
        FFTnRCAvx2_e_minus_jwt(it, p);
        return;
    }
    const uint32 n = it->nfft;
    bit_reverse(it, p, n / 2);
    stage_span1(p, n);
    stage_span2(p, n);
    stage_span4(p, n);
    general_stages(m_arCosTable32f + it->offset_cs, p, n);
}

// Separates the spectra of the even and odd samples (forward, s = 1) or
// merges them again (inverse, s = -1), for bins 1 .. N/4 - 1 and mirrors.
void split_step(const mfloat *C, mfloat *p, uint32 n, mfloat s) {
    const uint32 from = Simd_Avx2() ? FFTnRCAvx2_split_step(C, p, n, s) : 2;
    for (uint32 i = from; i < n / 2; i += 2) {
        const uint32 j = n - i, k = i / 2;
        const mfloat c1 = C[k] * s, c2 = C[n / 4 - k];
        const mfloat a = p[i], b = p[i + 1], c = p[j], d = p[j + 1];
        const mfloat A = c1 * (b + d) - c2 * (a - c);
        const mfloat B = c1 * (a - c) + c2 * (b + d);
        p[i] = (a + c) + A;
        p[j] = (a + c) - A;
        p[i + 1] = ((b - d) - B) * s;
        p[j + 1] = (-(b - d) - B) * s;
    }
}

void scale(mfloat *p, uint32 n, mfloat factor) {
    if (Simd_Avx2()) {
        FFTnRCAvx2_scale(p, n, factor, 0);
        return;
    }
    for (uint32 i = 0; i < n; ++i) p[i] = p[i] * factor;
}

// Negates the imaginary parts, then scales every float.
void conjugate_and_scale(mfloat *p, uint32 n, mfloat factor) {
    if (Simd_Avx2()) {
        FFTnRCAvx2_scale(p, n, factor, 1);
        return;
    }
    for (uint32 i = 1; i < n; i += 2) p[i] = -p[i];
    scale(p, n, factor);
}

mfloat phase_of(mfloat re, mfloat im) {
    mfloat F;
    if (re == 0.0f)
        F = im > 0.0f ? 1.5707964f : -1.5707964f;
    else
        F = static_cast<mfloat>(std::atan(static_cast<double>(im / re)));
    if (re < 0.0f) F = F + 3.1415927f;
    return F;
}

// DC, Nyquist and bins from .. N/2 - 1 of a packed spectrum.
void magnitudes(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R, uint32 from) {
    const uint32 half = it->nfft / 2;
    R[0] = std::fabs(fftbuf[0]);
    R[half] = std::fabs(fftbuf[1]);
    for (uint32 k = from; k < half; ++k) {
        const mfloat re = fftbuf[2 * k], im = fftbuf[2 * k + 1];
        R[k] = std::sqrt(im * im + re * re);
    }
}

void phases(const TFFTnRC *it, const mfloat *fftbuf, mfloat *F, uint32 from) {
    const uint32 half = it->nfft / 2;
    F[0] = phase_of(fftbuf[0], 0.0f);
    F[half] = phase_of(fftbuf[1], 0.0f);
    for (uint32 k = from; k < half; ++k) F[k] = phase_of(fftbuf[2 * k], fftbuf[2 * k + 1]);
}

mfloat cos_f(mfloat x) { return static_cast<mfloat>(std::cos(static_cast<double>(x))); }
mfloat sin_f(mfloat x) { return static_cast<mfloat>(std::sin(static_cast<double>(x))); }

}  // namespace

extern "C" {

void FFTnRC_Init(TFFTnRC *it, uint32 nfft) {
    it->nfft = nfft;
    for (const SizeSegments &s : kSegments) {
        if (s.nfft == nfft) {
            it->offset_cs = s.offset_cs;
            it->offset_sw = s.offset_sw;
        }
    }
}

void FFTnRC_Destroyed(TFFTnRC *) {}

void FFTnRC_fft(const TFFTnRC *it, mfloat *p, int isign) {
    const uint32 n = it->nfft;
    // The offsets of an unsupported size would read outside the tables.
    if (!size_supported(n)) return;
    const mfloat *C = m_arCosTable32f + it->offset_cs;
    const mfloat s = static_cast<mfloat>(isign);

    if (isign == 1) e_minus_jwt(it, p);
    split_step(C, p, n, s);
    scale(p, n, 0.5f);
    // The middle bin N/4 pairs with itself: only its imaginary part turns.
    p[n / 2] = p[n / 2] * 2.0f;
    p[n / 2 + 1] = p[n / 2 + 1] * (-2.0f * s);

    const mfloat p0 = p[0], p1 = p[1];
    if (isign == 1) {
        p[0] = (p0 + p1) * 2.0f;
        p[1] = (p1 - p0) * -2.0f;
        return;
    }
    p[0] = p0 + p1;
    p[1] = p1 - p0;
    e_minus_jwt(it, p);
    conjugate_and_scale(p, n, 2.0f / static_cast<mfloat>(n));
}

void FFTnRC_fftbuf2xy(const TFFTnRC *it, const mfloat *fftbuf, mfloat *x, mfloat *y) {
    const uint32 half = it->nfft / 2;
    x[0] = fftbuf[0];
    x[half] = fftbuf[1];
    y[0] = 0.0f;
    y[half] = 0.0f;
    for (uint32 k = 1; k < half; ++k) {
        x[k] = fftbuf[2 * k];
        y[k] = fftbuf[2 * k + 1];
    }
}

void FFTnRC_xy2fftbuf(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *fftbuf) {
    const uint32 half = it->nfft / 2;
    fftbuf[0] = x[0];
    fftbuf[1] = x[half];
    for (uint32 k = 1; k < half; ++k) {
        fftbuf[2 * k] = x[k];
        fftbuf[2 * k + 1] = y[k];
    }
}

void FFTnRC_fftbuf2R(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R) {
    magnitudes(it, fftbuf, R, 1);
}

void FFTnRC_fftbuf2F(const TFFTnRC *it, const mfloat *fftbuf, mfloat *F) {
    phases(it, fftbuf, F, 1);
}

void FFTnRC_fftbuf2RF(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R, mfloat *F) {
    const uint32 from = Simd_Avx2() ? FFTnRCAvx2_fftbuf2RF(it, fftbuf, R, F) : 1;
    magnitudes(it, fftbuf, R, from);
    phases(it, fftbuf, F, from);
}

void FFTnRC_xy2R(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R) {
    const uint32 half = it->nfft / 2;
    for (uint32 k = 0; k <= half; ++k) R[k] = std::sqrt(x[k] * x[k] + y[k] * y[k]);
}

void FFTnRC_xy2F(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *F) {
    const uint32 half = it->nfft / 2;
    for (uint32 k = 0; k <= half; ++k) F[k] = phase_of(x[k], y[k]);
}

void FFTnRC_xy2RF(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R, mfloat *F) {
    FFTnRC_xy2R(it, x, y, R);
    FFTnRC_xy2F(it, x, y, F);
}

void FFTnRC_RF2xy(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *x, mfloat *y) {
    const uint32 half = it->nfft / 2;
    // Products in double, rounded once; DC first, then Nyquist downwards.
    auto polar = [&](uint32 k) {
        const double r = R[k], f = F[k];
        x[k] = static_cast<mfloat>(std::cos(f) * r);
        y[k] = static_cast<mfloat>(std::sin(f) * r);
    };
    polar(0);
    for (uint32 k = half; k >= 1; --k) polar(k);
}

void FFTnRC_RF2fftbuf(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *fftbuf) {
    const uint32 half = it->nfft / 2;
    fftbuf[0] = cos_f(F[0]) * R[0];
    fftbuf[1] = cos_f(F[half]) * R[half];
    const uint32 from = Simd_Avx2() ? FFTnRCAvx2_RF2fftbuf(it, R, F, fftbuf) : 1;
    for (uint32 k = from; k < half; ++k) {
        fftbuf[2 * k] = cos_f(F[k]) * R[k];
        fftbuf[2 * k + 1] = sin_f(F[k]) * R[k];
    }
}

void FFTnRC_channing(uint32 len, mfloat *Wh) {
    for (uint32 i = len; i-- > 0;) {
        const mfloat arg = (static_cast<mfloat>(i) + 0.5f) * 6.2831855f / static_cast<mfloat>(len);
        Wh[i] = 0.5f - 0.5f * cos_f(arg);
    }
}

}  // extern "C"
