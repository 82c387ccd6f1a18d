// Real FFT: an N/2-point radix-2 complex FFT on the even/odd samples, then a
// split step that separates the two interleaved half-spectra. All arithmetic
// is single precision in a fixed order, so results are reproducible bit for
// bit; twiddles come from a quarter-wave cosine table. The loops over points
// and bins are the kernels (kernels/fft.inc, kernels/trig.inc); what is left
// here are the few values at the edges of the spectrum.
#include "exact.h"

#include "FFTnrc.h"

#include <math.h>

#include "FFTnrc_tables.h"
#include "fpenv.h"
#include "geometry.h"
#include "kernels/kernels.h"

namespace {

struct SizeSegments {
    uint32 nfft;
    int16 offset_cs;
    int16 offset_sw;
    uint32 offset_stage;  // in the stage tables
};

struct Segments {
    SizeSegments size[nr_geometry::kFftCount];
};

constexpr Segments make_segments() {
    Segments s{};
    for (unsigned i = 0; i < nr_geometry::kFftCount; ++i)
        s.size[i] = {nr_geometry::fft_size(i), static_cast<int16>(nr_geometry::cos_offset(i)),
                     static_cast<int16>(nr_geometry::swap_offset(i)), nr_geometry::stage_offset(i)};
    return s;
}

constexpr Segments kSegments = make_segments();

// The tables of a supported size, or null: every function refuses other
// sizes by doing nothing, whatever the record's offsets hold.
const SizeSegments *segment_of(const TFFTnRC *it) {
    for (const SizeSegments &s : kSegments.size)
        if (s.nfft == it->nfft) return &s;
    return nullptr;
}

// The phase of (re, 0), for DC and Nyquist. Off zero the rule's arctangent
// is that of a signed zero: +0 for a positive real part, and -0 + pi for a
// negative one; zero and NaN take the rule's own path.
mfloat phase_on_real_axis(const NrKernels *K, mfloat re) {
    if (re > 0.0f) return 0.0f;
    if (re < 0.0f) return -0.0f + 3.1415927f;
    const mfloat zero = 0.0f;
    mfloat F;
    K->polar_split(&re, &zero, nullptr, &F, 1);
    return F;
}

// cos(+-0) is exactly 1.
mfloat cos_f(const NrKernels *K, mfloat x) {
    if (x == 0.0f) return 1.0f;
    mfloat c, s;
    K->sincos_array(&x, &c, &s, 1);
    return c;
}

// ------------------------------------------------------------ entry points
// The work of each entry point that computes, run by it in the IEEE default
// floating-point environment whatever the caller has set (fpenv.h).

NR_NOINLINE void fft(const TFFTnRC *it, mfloat *p, int isign) {
    const SizeSegments *seg = segment_of(it);
    if (!seg) return;
    const NrKernels *K = Nr_Kernels();
    const uint32 n = it->nfft;
    const mfloat *C = m_arCosTable32f + seg->offset_cs;
    const mfloat *wr = nr_fft_tables.stage_cos + seg->offset_stage;
    const mfloat *wi = nr_fft_tables.stage_sin + seg->offset_stage;
    const mfloat s = static_cast<mfloat>(isign);

    if (isign == 1) K->complex_fft(p, n, wr, wi);
    // Bins 1 .. N/4 - 1 and their mirrors, halved; then the four values the
    // split step does not reach are halved too.
    K->split_step(p, n, C, s);
    p[0] = p[0] * 0.5f;
    p[1] = p[1] * 0.5f;
    p[n / 2] = p[n / 2] * 0.5f;
    p[n / 2 + 1] = p[n / 2 + 1] * 0.5f;
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
    K->complex_fft(p, n, wr, wi);
    K->conjugate_scale(p, n, 2.0f / static_cast<mfloat>(n));
}

NR_NOINLINE void fftbuf2RF(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R, mfloat *F) {
    if (!segment_of(it)) return;
    const NrKernels *K = Nr_Kernels();
    const uint32 half = it->nfft / 2;
    if (R) {
        R[0] = fabsf(fftbuf[0]);
        R[half] = fabsf(fftbuf[1]);
    }
    if (F) {
        F[0] = phase_on_real_axis(K, fftbuf[0]);
        F[half] = phase_on_real_axis(K, fftbuf[1]);
    }
    K->polar_packed(fftbuf, R, F, 1, half);
}

NR_NOINLINE void xy2RF(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R, mfloat *F) {
    if (!segment_of(it)) return;
    Nr_Kernels()->polar_split(x, y, R, F, it->nfft / 2 + 1);
}

NR_NOINLINE void RF2xy(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *x, mfloat *y) {
    if (!segment_of(it)) return;
    const uint32 half = it->nfft / 2;
    // Products in double, rounded once; DC first, then Nyquist downwards.
    auto polar = [&](uint32 k) {
        const double r = R[k], f = F[k];
        x[k] = static_cast<mfloat>(cos(f) * r);
        y[k] = static_cast<mfloat>(sin(f) * r);
    };
    polar(0);
    for (uint32 k = half; k >= 1; --k) polar(k);
}

NR_NOINLINE void RF2fftbuf(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *fftbuf) {
    if (!segment_of(it)) return;
    const NrKernels *K = Nr_Kernels();
    const uint32 half = it->nfft / 2;
    fftbuf[0] = cos_f(K, F[0]) * R[0];
    fftbuf[1] = cos_f(K, F[half]) * R[half];
    K->packed_from_polar(R, F, fftbuf, 1, half);
}

NR_NOINLINE void channing(uint32 len, mfloat *Wh) {
    const NrKernels *K = Nr_Kernels();
    // Downwards in chunks, the cosines of a chunk taken at once.
    mfloat arg[256], c[256], s[256];
    for (uint32 end = len; end > 0;) {
        const uint32 m = end < 256 ? end : 256, first = end - m;
        for (uint32 i = 0; i < m; ++i)
            arg[i] = (static_cast<mfloat>(first + i) + 0.5f) * 6.2831855f / static_cast<mfloat>(len);
        K->sincos_array(arg, c, s, m);
        for (uint32 i = m; i-- > 0;) Wh[first + i] = 0.5f - 0.5f * c[i];
        end = first;
    }
}

}  // namespace

