// Properties of the suppressor: its configuration, the analysis window, the
// reconstruction of the analysis/synthesis chain, the noise tracker, the
// gains, and what the whole path does to noise and tones.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "spsubst.h"
#include "spsubst_tables.h"
#include "test_support.h"

namespace {

using testsupport::mix;
using testsupport::tone;
using testsupport::white_noise;

// One suppressor record on the heap (it is large) with a block-stream view.
struct Suppressor {
    std::unique_ptr<TSpectSubtract> rec{new TSpectSubtract};
    explicit Suppressor(uint32 rate, int8 mode = 2, mfloat pSdb = -20.0f, mfloat pNn = 0.95f,
                        mfloat pMn = 0.98f) {
        std::memset(rec.get(), 0, sizeof(TSpectSubtract));
        SpectSubtract_Init(rec.get(), rate, mode, pSdb, pNn, pMn);
    }
    TSpectSubtract *operator->() { return rec.get(); }
    // Feeds whole blocks of `in`; returns what Restore produced.
    std::vector<int16_t> process(const std::vector<int16_t> &in, int8 active = 1) {
        return testsupport::feed_blocks(*rec, in, active);
    }
    void frame(const std::vector<int16_t> &block, int8 active = 1) {
        SpectSubtract_Frame(rec.get(), active, block.data());
    }
};

double power_db(const std::vector<int16_t> &s, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
    return 10.0 * std::log10(sum / double(to - from) + 1e-12);
}

bool all_finite(const float *a, uint32 n) {
    for (uint32 i = 0; i < n; ++i)
        if (!std::isfinite(a[i])) return false;
    return true;
}

// ---------------------------------------------------------- configuration

TEST(SuppressorConfig, LimitMapsToSuppressionFactor) {
    Suppressor s(16000, 2, -20.0f);
    EXPECT_EQ(s->pSn, 0.89999998f);
    SpectSubtract_Reset(s.rec.get(), 2, -80.0f, 0.9f, 0.85f);
    EXPECT_NEAR(s->pSn, 0.9999f, 1e-7f);
    for (float limit : {0.0f, -0.0f, 3.0f}) {
        SpectSubtract_Reset(s.rec.get(), 2, limit, 0.9f, 0.85f);
        EXPECT_EQ(s->pSn, 0.0f) << limit;
    }
}

TEST(SuppressorConfig, ResetChangesOnlyTheUserParameters) {
    Suppressor s(16000, 2);
    s.process(white_noise(190 * 10, 1000.0, 1));
    TSpectSubtract before;
    std::memcpy(&before, s.rec.get(), sizeof before);
    SpectSubtract_Reset(s.rec.get(), 1, -10.0f, 0.85f, 0.9f);
    EXPECT_EQ(s->kind_subst, 1);
    EXPECT_EQ(s->pNn, 0.85f);
    EXPECT_EQ(s->pMn, 0.9f);
    EXPECT_NEAR(s->pSn, 1.0f - std::pow(10.0f, -0.5f), 1e-6f);
    TSpectSubtract after;
    std::memcpy(&after, s.rec.get(), sizeof after);
    after.kind_subst = before.kind_subst;
    after.pSn = before.pSn;
    after.pNn = before.pNn;
    after.pMn = before.pMn;
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
}

// Init must not depend on what the record held before, nor on an earlier
// stream; Destroyed leaves a record that Init revives.
TEST(SuppressorConfig, InitRestartsFromAnyContents) {
    const std::vector<int16_t> in = mix(white_noise(8000, 2000.0, 5), tone(8000, 700, 16000, 5000));
    Suppressor clean(16000, 1);
    const std::vector<int16_t> expected = clean.process(in);

    Suppressor dirty(16000, 1);
    std::memset(dirty.rec.get(), 0xA5, sizeof(TSpectSubtract));
    SpectSubtract_Init(dirty.rec.get(), 16000, 1, -20.0f, 0.95f, 0.98f);
    EXPECT_EQ(dirty.process(in), expected);

    SpectSubtract_Destroyed(dirty.rec.get());
    EXPECT_EQ(dirty->SampleRate, 0u);
    EXPECT_EQ(dirty->lenHalf, 0u);
    EXPECT_EQ(dirty->wmax, 0u);
    SpectSubtract_Init(dirty.rec.get(), 44100, 3, -20.0f, 0.95f, 0.98f);
    dirty.process(white_noise(1024 * 4, 3000.0, 2));
    SpectSubtract_Init(dirty.rec.get(), 16000, 1, -20.0f, 0.95f, 0.98f);
    EXPECT_EQ(dirty.process(in), expected);
}

// A record Init has not prepared (zeroed, destroyed, or overwritten with
// junk) makes Frame, Equalizer and Restore do nothing: the record and the
// caller's buffers stay as they were, whatever its fields claim.
TEST(SuppressorConfig, CallsOnAnUnpreparedRecordDoNothing) {
    auto rec = std::make_unique<TSpectSubtract>();
    auto copy = std::make_unique<TSpectSubtract>();
    const std::vector<int16_t> noise = white_noise(1024, 3000.0, 5);
    auto untouched = [&](const char *what) {
        SCOPED_TRACE(what);
        std::memcpy(copy.get(), rec.get(), sizeof(TSpectSubtract));
        std::vector<int16> block(noise.begin(), noise.end());
        std::vector<mfloat> gains(4, 0.5f);
        SpectSubtract_Frame(rec.get(), 1, block.data());
        SpectSubtract_Equalizer(rec.get(), 4, gains.data());
        SpectSubtract_Restore(rec.get(), block.data());
        EXPECT_EQ(0, std::memcmp(copy.get(), rec.get(), sizeof(TSpectSubtract)));
        EXPECT_EQ(std::vector<int16_t>(block.begin(), block.end()), noise);
    };
    std::memset(rec.get(), 0, sizeof(TSpectSubtract));
    untouched("zeroed");
    SpectSubtract_Reset(rec.get(), 2, -20.0f, 0.95f, 0.98f);
    untouched("zeroed, then Reset");
    SpectSubtract_Init(rec.get(), 16000, 2, -20.0f, 0.95f, 0.98f);
    SpectSubtract_Destroyed(rec.get());
    untouched("destroyed");
    std::memset(rec.get(), 0x7f, sizeof(TSpectSubtract));
    untouched("junk");
    SpectSubtract_Init(rec.get(), 16000, 2, -20.0f, 0.95f, 0.98f);
    rec->offset_wn = 4000;  // a window past the table
    untouched("window out of place");
}

TEST(SuppressorConfig, WindowsArePeriodicHannBitForBit) {
    for (unsigned row = 0; row < nr_geometry::kFrameCount; ++row) {
        const float *w = winTable32f + nr_geometry::window_offset(row);
        const uint32 n = nr_geometry::kFrames[row].len;
        EXPECT_EQ(w[0], 0.0f);
        EXPECT_EQ(w[n / 2], 1.0f);
        for (uint32 i = 0; i < n; ++i) {
            ASSERT_EQ(w[i], static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / n))) << n << ":" << i;
            if (i > 0) {
                ASSERT_EQ(w[i], w[n - i]) << n << ":" << i;
            }
            // Half-overlapped frames must sum to exactly one.
            if (i < n / 2) {
                ASSERT_EQ(w[i] + w[i + n / 2], 1.0f) << n << ":" << i;
            }
        }
    }
}

