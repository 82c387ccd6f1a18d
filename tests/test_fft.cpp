// Properties of the real FFT: exact spectra of simple frames, agreement with
// a plain DFT, the inverse, the tables, and the spectrum conversions.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "FFTnrc.h"
#include "kernels/kernels.h"
#include "FFTnrc_tables.h"

namespace {

std::vector<uint32> fft_sizes() {
    std::vector<uint32> sizes;
    for (unsigned i = 0; i < nr_geometry::kFftCount; ++i) sizes.push_back(nr_geometry::fft_size(i));
    return sizes;
}

TFFTnRC make_fft(uint32 n) {
    TFFTnRC f;
    FFTnRC_Init(&f, n);
    return f;
}

// Packed spectrum accessors.
float re(const std::vector<float> &p, uint32 n, uint32 k) {
    return k == 0 ? p[0] : k == n / 2 ? p[1] : p[2 * k];
}
float im(const std::vector<float> &p, uint32 n, uint32 k) {
    return (k == 0 || k == n / 2) ? 0.0f : p[2 * k + 1];
}

std::vector<float> forward(uint32 n, std::vector<float> x) {
    TFFTnRC f = make_fft(n);
    FFTnRC_fft(&f, x.data(), 1);
    return x;
}

std::vector<float> inverse(uint32 n, std::vector<float> p) {
    TFFTnRC f = make_fft(n);
    FFTnRC_fft(&f, p.data(), -1);
    return p;
}

class FftSizes : public ::testing::TestWithParam<uint32> {};

TEST_P(FftSizes, ImpulseConstantAndAlternatingFramesHaveExactSpectra) {
    const uint32 n = GetParam();
    std::vector<float> x(n, 0.0f);
    x[0] = 1.0f;
    std::vector<float> p = forward(n, x);
    for (uint32 k = 0; k <= n / 2; ++k) {
        EXPECT_FLOAT_EQ(re(p, n, k), 1.0f) << "bin " << k;
        EXPECT_NEAR(im(p, n, k), 0.0f, 1e-6f) << "bin " << k;
    }

    std::vector<float> c(n, 3.0f), alt(n);
    for (uint32 i = 0; i < n; ++i) alt[i] = (i % 2) ? -3.0f : 3.0f;
    std::vector<float> pc = forward(n, c), pa = forward(n, alt);
    EXPECT_FLOAT_EQ(pc[0], 3.0f * n);
    EXPECT_FLOAT_EQ(pa[1], 3.0f * n);
    EXPECT_NEAR(pc[1], 0.0f, 1e-3f);
    EXPECT_NEAR(pa[0], 0.0f, 1e-3f);
    for (uint32 i = 2; i < n; ++i) {
        EXPECT_NEAR(pc[i], 0.0f, 1e-3f) << i;
        EXPECT_NEAR(pa[i], 0.0f, 1e-3f) << i;
    }
}

TEST_P(FftSizes, CosinesAndSinesLandInTheirBinWithTheKernelsSign) {
    const uint32 n = GetParam();
    // Include the middle bin N/4, which the split step treats on its own.
    for (uint32 k0 : {uint32(1), uint32(3), n / 8 + 1, n / 4, n / 4 + 1, n / 2 - 1}) {
        std::vector<float> c(n), s(n);
        for (uint32 i = 0; i < n; ++i) {
            const double a = 2.0 * M_PI * k0 * i / n;
            c[i] = static_cast<float>(std::cos(a));
            s[i] = static_cast<float>(std::sin(a));
        }
        std::vector<float> pc = forward(n, c), ps = forward(n, s);
        const float tol = 2e-3f * std::sqrt(static_cast<float>(n));
        for (uint32 k = 0; k <= n / 2; ++k) {
            EXPECT_NEAR(re(pc, n, k), k == k0 ? n / 2.0f : 0.0f, tol) << "k0 " << k0 << " bin " << k;
            EXPECT_NEAR(im(pc, n, k), 0.0f, tol) << "k0 " << k0 << " bin " << k;
            EXPECT_NEAR(re(ps, n, k), 0.0f, tol) << "k0 " << k0 << " bin " << k;
            EXPECT_NEAR(im(ps, n, k), k == k0 ? -(n / 2.0f) : 0.0f, tol) << "k0 " << k0 << " bin " << k;
        }
    }
}

TEST_P(FftSizes, ForwardAgreesWithPlainDftInDouble) {
    const uint32 n = GetParam();
    std::mt19937 rng(n);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int trial = 0; trial < 3; ++trial) {
        std::vector<float> x(n);
        for (float &v : x) v = dist(rng);
        std::vector<float> p = forward(n, x);
        double worst = 0.0;
        for (uint32 k = 0; k <= n / 2; ++k) {
            double sr = 0.0, si = 0.0;
            for (uint32 i = 0; i < n; ++i) {
                const double a = 2.0 * M_PI * static_cast<double>((uint64_t(k) * i) % n) / n;
                sr += x[i] * std::cos(a);
                si -= x[i] * std::sin(a);
            }
            worst = std::max(worst, std::fabs(sr - re(p, n, k)));
            worst = std::max(worst, std::fabs(si - im(p, n, k)));
        }
        // Random frames give bins of about sqrt(N/3); rounding stays far
        // below 1e-3 of that, while a wrong twiddle or pair does not.
        EXPECT_LT(worst, 2e-4 * std::sqrt(static_cast<double>(n))) << "trial " << trial;
    }
}

