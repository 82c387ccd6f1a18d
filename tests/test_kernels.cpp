// The vector kernels against the plain ones, which are the reference: the
// same inputs must give the same bits on every path this processor runs,
// from the FFT and its conversions up to whole streams in every mode and
// geometry. A NaN only has to stay a NaN: which of two NaN operands an
// operation passes on is not part of the arithmetic's contract, and no sign
// or payload of a NaN reaches an output sample. Where the processor runs
// the plain kernels only, the comparisons are skipped with a message.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FFTnrc.h"
#include "geometry.h"
#include "kernels/kernels.h"
#include "spsubst.h"
#include "test_support.h"

namespace {

// The vector tables to hold against the plain one; skips the test when
// there are none.
#define VECTOR_TABLES_OR_SKIP(tables)                                         \
    const std::vector<const NrKernels *> tables = vector_tables();           \
    if (tables.empty())                                                      \
    GTEST_SKIP() << (testsupport::plain_kernels_forced()                     \
                         ? "plain kernels forced: the default run compares the paths" \
                         : "this processor runs the plain kernels only: no vector path to compare")

std::vector<const NrKernels *> vector_tables() {
    if (testsupport::plain_kernels_forced()) return {};
    const NrKernels *all[4];
    const uint32 n = Nr_AvailableKernels(all);
    return std::vector<const NrKernels *>(all + 1, all + n);
}

// Runs `f` on the plain kernels, then on `vector`.
template <typename T>
void on_both_paths(const NrKernels *vector, const std::function<T()> &f, T *plain, T *fast) {
    const NrKernels *all[4];
    Nr_AvailableKernels(all);
    const NrKernels *before = Nr_ForceKernels(all[0]);
    *plain = f();
    Nr_ForceKernels(vector);
    *fast = f();
    Nr_ForceKernels(before);
}

// Word by word: the same bits, or NaN in both.
template <typename T>
bool same_values(const std::vector<T> &a, const std::vector<T> &b) {
    const size_t bytes = a.size() * sizeof(T);
    if (b.size() != a.size() || bytes % 4 != 0) return false;
    for (size_t at = 0; at < bytes; at += 4) {
        float x, y;
        std::memcpy(&x, reinterpret_cast<const uint8_t *>(a.data()) + at, 4);
        std::memcpy(&y, reinterpret_cast<const uint8_t *>(b.data()) + at, 4);
        if (std::memcmp(&x, &y, 4) != 0 && !(std::isnan(x) && std::isnan(y))) return false;
    }
    return true;
}

// Frames of noise at several scales, with zeros of both signs, subnormals,
// huge values, a NaN and an infinity in some of them.
std::vector<std::vector<float>> awkward_frames(uint32 n) {
    std::mt19937 rng(n);
    std::vector<std::vector<float>> frames;
    for (float scale : {1e-30f, 1.0f, 3e4f, 1e30f}) {
        std::vector<float> x(n);
        for (float &v : x) v = scale * (static_cast<float>(rng() % 20001) / 10000.0f - 1.0f);
        frames.push_back(x);
    }
    std::vector<float> sparse(n, 0.0f);
    sparse[1] = -0.0f;
    sparse[3] = std::numeric_limits<float>::denorm_min();
    sparse[n / 2] = 1.0f;
    sparse[n - 1] = -2.5f;
    frames.push_back(sparse);
    std::vector<float> odd = frames[1];
    odd[5] = std::numeric_limits<float>::quiet_NaN();
    odd[n / 3] = std::numeric_limits<float>::infinity();
    frames.push_back(odd);
    return frames;
}

TEST(KernelPaths, FftAndConversionsGiveTheSameBits) {
    VECTOR_TABLES_OR_SKIP(tables);
    for (const NrKernels *K : tables) {
    for (unsigned size = 0; size < nr_geometry::kFftCount; ++size) {
        const uint32 n = nr_geometry::fft_size(size);
        TFFTnRC f;
        FFTnRC_Init(&f, n);
        for (const std::vector<float> &x : awkward_frames(n)) {
            // Forward, polar form, back to packed (with phases that leave
            // the fast range in a few bins) and inverse.
            std::function<std::vector<float>()> chain = [&] {
                std::vector<float> p = x, R(n / 2 + 1), F(n / 2 + 1), out;
                FFTnRC_fft(&f, p.data(), 1);
                out = p;
                FFTnRC_fftbuf2RF(&f, p.data(), R.data(), F.data());
                out.insert(out.end(), R.begin(), R.end());
                out.insert(out.end(), F.begin(), F.end());
                F[7] = 100.0f;
                F[9] = -1e9f;
                F[11] = std::numeric_limits<float>::infinity();
                F[13] = -0.0f;
                FFTnRC_RF2fftbuf(&f, R.data(), F.data(), p.data());
                out.insert(out.end(), p.begin(), p.end());
                FFTnRC_fft(&f, p.data(), -1);
                out.insert(out.end(), p.begin(), p.end());
                return out;
            };
            std::vector<float> plain, fast;
            on_both_paths(K, chain, &plain, &fast);
            EXPECT_TRUE(same_values(plain, fast)) << K->name << ", N = " << n;
        }
    }
    }
}

struct Stream {
    uint32 rate;
    int8 mode;
    float pSdb;
};

// Every output sample, and the whole record after the analysis of every 8th
// block (64th in long streams) and at the end, of one stream through a
// fresh suppressor.
std::vector<uint8_t> trace_of(const Stream &st, const std::vector<int16_t> &in) {
    static TSpectSubtract rec;
    std::memset(&rec, 0, sizeof rec);
    SpectSubtract_Init(&rec, st.rate, st.mode, st.pSdb, 0.95f, 0.98f);
    std::vector<uint8_t> trace;
    const uint8_t *r = reinterpret_cast<const uint8_t *>(&rec);
    const size_t every = in.size() / rec.lenHalf > 200 ? 64 : 8;
    const std::vector<int16_t> out = testsupport::feed_blocks(rec, in, 1, [&](size_t k) {
        if (k % every == 0) trace.insert(trace.end(), r, r + sizeof rec);
    });
    const uint8_t *o = reinterpret_cast<const uint8_t *>(out.data());
    trace.insert(trace.end(), o, o + out.size() * sizeof(int16_t));
    trace.insert(trace.end(), r, r + sizeof rec);
    return trace;
}

// Both paths against the plain one in the default environment; with `env`,
// both paths again under that caller's modes, which the core must undo.
void expect_same_on_both_paths(const std::vector<const NrKernels *> &tables, const Stream &st,
                               const std::vector<int16_t> &in, const char *what,
                               const testsupport::CallerFpEnv *env = nullptr) {
    std::function<std::vector<uint8_t>()> run = [&] { return trace_of(st, in); };
    for (const NrKernels *K : tables) {
        std::vector<uint8_t> plain, fast;
        on_both_paths(K, run, &plain, &fast);
        if (env == nullptr) {
            EXPECT_TRUE(same_values(plain, fast))
                << K->name << ", " << st.rate << " Hz, mode " << int(st.mode) << ", " << what;
            continue;
        }
        std::vector<uint8_t> plain_env, fast_env;
        testsupport::run_in_fp_environment(*env, [&] { on_both_paths(K, run, &plain_env, &fast_env); });
        EXPECT_TRUE(same_values(plain, plain_env) && same_values(plain, fast_env))
            << K->name << ", " << env->name << ", " << st.rate << " Hz, mode " << int(st.mode) << ", "
            << what;
    }
}

// The default environment, then each one a host may have set.
std::vector<const testsupport::CallerFpEnv *> environments() {
    std::vector<const testsupport::CallerFpEnv *> all = {nullptr};
    for (const testsupport::CallerFpEnv &env : testsupport::caller_fp_environments()) all.push_back(&env);
    return all;
}

// The golden tests' channel, digital silence, full-scale square bursts cut
// by silence, and one-step dither, in every geometry and mode: with the
// defaults, and under each floating-point mode a host may have set.
class SuppressorPaths : public testing::TestWithParam<const testsupport::CallerFpEnv *> {};

TEST_P(SuppressorPaths, GiveTheSameBits) {
    VECTOR_TABLES_OR_SKIP(tables);
    const testsupport::CallerFpEnv *env = GetParam();
    const Stream streams[] = {
        {6000, 2, -20},  {8000, 0, -20},  {16000, 1, -20}, {16000, 3, -20}, {22050, 2, -20},
        {32000, 0, -80}, {44100, 2, -20}, {44100, 1, 0},   {44100, 3, -20}, {48000, 0, -20},
    };
    for (const Stream &st : streams) {
        const size_t n = st.rate * 3 / 2;
        std::vector<int16_t> square(n), dither(n);
        for (size_t i = 0; i < n; ++i) {
            square[i] = (i / (st.rate / 8)) % 2 ? 0 : ((i / 7) % 2 ? 32767 : -32767);
            dither[i] = static_cast<int16_t>((i * 2654435761u >> 13) % 3) - 1;
        }
        expect_same_on_both_paths(tables, st, testsupport::golden_channel(st.rate, 1), "golden channel", env);
        expect_same_on_both_paths(tables, st, std::vector<int16_t>(n, 0), "silence", env);
        expect_same_on_both_paths(tables, st, square, "square bursts", env);
        expect_same_on_both_paths(tables, st, dither, "dither", env);
    }
}

INSTANTIATE_TEST_SUITE_P(CallersModes, SuppressorPaths, testing::ValuesIn(environments()),
                         [](const testing::TestParamInfo<const testsupport::CallerFpEnv *> &i) {
                             std::string name = i.param ? i.param->name : "defaults";
                             for (char &c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// A minute of near-silence after noise: the mean spectra decay into
// subnormal numbers and stay there.
TEST(KernelPaths, LongQuietGivesTheSameBits) {
    VECTOR_TABLES_OR_SKIP(tables);
    for (int8 mode : {0, 2}) {
        std::vector<int16_t> in = testsupport::white_noise(8000 * 5, 1000.0, 3);
        const std::vector<int16_t> quiet = testsupport::white_noise(8000 * 60, 0.4, 4);
        in.insert(in.end(), quiet.begin(), quiet.end());
        // Here the mean spectra go subnormal: the flush-to-zero modes too.
        for (const testsupport::CallerFpEnv *env : environments())
            if (env == nullptr || env->flush_to_zero)
                expect_same_on_both_paths(tables, {8000, mode, -20}, in, "noise, then near-silence", env);
    }
}

// A sweep through all float bit patterns (every 509th, so every exponent and
// sign with many mantissas) and densely through the phase range: every
// table's arctangent, cosine and sine against the C library's, bit for bit.
// bench/exhaustive_trig checks all 2^32 inputs.
TEST(KernelPaths, TranscendentalsMatchTheCLibrary) {
    if (testsupport::plain_kernels_forced()) GTEST_SKIP() << "the default run checks every table";
    std::vector<float> x;
    for (uint64_t b = 0; b < (uint64_t(1) << 32); b += 509) {
        const uint32_t bits = static_cast<uint32_t>(b);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        x.push_back(v);
    }
    for (float v = -1.6f; v < 4.8f; v = std::nextafter(v, 5.0f) + 2e-6f) x.push_back(v);
    const uint32 n = static_cast<uint32>(x.size());
    const NrKernels *tables[4];
    const uint32 count = Nr_AvailableKernels(tables);
    for (uint32 t = 0; t < count; ++t) {
        std::vector<float> y(n), c(n), s(n);
        tables[t]->atan_array(x.data(), y.data(), n);
        tables[t]->sincos_array(x.data(), c.data(), s.data(), n);
        size_t bad = 0;
        for (uint32 i = 0; i < n; ++i) {
            const double d = x[i];
            const float ref[3] = {static_cast<float>(std::atan(d)), static_cast<float>(std::cos(d)),
                                  static_cast<float>(std::sin(d))};
            const float got[3] = {y[i], c[i], s[i]};
            if (std::memcmp(ref, got, sizeof ref) != 0 && ++bad <= 5)
                ADD_FAILURE() << tables[t]->name << ": x = " << d;
        }
        EXPECT_EQ(bad, 0u) << tables[t]->name << ", of " << n;
    }
}

// The fallbacks compute the double function rounded twice without the C
// library: on a sweep through all float bit patterns (every 4099th) and at
// the edges of their ranges they must give the C library's bits.
TEST(Fallbacks, MatchTheCLibrary) {
    if (testsupport::plain_kernels_forced()) GTEST_SKIP() << "the default run checks them";
    std::vector<float> x = {0.0f, -0.0f, std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max(), 88.72283f, 88.7228394f,
                            -103.972076f, -103.97208f, -87.33655f, 0.785398126f, 0.785398185f};
    for (uint64_t b = 0; b < (uint64_t(1) << 32); b += 4099) {
        const uint32_t bits = static_cast<uint32_t>(b);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        x.push_back(v);
    }
    size_t bad = 0;
    for (const float v : x) {
        const double d = v;
        float c, s;
        Nr_SinCosFallback(v, &c, &s);
        const float got[4] = {Nr_AtanFallback(v), c, s, Nr_Exp(v)};
        const float ref[4] = {static_cast<float>(std::atan(d)), static_cast<float>(std::cos(d)),
                              static_cast<float>(std::sin(d)), static_cast<float>(std::exp(d))};
        for (int f = 0; f < 4; ++f) {
            const bool nan_both = got[f] != got[f] && ref[f] != ref[f];
            if (!nan_both && std::memcmp(&got[f], &ref[f], sizeof(float)) != 0 && ++bad <= 5)
                ADD_FAILURE() << "function " << f << " (atan, cos, sin, exp) at x = " << d;
        }
    }
    EXPECT_EQ(bad, 0u) << "of " << x.size();
}

}  // namespace