// The only check of the two public copy helpers, which no other code calls.
TEST(SuppressorConfig, StridedCopiesTouchOnlyTheirLane) {
    int16 src[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    int16 dst[9] = {0};
    CopyMem16i(src + 1, dst + 1, 3, 3);
    const int16 lane[9] = {0, 2, 0, 0, 5, 0, 0, 8, 0};
    EXPECT_EQ(0, std::memcmp(dst, lane, sizeof dst));
    // Moving down within one buffer works in ascending order.
    CopyMem16i(src + 3, src, 6, 1);
    const int16 moved[9] = {4, 5, 6, 7, 8, 9, 7, 8, 9};
    EXPECT_EQ(0, std::memcmp(src, moved, sizeof src));

    float a[3] = {1, 2, 3}, b[3] = {0, 0, 0};
    vCpy(b, a, 0);
    EXPECT_EQ(b[0], 0.0f);
    vCpy(b, a, 3);
    EXPECT_EQ(0, std::memcmp(a, b, sizeof a));
}

// ------------------------------------------------ analysis and synthesis

const uint32 kGeometryRates[] = {6000, 8000, 16000, 22050, 32000, 44100};

class Geometries : public ::testing::TestWithParam<uint32> {};

// With the magnitudes put back as the analysis measured them, synthesis
// must return the input one block late, to within rounding.
TEST_P(Geometries, AnalysisThenSynthesisReconstructsTheInput) {
    Suppressor s(GetParam());
    const uint32 h = s->lenHalf;
    const std::vector<int16_t> in =
        mix(white_noise(h * 40, 6000.0, GetParam()), tone(h * 40, 1234.5, GetParam(), 12000.0));
    // Frame leaves the spectrum in buff.
    const std::vector<int16_t> out = testsupport::feed_blocks(
        *s.rec, in, 1, [&](size_t) { FFTnRC_fftbuf2R(&s->FFTnRC, s->buff, s->psdX); });
    int worst = 0;
    for (size_t i = h; i < out.size(); ++i) worst = std::max(worst, std::abs(out[i] - in[i - h]));
    EXPECT_LE(worst, 2);
    for (uint32 i = 0; i < h; ++i) EXPECT_EQ(out[i], 0) << "start-up block must be silent";
}

TEST_P(Geometries, SilenceStaysSilentAndFinite) {
    Suppressor s(GetParam(), 0);
    const std::vector<int16_t> out = s.process(std::vector<int16_t>(s->lenHalf * 80, 0));
    for (int16_t v : out) ASSERT_EQ(v, 0);
    EXPECT_TRUE(all_finite(s->psdX, s->wmax));
    EXPECT_TRUE(all_finite(s->Hn, s->wmax));
    EXPECT_TRUE(all_finite(s->arN, s->wmax));
}

// A block's analysis depends on the input alone: chunks analysed last to
// first on two other records, each primed with the block before it (zeros
// before the first), then estimated and restored in order, give exactly
// what Frame and Restore give on one record.
TEST_P(Geometries, BlocksAnalysedApartGiveTheStreamsOutput) {
    const uint32 rate = GetParam();
    Suppressor whole(rate), estimator(rate), analysers[2] = {Suppressor(rate), Suppressor(rate)};
    const uint32 h = whole->lenHalf, bins = whole->wmax;
    const size_t blocks = 60, chunk = 7;
    const std::vector<int16_t> in = mix(white_noise(h * blocks, 3000.0, rate + 1), tone(h * blocks, 440.0, rate, 8000.0));
    const std::vector<int16_t> want = whole.process(in);

    std::vector<float> spectra(blocks * 2 * bins);
    const std::vector<int16_t> zeros(h, 0);
    for (size_t first = (blocks - 1) / chunk * chunk, n = 0;; first -= chunk, ++n) {
        TSpectSubtract *a = analysers[n % 2].rec.get();
        SpectSubtract_Analyse(a, first == 0 ? zeros.data() : in.data() + (first - 1) * h);
        for (size_t k = first; k < std::min(blocks, first + chunk); ++k) {
            SpectSubtract_Analyse(a, in.data() + k * h);
            std::memcpy(&spectra[k * 2 * bins], a->psdX, bins * sizeof(float));
            std::memcpy(&spectra[k * 2 * bins + bins], a->phasa, bins * sizeof(float));
        }
        if (first == 0) break;
    }
    std::vector<int16_t> got(h * blocks);
    for (size_t k = 0; k < blocks; ++k) {
        std::memcpy(estimator->psdX, &spectra[k * 2 * bins], bins * sizeof(float));
        std::memcpy(estimator->phasa, &spectra[k * 2 * bins + bins], bins * sizeof(float));
        SpectSubtract_Estimate(estimator.rec.get(), 1);
        SpectSubtract_Restore(estimator.rec.get(), got.data() + k * h);
    }
    EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(AllRows, Geometries, ::testing::ValuesIn(kGeometryRates));

// Restore's last stage on a silent spectrum: the output is the overlap
// memory passed through the de-emphasis, saturated and truncated.
TEST(Synthesis, DeEmphasisSaturatesAndRecursesOnTheOutput) {
    Suppressor s(8000);
    const uint32 h = s->lenHalf;
    for (uint32 w = 0; w < s->wmax; ++w) {
        s->psdX[w] = 0.0f;
        s->phasa[w] = 0.3f;
    }
    const float tail[] = {-32767.5f, 2.9f + 0.8f * 32767.0f, 40000.0f, 0.0f,
                          std::nanf(""), 2.9f, -2.9f - 0.8f * 2.0f};
    // Expected: -32767 (below the floor); 0.8 * -32767 + v lands at 2.9 -> 2;
    // 32767; then 0.8 * 32767 (recursion on the saturated sample, 26213);
    // NaN -> 0; 2.9 -> 2; 0.8 * 2 - 2.9 - 1.6 = -2.9 -> -2.
    const int16 expected[] = {-32767, 2, 32767, 26213, 0, 2, -2};
    for (uint32 j = 0; j < h; ++j) s->buffPrev[h + j] = 0.0f;
    for (size_t j = 0; j < 7; ++j) s->buffPrev[h + j] = tail[j];
    std::vector<int16> out(h);
    SpectSubtract_Restore(s.rec.get(), out.data());
    for (size_t j = 0; j < 7; ++j) EXPECT_EQ(out[j], expected[j]) << j;
    EXPECT_EQ(s->de_emphasis, out[h - 1]);
}

// ------------------------------------------------------- noise tracking

// Between boundaries arXtmp keeps the minimum since the last boundary, so on
// a level that rises in every bin it equals the current arX only on
// boundary frames. A limit of 0 dB keeps the gain out of the tracked level.
TEST(NoiseTracker, SearchWindowsRestartAtFramesFourPlusMultiplesOfL) {
    for (uint32 rate : {16000u, 32000u, 44100u}) {
        Suppressor s(rate, 2, 0.0f);
        const uint32 h = s->lenHalf;
        const uint32 L = 8192 / (s->nfft / 2 + 1);
        EXPECT_EQ(L, rate == 16000 ? 31u : rate == 32000 ? 15u : 7u);
        const std::vector<int16_t> pattern = white_noise(h, 1.0, 77);
        for (uint32 frame = 1; frame <= 3 * L + 6; ++frame) {
            // The same block, louder each time: every bin's level grows.
            std::vector<int16_t> b(h);
            const double gain = 300.0 * std::pow(1.04, frame);
            for (uint32 i = 0; i < h; ++i) b[i] = static_cast<int16_t>(std::lround(pattern[i] * gain));
            s.frame(b);
            if (frame < 2) continue;
            bool restarted = true;
            for (uint32 w = 0; w < s->wmax; ++w) restarted = restarted && s->arXtmp[w] == s->arX[w];
            EXPECT_EQ(restarted, frame % L == 4) << "rate " << rate << " frame " << frame;
        }
    }
}

// Next to arX = 3 2^100 a quiet frame's arX0 vanishes in the rounding, so
// arX becomes exactly 0.75 of what is set here. (One sample of 4 puts the
// frame just above near-silence, which the estimator would not see.)
TEST(NoiseTracker, RatioOfExactlyTwoAndAQuarterDoesNotCountAsSpeech) {
    Suppressor s(16000);
    std::vector<int16_t> quiet(190, 0);
    quiet[100] = 4;
    s.frame(quiet);
    const float big = std::ldexp(1.0f, 100);
    for (uint32 w = 0; w < s->wmax; ++w) {
        s->arXmin[w] = big;
        s->arXtmp[w] = 10.0f * big;
        s->arX[w] = 3.0f * big;  // -> 2.25 big, ratio 2.25
        s->arPROB[w] = 0.5f;
    }
    s->arX[7] = std::nextafter(3.0f * big, 4.0f * big);  // ratio just above 2.25
    s.frame(quiet);
    for (uint32 w = 0; w < s->wmax; ++w) EXPECT_EQ(s->arPROB[w], w == 7 ? 0.875f : 0.125f) << w;
}

TEST(NoiseTracker, SteadyNoiseIsTrackedAndGainsStayWithinOne) {
    for (int8 mode = 0; mode <= 3; ++mode) {
        Suppressor s(8000, mode);
        const uint32 h = s->lenHalf;
        for (uint32 frame = 0; frame < 300; ++frame) {
            // Noise throughout, with a loud tone burst in the middle.
            std::vector<int16_t> b = white_noise(h, 1500.0, 100 + frame);
            if (frame > 120 && frame < 180) b = mix(b, tone(h, 440.0 + frame, 8000, 15000));
            s.frame(b);
            for (uint32 w = 0; w < s->wmax; ++w) {
                ASSERT_LE(s->Hn[w], 1.0f);
                ASSERT_GE(s->Hn[w], 0.0f);
                // In mode 3 the clean estimate is the Wiener gain times psdS.
                if (mode == 3) {
                    ASSERT_LE(s->arS[w], s->psdS[w]);
                }
            }
        }
        EXPECT_TRUE(all_finite(s->arN, s->wmax));
    }
}

// ------------------------------------------------------------ the path

// Speech-like bursts: a tone 200 ms on, 200 ms off. A steady tone would be
// tracked as part of the noise floor, as it should.
std::vector<int16_t> tone_bursts(size_t n, uint32 rate, double amplitude) {
    std::vector<int16_t> t = tone(n, 1000.0, rate, amplitude);
    const size_t burst = rate / 5;
    for (size_t i = 0; i < n; ++i)
        if ((i / burst) % 2 == 1) t[i] = 0;
    return t;
}

// Two seconds of noise alone, then bursts over the same noise.
std::vector<int16_t> noise_then_bursts(uint32 rate) {
    std::vector<int16_t> s = white_noise(rate * 4, 1000.0, 42);
    const std::vector<int16_t> t = tone_bursts(rate * 2, rate, 8000.0);
    for (size_t i = 0; i < t.size(); ++i) s[2 * rate + i] = static_cast<int16_t>(s[2 * rate + i] + t[i]);
    return s;
}

// Power of the bursts (on-phases only) in [from, to), shifted by `lag`.
double burst_power_db(const std::vector<int16_t> &s, uint32 rate, size_t from, size_t to, size_t lag) {
    double sum = 0.0;
    size_t count = 0;
    for (size_t i = from; i < to; ++i) {
        if (((i - 2 * rate) / (rate / 5)) % 2 != 0) continue;
        sum += double(s[i + lag]) * s[i + lag];
        ++count;
    }
    return 10.0 * std::log10(sum / count + 1e-12);
}

TEST(SignalPath, NoiseIsReducedAndBurstsSurviveInEveryMode) {
    const uint32 rate = 16000, lag = 190;
    const std::vector<int16_t> in = noise_then_bursts(rate);
    const double noise_in = power_db(in, rate, 2 * rate - lag);
    const double bursts_in = burst_power_db(in, rate, 3 * rate, 4 * rate - 2 * lag, 0);
    const double min_drop[] = {6.0, 6.0, 15.0, 15.0};
    for (int8 mode = 0; mode <= 3; ++mode) {
        Suppressor s(rate, mode);
        const std::vector<int16_t> out = s.process(in);
        EXPECT_LT(power_db(out, rate + lag, 2 * rate), noise_in - min_drop[mode]) << "mode " << int(mode);
        EXPECT_NEAR(burst_power_db(out, rate, 3 * rate, 4 * rate - 2 * lag, lag), bursts_in, 1.5)
            << "mode " << int(mode);
    }
}

TEST(SignalPath, InactiveSignalOutputsTheNoiseEstimate) {
    const uint32 rate = 16000, lag = 190;
    const std::vector<int16_t> in = noise_then_bursts(rate);
    Suppressor active(rate, 1), inactive(rate, 1);
    const std::vector<int16_t> out = inactive.process(in, 0);
    active.process(in, 1);
    // The estimators run the same whatever is output.
    EXPECT_EQ(0, std::memcmp(active->Hn, inactive->Hn, sizeof active->Hn));
    EXPECT_EQ(0, std::memcmp(active->arN, inactive->arN, sizeof active->arN));
    // Where there is only noise the noise estimate carries most of it;
    // where the bursts play, they are not taken for noise.
    EXPECT_NEAR(power_db(out, rate + lag, 2 * rate), power_db(in, rate, 2 * rate - lag), 6.0);
    EXPECT_LT(burst_power_db(out, rate, 3 * rate, 4 * rate - 2 * lag, lag),
              burst_power_db(in, rate, 3 * rate, 4 * rate - 2 * lag, 0) - 10.0);
}

// A very deep limit with a very quiet stretch (a constant just above
// near-silence) used to divide a large mean noise power by a vanishing one
// and poison every estimator with NaN.
// (Mode 0 at such limits settles on a gain of one and outputs silence by
// its own rule; the other modes must carry the later sound.)
TEST(SignalPath, DeepLimitAfterNearSilenceStaysFinite) {
    const uint32 rate = 16000;
    std::vector<int16_t> in = white_noise(rate * 2, 12000.0, 9);
    in.insert(in.end(), rate * 2, 4);
    const std::vector<int16_t> after = mix(white_noise(rate * 2, 1000.0, 10), tone_bursts(rate * 2, rate, 9000));
    in.insert(in.end(), after.begin(), after.end());
    for (int8 mode = 0; mode <= 3; ++mode) {
        Suppressor s(rate, mode, -140.0f);
        bool finite = true;
        const std::vector<int16_t> out = testsupport::feed_blocks(*s.rec, in, 1, [&](size_t) {
            finite = finite && all_finite(s->Hn, s->wmax) && all_finite(s->arS, s->wmax) &&
                     all_finite(s->psdNmean, s->wmax) && all_finite(s->psdX, s->wmax) &&
                     std::isfinite(s->r_MeanVAD) && std::isfinite(s->r_Mean2VAD);
        });
        EXPECT_TRUE(finite) << "mode " << int(mode);
        if (mode != 0) {
            EXPECT_GT(power_db(out, 5 * rate, 6 * rate - 400), 60.0) << "silent, mode " << int(mode);
        }
    }
}

// --------------------------------------------------------------- equalizer

class Equalizer : public ::testing::Test {
protected:
    Suppressor s{16000};
    std::vector<float> before;
    void SetUp() override {
        s.frame(white_noise(190, 3000.0, 1));
        s.frame(white_noise(190, 3000.0, 2));
        before.assign(s->psdX, s->psdX + s->wmax);
    }
};

TEST_F(Equalizer, OneGainPerBinAndCoarseTablesMapToRuns) {
    std::vector<float> per_bin(s->wmax);
    for (uint32 w = 0; w < s->wmax; ++w) per_bin[w] = 1.0f + w;
    SpectSubtract_Equalizer(s.rec.get(), static_cast<int32>(s->wmax), per_bin.data());
    for (uint32 w = 0; w < s->wmax; ++w) EXPECT_EQ(s->psdX[w], (1.0f + w) * before[w]) << w;

    std::copy(before.begin(), before.end(), s->psdX);
    const float three[] = {2.0f, 3.0f, 4.0f};
    SpectSubtract_Equalizer(s.rec.get(), 3, three);
    ASSERT_EQ(s->wmax, 257u);
    for (uint32 w = 0; w < 257; ++w) {
        const float g = w < 128 ? 2.0f : w < 256 ? 3.0f : 4.0f;
        EXPECT_EQ(s->psdX[w], g * before[w]) << w;
    }
}

TEST_F(Equalizer, ZeroGainKeepsATraceAndNoGainsDoNothing) {
    const float zero[] = {0.0f};
    SpectSubtract_Equalizer(s.rec.get(), 1, zero);
    for (uint32 w = 0; w < s->wmax; ++w) EXPECT_EQ(s->psdX[w], 1e-20f * before[w]);
    std::copy(before.begin(), before.end(), s->psdX);
    SpectSubtract_Equalizer(s.rec.get(), 0, zero);
    SpectSubtract_Equalizer(s.rec.get(), -5, zero);
    EXPECT_EQ(0, std::memcmp(s->psdX, before.data(), before.size() * sizeof(float)));
}

}  // namespace