TEST_P(FftSizes, InverseOfLoneDcOrNyquistIsFlatOrAlternating) {
    const uint32 n = GetParam();
    std::vector<float> dc(n, 0.0f), ny(n, 0.0f);
    dc[0] = static_cast<float>(n);
    ny[1] = static_cast<float>(n);
    std::vector<float> a = inverse(n, dc), b = inverse(n, ny);
    for (uint32 i = 0; i < n; ++i) {
        EXPECT_FLOAT_EQ(a[i], 1.0f) << i;
        EXPECT_FLOAT_EQ(b[i], (i % 2) ? -1.0f : 1.0f) << i;
    }
}

TEST_P(FftSizes, RoundTripReturnsTheFrame) {
    const uint32 n = GetParam();
    std::mt19937 rng(7 * n);
    std::uniform_real_distribution<float> dist(-30000.0f, 30000.0f);
    std::vector<float> x(n);
    for (float &v : x) v = dist(rng);
    std::vector<float> y = inverse(n, forward(n, x));
    for (uint32 i = 0; i < n; ++i) EXPECT_NEAR(y[i], x[i], 30000.0f * 2e-6f) << i;
}

INSTANTIATE_TEST_SUITE_P(AllSizes, FftSizes, ::testing::ValuesIn(fft_sizes()));

TEST(FftTables, CosineSegmentsRunFromOneToExactZero) {
    for (unsigned s = 0; s < nr_geometry::kFftCount; ++s) {
        const uint32 n = nr_geometry::fft_size(s);
        const float *C = m_arCosTable32f + nr_geometry::cos_offset(s);
        EXPECT_EQ(C[0], 1.0f);
        EXPECT_EQ(C[n / 4], 0.0f);
        EXPECT_EQ(C[n / 8], 0.70710677f);
        for (uint32 k = 0; k < n / 4; ++k)
            EXPECT_EQ(C[k], static_cast<float>(std::cos(2.0 * M_PI * k / n))) << n << ":" << k;
    }
}

// Every function refuses a size it has no tables for by doing nothing, on
// every kernel path: buffers sized for that size (so that a sanitizer build
// sees any reach beyond them) come back untouched.
TEST(FftInit, UnsupportedSizesLeaveEveryBufferAlone) {
    const NrKernels *tables[4];
    const uint32 count = Nr_AvailableKernels(tables);
    for (uint32 t = 0; t < count; ++t) {
        const NrKernels *before = Nr_ForceKernels(tables[t]);
        for (uint32 n : {0u, 2u, 10u, 100u, 128u, 4096u}) {
            SCOPED_TRACE(std::string(tables[t]->name) + ", N = " + std::to_string(n));
            TFFTnRC f = make_fft(n);
            EXPECT_EQ(f.nfft, n);
            const size_t floats = n > 0 ? n : 1, bins = floats / 2 + 1;
            std::vector<float> p(floats, 1.0f), R(bins, 2.0f), F(bins, 3.0f), x(bins, 4.0f), y(bins, 5.0f);
            FFTnRC_fft(&f, p.data(), 1);
            FFTnRC_fft(&f, p.data(), -1);
            FFTnRC_fftbuf2RF(&f, p.data(), R.data(), F.data());
            FFTnRC_fftbuf2R(&f, p.data(), R.data());
            FFTnRC_fftbuf2F(&f, p.data(), F.data());
            FFTnRC_fftbuf2xy(&f, p.data(), x.data(), y.data());
            FFTnRC_xy2RF(&f, x.data(), y.data(), R.data(), F.data());
            FFTnRC_xy2R(&f, x.data(), y.data(), R.data());
            FFTnRC_xy2F(&f, x.data(), y.data(), F.data());
            FFTnRC_RF2xy(&f, R.data(), F.data(), x.data(), y.data());
            FFTnRC_RF2fftbuf(&f, R.data(), F.data(), p.data());
            FFTnRC_xy2fftbuf(&f, x.data(), y.data(), p.data());
            EXPECT_EQ(p, std::vector<float>(floats, 1.0f));
            EXPECT_EQ(R, std::vector<float>(bins, 2.0f));
            EXPECT_EQ(F, std::vector<float>(bins, 3.0f));
            EXPECT_EQ(x, std::vector<float>(bins, 4.0f));
            EXPECT_EQ(y, std::vector<float>(bins, 5.0f));
        }
        // A record re-initialised to a bad size must not keep transforming
        // with the old segment.
        TFFTnRC g = make_fft(512);
        FFTnRC_Init(&g, 100);
        std::vector<float> small(100, 2.0f);
        FFTnRC_fft(&g, small.data(), 1);
        for (float v : small) ASSERT_EQ(v, 2.0f);
        Nr_ForceKernels(before);
    }
}