extern "C" {

void FFTnRC_Init(TFFTnRC *it, uint32 nfft) {
    it->nfft = nfft;
    // Another size leaves the offsets as they were.
    for (const SizeSegments &s : kSegments.size) {
        if (s.nfft == nfft) {
            it->offset_cs = s.offset_cs;
            it->offset_sw = s.offset_sw;
        }
    }
}

void FFTnRC_Destroyed(TFFTnRC *) {}

void FFTnRC_fft(const TFFTnRC *it, mfloat *p, int isign) { nr::exact(fft, it, p, isign); }

// Moves only: no arithmetic, so no environment to set.
void FFTnRC_fftbuf2xy(const TFFTnRC *it, const mfloat *fftbuf, mfloat *x, mfloat *y) {
    if (!segment_of(it)) return;
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
    if (!segment_of(it)) return;
    const uint32 half = it->nfft / 2;
    fftbuf[0] = x[0];
    fftbuf[1] = x[half];
    for (uint32 k = 1; k < half; ++k) {
        fftbuf[2 * k] = x[k];
        fftbuf[2 * k + 1] = y[k];
    }
}

void FFTnRC_fftbuf2R(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R) {
    nr::exact(fftbuf2RF, it, fftbuf, R, static_cast<mfloat *>(nullptr));
}

void FFTnRC_fftbuf2F(const TFFTnRC *it, const mfloat *fftbuf, mfloat *F) {
    nr::exact(fftbuf2RF, it, fftbuf, static_cast<mfloat *>(nullptr), F);
}

void FFTnRC_fftbuf2RF(const TFFTnRC *it, const mfloat *fftbuf, mfloat *R, mfloat *F) {
    nr::exact(fftbuf2RF, it, fftbuf, R, F);
}

void FFTnRC_xy2R(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R) {
    nr::exact(xy2RF, it, x, y, R, static_cast<mfloat *>(nullptr));
}

void FFTnRC_xy2F(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *F) {
    nr::exact(xy2RF, it, x, y, static_cast<mfloat *>(nullptr), F);
}

void FFTnRC_xy2RF(const TFFTnRC *it, const mfloat *x, const mfloat *y, mfloat *R, mfloat *F) {
    nr::exact(xy2RF, it, x, y, R, F);
}

void FFTnRC_RF2xy(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *x, mfloat *y) {
    nr::exact(RF2xy, it, R, F, x, y);
}

void FFTnRC_RF2fftbuf(const TFFTnRC *it, const mfloat *R, const mfloat *F, mfloat *fftbuf) {
    nr::exact(RF2fftbuf, it, R, F, fftbuf);
}

void FFTnRC_channing(uint32 len, mfloat *Wh) { nr::exact(channing, len, Wh); }

}  // extern "C"
