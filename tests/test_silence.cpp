// Digital silence (samples exactly zero) and near-silence (nothing outside
// +-3: dither, a muted input) carry nothing about the noise or the speech:
// they must leave the estimator as it was. So whole blocks of them before a
// stream only delay the output, a pause does not cost noise reduction
// afterwards, and sound after a pause is kept as it is without it.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using testsupport::block_loop;
using Signal = std::vector<int16_t>;

Signal concat(Signal a, const Signal &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

double level_db(const Signal &s, size_t from, size_t to) {
    double sum = 0.0;
    for (size_t i = from; i < to && i < s.size(); ++i) sum += double(s[i]) * s[i];
    return 10.0 * std::log10(sum / double(to - from) + 1e-9);
}

// +-1 triangular dither, as editors export silence, or uniform noise in
// -3 .. 3; deterministic.
Signal near_silence(size_t n, int reach, uint32_t seed) {
    Signal s(n);
    uint32_t x = seed;
    auto next = [&x] { return x = x * 1664525u + 1013904223u, x >> 8; };
    for (int16_t &v : s)
        v = reach == 1 ? int16_t(int(next() % 2) - int(next() % 2)) : int16_t(int(next() % 7) - 3);
    return s;
}

uint32_t block_of(uint32_t rate) {
    TSpectSubtract rec;
    SpectSubtract_Init(&rec, rate, 2, -20.0f, 0.95f, 0.98f);
    return rec.lenHalf;
}

struct Case {
    uint32_t rate;
    int mode;
};

std::vector<Case> all_cases() {
    std::vector<Case> c;
    for (uint32_t rate : {8000u, 16000u, 44100u})
        for (int mode = 0; mode <= 3; ++mode) c.push_back({rate, mode});
    return c;
}

std::string case_name(const testing::TestParamInfo<Case> &i) {
    return std::to_string(i.param.rate) + "Hz_mode" + std::to_string(i.param.mode);
}

class Silence : public testing::TestWithParam<Case> {};

// One block, a second's worth and ten seconds' worth of blocks, at the
// usual and at the deepest useful limit.
TEST_P(Silence, LeadInOfWholeBlocksOnlyDelaysTheOutput) {
    const Case c = GetParam();
    const uint32_t B = block_of(c.rate);
    const Signal sound = testsupport::golden_channel(c.rate, 3);
    for (const float pSdb : {-20.0f, -80.0f}) {
        const Signal alone = block_loop(sound, c.rate, c.mode, pSdb);
        for (const size_t blocks : {size_t(1), size_t(c.rate / B), size_t(10 * c.rate / B)}) {
            SCOPED_TRACE(std::to_string(blocks) + " blocks, " + std::to_string(int(pSdb)) + " dB");
            const Signal out = block_loop(concat(Signal(blocks * B, 0), sound), c.rate, c.mode, pSdb);
            ASSERT_EQ(out, concat(Signal(blocks * B, 0), alone));
        }
    }
}

// The same with near-silence: the stream after the lead-in is cleaned as it
// is without it, to within 0.5 dB over its first second and over the rest
// (the analysis frame straddling the edge holds the lead-in's last block),
// and the lead-in comes out no louder than it went in.
TEST_P(Silence, LeadInOfNearSilenceOnlyDelaysTheOutput) {
    const Case c = GetParam();
    const uint32_t r = c.rate, B = block_of(r);
    const Signal sound = testsupport::pink_noise(4 * r, 1000.0, 5);
    const Signal alone = block_loop(sound, r, c.mode);
    for (const int reach : {1, 3}) {
        for (const size_t blocks : {size_t(r / 10 / B + 1), size_t(r / B)}) {
            SCOPED_TRACE("+-" + std::to_string(reach) + ", " + std::to_string(blocks) + " blocks");
            const Signal lead = near_silence(blocks * B, reach, 7);
            const Signal out = block_loop(concat(lead, sound), r, c.mode);
            const size_t at = lead.size();
            EXPECT_NEAR(level_db(out, at + B, at + r), level_db(alone, B, r), 0.5);
            EXPECT_NEAR(level_db(out, at + r, out.size()), level_db(alone, r, alone.size()), 0.5);
            EXPECT_LE(level_db(out, B, at), level_db(lead, 0, at - B) + 0.1);
        }
    }
}

// Steady pink noise with a pause of about 5 s after 6 s, against the same noise
// with the pause cut out: the same level over the rest of the stream, and no
// 5 s stretch far off. The frames around the pause are analysed as usual,
// and in steady noise a single false speech decision can leave the speech
// mean holding noise for good, with or without a pause; whole blocks keep
// the frames after the pause in step with those of the straight stream.
TEST_P(Silence, NoiseReductionAfterAPauseIsWhatItWasBefore) {
    const Case c = GetParam();
    const uint32_t r = c.rate, B = block_of(r);
    const Signal before = testsupport::pink_noise(6 * r / B * B, 1000.0, 31);
    const Signal after = testsupport::pink_noise(14 * r, 1000.0, 32);
    const size_t pause = 5 * r / B * B;
    const Signal paused = block_loop(concat(concat(before, Signal(pause, 0)), after), r, c.mode);
    const Signal straight = block_loop(concat(before, after), r, c.mode);
    const size_t s0 = before.size(), p0 = s0 + pause;  // where `after` starts in each input
    const size_t end = paused.size() - p0;
    EXPECT_NEAR(level_db(paused, p0, p0 + end), level_db(straight, s0, s0 + end), 1.5);
    for (size_t w = 0; w + 5 * r <= end; w += 5 * r)
        EXPECT_NEAR(level_db(paused, p0 + w, p0 + w + 5 * r), level_db(straight, s0 + w, s0 + w + 5 * r),
                    3.0)
            << "5 s window from " << w / r << " s after the pause";
    // A pause of dither costs what a pause of zeros costs.
    const Signal dithered =
        block_loop(concat(concat(before, near_silence(pause, 1, 9)), after), r, c.mode);
    for (size_t w = 0; w + r <= end; w += r)
        EXPECT_NEAR(level_db(dithered, p0 + w, p0 + w + r), level_db(paused, p0 + w, p0 + w + r), 0.5)
            << "second " << w / r << " after the pause";
}

// Noise, a 10 s pause, then a tone burst in the noise: the burst comes out
// as it does with the pause cut out, not far below its own level.
TEST_P(Silence, SoundAfterAPauseIsKeptAsWithoutIt) {
    const Case c = GetParam();
    const uint32_t r = c.rate;
    const Signal noise = testsupport::white_noise(3 * r, 800.0, 41);
    Signal burst = testsupport::white_noise(2 * r, 800.0, 42);
    burst = testsupport::mix(burst, testsupport::tone(2 * r, 1000.0, r, 8000.0));
    const Signal paused = block_loop(concat(concat(noise, Signal(10 * r, 0)), burst), r, c.mode);
    const Signal straight = block_loop(concat(noise, burst), r, c.mode);
    const size_t lag = block_of(r);
    const double kept = level_db(paused, 13 * r + lag, 15 * r);
    EXPECT_NEAR(kept, level_db(straight, 3 * r + lag, 5 * r), 1.0);
    EXPECT_GT(kept, level_db(burst, 0, 2 * r) - 10.0);  // not taken for noise
}

INSTANTIATE_TEST_SUITE_P(RatesAndModes, Silence, testing::ValuesIn(all_cases()), case_name);

}  // namespace