// ------------------------------------------------------------ conversions

TEST(FftConversions, PhaseRuleSpecialCases) {
    TFFTnRC f = make_fft(256);
    std::vector<float> x(129, 0.0f), y(129, 0.0f), R(129), F(129);
    x[1] = 0.0f; y[1] = 2.0f;    // positive imaginary axis
    x[2] = -1.0f; y[2] = 0.0f;   // negative real axis
    x[3] = -1.0f; y[3] = -1.0f;  // third quadrant, shifted by pi
    x[4] = 0.0f; y[4] = -3.0f;
    x[5] = 1.0f; y[5] = 1.0f;
    FFTnRC_xy2RF(&f, x.data(), y.data(), R.data(), F.data());
    EXPECT_EQ(F[0], -1.5707964f);  // re = im = 0
    EXPECT_EQ(R[0], 0.0f);
    EXPECT_EQ(F[1], 1.5707964f);
    EXPECT_EQ(F[2], 3.1415927f);
    EXPECT_EQ(F[3], static_cast<float>(std::atan(1.0)) + 3.1415927f);
    EXPECT_FLOAT_EQ(F[3], 3.926991f);
    EXPECT_EQ(F[4], -1.5707964f);
    EXPECT_EQ(F[5], static_cast<float>(std::atan(1.0)));
    EXPECT_EQ(R[5], std::sqrt(2.0f));
}

TEST(FftConversions, NegativeDcSurvivesPolarRoundTrip) {
    TFFTnRC f = make_fft(256);
    std::vector<float> buf(256, 0.0f), R(129), F(129), back(256);
    buf[0] = -5.0f;
    buf[1] = 4.0f;
    buf[2] = 0.0f;  // bin 1: re = im = 0
    FFTnRC_fftbuf2RF(&f, buf.data(), R.data(), F.data());
    EXPECT_EQ(R[0], 5.0f);
    EXPECT_EQ(F[0], 3.1415927f);
    EXPECT_EQ(R[128], 4.0f);
    EXPECT_EQ(F[128], 0.0f);
    EXPECT_EQ(F[1], -1.5707964f);
    FFTnRC_RF2fftbuf(&f, R.data(), F.data(), back.data());
    EXPECT_NEAR(back[0], -5.0f, 1e-6f);
    EXPECT_EQ(back[1], 4.0f);
    EXPECT_EQ(back[2], 0.0f);
}

TEST(FftConversions, PackUnpackAndPolarRoundTrips) {
    TFFTnRC f = make_fft(512);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-100.0f, 100.0f);
    std::vector<float> buf(512), x(257), y(257), back(512), R(257), F(257), x2(257), y2(257);
    for (float &v : buf) v = dist(rng);
    FFTnRC_fftbuf2xy(&f, buf.data(), x.data(), y.data());
    EXPECT_EQ(y[0], 0.0f);
    EXPECT_EQ(y[256], 0.0f);
    FFTnRC_xy2fftbuf(&f, x.data(), y.data(), back.data());
    EXPECT_EQ(buf, back);

    FFTnRC_xy2RF(&f, x.data(), y.data(), R.data(), F.data());
    FFTnRC_RF2xy(&f, R.data(), F.data(), x2.data(), y2.data());
    for (int k = 0; k <= 256; ++k) {
        EXPECT_NEAR(x2[k], x[k], 1e-4f) << k;
        EXPECT_NEAR(y2[k], y[k], 1e-4f) << k;
        EXPECT_GE(F[k], -1.5707964f);
        EXPECT_LE(F[k], 3.1415927f + 1.5707964f);
    }
}

TEST(FftConversions, HanningWindowOfFour) {
    float w[4];
    FFTnRC_channing(4, w);
    EXPECT_EQ(w[0], 0.14644662f);
    EXPECT_EQ(w[1], 0.8535534f);
    EXPECT_EQ(w[2], 0.8535533f);
    EXPECT_EQ(w[3], 0.1464465f);
}

}  // namespace
