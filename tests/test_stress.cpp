// Numeric stress through the library: extreme but valid inputs in every mode
// at a low, a middle and a high rate. No state value may become infinite or
// NaN (the output would hide it, for NaN saturates to 0), and afterwards the
// suppressor must pass sound again.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "spsubst.h"
#include "test_support.h"

namespace {

using testsupport::mix;
using testsupport::tone;
using testsupport::white_noise;
using Signal = std::vector<int16_t>;

bool finite(const float *a, uint32 n) {
    for (uint32 i = 0; i < n; ++i)
        if (!std::isfinite(a[i])) return false;
    return true;
}

// Every float the record carries from frame to frame, and the spectra.
bool state_finite(const TSpectSubtract &s) {
    const uint32 n = s.wmax;
    for (const float *a : {s.psdX, s.phasa, s.psdS, s.psdSmean, s.psdN, s.psdNmean, s.Hn, s.arX0,
                           s.arX, s.arXmin, s.arXtmp, s.arPROB, s.arPost, s.arN, s.arS})
        if (!finite(a, n)) return false;
    return finite(s.buff, s.nfft) && finite(s.buffPrev, s.len) && std::isfinite(s.r_MeanVAD) &&
           std::isfinite(s.r_Mean2VAD);
}

class Stream {
public:
    Stream(uint32 rate, int8 mode, mfloat pSdb) {
        std::memset(rec_.get(), 0, sizeof(TSpectSubtract));
        SpectSubtract_Init(rec_.get(), rate, mode, pSdb, 0.95f, 0.98f);
    }
    uint32 lag() const { return rec_->lenHalf; }
    // Frame number of the first check that found a non-finite state, or 0.
    uint32 first_bad_frame() const { return bad_frame_; }

    // Whole blocks in, the output (one block late) back. The state is
    // checked every fourth frame and at the last.
    Signal feed(const Signal &in) {
        const size_t blocks = in.size() / rec_->lenHalf;
        return testsupport::feed_blocks(*rec_, in, 1, [&](size_t k) {
            ++frames_;
            if (bad_frame_ == 0 && (frames_ % 4 == 0 || k + 1 == blocks) && !state_finite(*rec_))
                bad_frame_ = frames_;
        });
    }

private:
    std::unique_ptr<TSpectSubtract> rec_{new TSpectSubtract};
    uint32 frames_ = 0;
    uint32 bad_frame_ = 0;
};

// Up to `to` or the end of what the whole blocks gave.
double power_db(const Signal &s, size_t from, size_t to) {
    to = std::min(to, s.size());
    double sum = 0.0;
    for (size_t i = from; i < to; ++i) sum += double(s.at(i)) * s.at(i);
    return 10.0 * std::log10(sum / double(to - from) + 1e-12);
}

// Loud speech-like sound: 250 ms syllables of a 150 Hz buzz with two
// formant-like tones and breath noise, 150 ms of digital silence between.
Signal speech_like(size_t n, uint32 rate) {
    Signal s = mix(mix(tone(n, 150.0, rate, 7000.0), tone(n, 650.0, rate, 6000.0)),
                   mix(tone(n, 2300.0, rate, 3000.0), white_noise(n, 700.0, 5)));
    const size_t period = rate * 2 / 5, on = rate / 4;
    for (size_t i = 0; i < n; ++i)
        if (i % period >= on) s[i] = 0;
    return s;
}

// Full scale, half a period high and half low; a period of 2 alternates.
Signal square(size_t n, size_t period) {
    Signal s(n);
    for (size_t i = 0; i < n; ++i) s[i] = (i / (period / 2)) % 2 ? -32768 : 32767;
    return s;
}

Signal dither(size_t n) {
    std::mt19937 rng(17);
    Signal s(n);
    for (int16_t &v : s) v = static_cast<int16_t>(int(rng() % 3) - 1);
    return s;
}

Signal click(size_t n) {
    Signal s(n, 0);
    s[n / 2] = 32767;
    return s;
}

const char *const kModes[] = {"mode 0", "mode 1", "mode 2", "mode 3"};

class Stress : public testing::TestWithParam<uint32> {};

// Three seconds of an extreme signal, then two of noise and three of
// speech-like sound over it. The noise must not come out louder than it went
// in, and the sound must come through within 10 dB of what a fresh
// suppressor gives (a full-scale past fades over seconds at 44.1 kHz, whose
// frames are long; a suppressor that stays shut falls far below that).
TEST_P(Stress, ExtremeInputsLeaveItWorking) {
    const uint32 rate = GetParam();
    const size_t n = 3 * rate;
    Signal after = white_noise(5 * rate, 1000.0, 8);
    const Signal speech = speech_like(3 * rate, rate);
    for (size_t i = 0; i < speech.size(); ++i)
        after[2 * rate + i] = static_cast<int16_t>(std::clamp(after[2 * rate + i] + speech[i], -32768, 32767));
    const double noise_in = power_db(after, rate, 2 * rate);
    Signal dc = white_noise(n, 300.0, 4);
    for (int16_t &v : dc) v = static_cast<int16_t>(v + 30000);
    const struct {
        const char *name;
        Signal signal;
    } extremes[] = {{"square", square(n, rate / 100)}, {"alternating", square(n, 2)},
                    {"dc", dc},                        {"dither", dither(n)},
                    {"click", click(n)}};
    for (int8 mode = 0; mode <= 3; ++mode) {
        Stream fresh(rate, mode, -20.0f);
        const Signal reference = fresh.feed(after);
        const size_t lag = fresh.lag();
        const double sound_fresh = power_db(reference, 3 * rate + lag, 5 * rate);
        for (const auto &e : extremes) {
            SCOPED_TRACE(std::string(kModes[mode]) + " after " + e.name);
            Stream s(rate, mode, -20.0f);
            s.feed(e.signal);
            const Signal out = s.feed(after);
            EXPECT_EQ(s.first_bad_frame(), 0u);
            EXPECT_LT(power_db(out, rate + lag, 2 * rate), noise_in + 1.0);
            EXPECT_GT(power_db(out, 3 * rate + lag, 5 * rate), sound_fresh - 10.0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, Stress, testing::Values(8000u, 16000u, 44100u),
                         [](const testing::TestParamInfo<uint32> &i) {
                             return std::to_string(i.param) + "Hz";
                         });

}  // namespace
