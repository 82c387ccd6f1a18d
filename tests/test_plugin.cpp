// The plugin module loaded as hosts load it (dlopen, then its descriptor
// functions), driven with the buffer sizes, control values and inputs that
// hosts may send. The reference is the plain block loop: a fixed-delay
// plugin gives at sample t what the loop writes at t - (lenHalf - 1).
#include <dlfcn.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <ladspa.h>
#include <lv2/core/lv2.h>

#include "geometry.h"
#include "spstream.h"
#include "test_support.h"

namespace {

using testsupport::block_loop;
using testsupport::golden_channel;
using Signal = std::vector<float>;

// Port layout of both variants: four input controls, speech, latency, then
// the audio inputs and outputs.
enum { kMode, kLimit, kAdaptation, kSmoothing, kSpeech, kLatency, kAudio };

struct Module {
    void *handle = dlopen(TNC_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    template <class F> F symbol(const char *name) const {
        return handle ? reinterpret_cast<F>(dlsym(handle, name)) : nullptr;
    }
    const LADSPA_Descriptor *ladspa(unsigned channels) const {
        auto f = symbol<LADSPA_Descriptor_Function>("ladspa_descriptor");
        return f ? f(channels - 1) : nullptr;
    }
    const LV2_Descriptor *lv2(unsigned channels) const {
        auto f = symbol<LV2_Descriptor_Function>("lv2_descriptor");
        return f ? f(channels - 1) : nullptr;
    }
};

const Module &module() {
    static const Module m;
    return m;
}

// One LADSPA instance with the host's side of its ports.
class Host {
public:
    Host(unsigned channels, unsigned long rate) : channels_(channels), d_(module().ladspa(channels)) {
        if (d_ == nullptr) return;
        h_ = d_->instantiate(d_, rate);
        if (h_ == nullptr) return;
        for (unsigned p = 0; p < kAudio; ++p) d_->connect_port(h_, p, &control[p]);
        d_->activate(h_);
    }
    ~Host() {
        if (h_ != nullptr) d_->cleanup(h_);
    }
    bool ok() const { return h_ != nullptr; }
    void activate() { d_->activate(h_); }

    // Runs n samples of every channel from `at`; in[c] and out[c] may be one buffer.
    void run(std::vector<Signal *> in, std::vector<Signal *> out, size_t at, unsigned long n) {
        for (unsigned c = 0; c < channels_; ++c) {
            d_->connect_port(h_, kAudio + c, in[c]->data() + at);
            d_->connect_port(h_, kAudio + channels_ + c, out[c]->data() + at);
        }
        d_->run(h_, n);
    }

    // Whole signals in chunks of random length (0 and 1 included, up to
    // `longest`); every third chunk in place.
    std::vector<Signal> stream(const std::vector<Signal> &in, uint32_t seed, unsigned long longest,
                               const std::function<void(size_t)> &before_chunk = nullptr) {
        std::mt19937 rng(seed);
        std::vector<Signal> work = in, out(channels_, Signal(in[0].size(), 99.0f));
        std::vector<Signal *> ins, outs, same;
        for (unsigned c = 0; c < channels_; ++c) {
            ins.push_back(&work[c]);
            outs.push_back(&out[c]);
        }
        for (size_t at = 0, k = 0; at < in[0].size(); ++k) {
            const unsigned long n = std::min<unsigned long>(rng() % (longest + 1), in[0].size() - at);
            if (before_chunk) before_chunk(at);
            run(ins, k % 3 == 2 ? ins : outs, at, n);
            if (k % 3 == 2)
                for (unsigned c = 0; c < channels_; ++c)
                    std::copy(work[c].begin() + at, work[c].begin() + at + n, out[c].begin() + at);
            at += n;
        }
        return out;
    }

    float control[kAudio] = {2.0f, -20.0f, 0.95f, 0.98f, -1.0f, -1.0f};

private:
    unsigned channels_;
    const LADSPA_Descriptor *d_;
    LADSPA_Handle h_ = nullptr;
};

Signal to_float(const std::vector<int16_t> &x) {
    Signal f;
    for (int16_t v : x) f.push_back(v / 32768.0f);
    return f;
}

// The plugin's output against the block loop's, sample for sample from
// the first sample that left the stream's start-up silence.
void expect_block_loop_delayed(const Signal &out, const std::vector<int16_t> &loop, uint32_t block,
                               const char *what) {
    const size_t latency = 2 * block - 1;
    ASSERT_GT(out.size(), latency);
    for (size_t t = 0; t < latency; ++t) ASSERT_EQ(out[t], 0.0f) << what << " sample " << t;
    for (size_t t = latency; t < out.size() && t - block + 1 < loop.size(); ++t)
        ASSERT_EQ(out[t] * 32768.0f, loop[t - block + 1]) << what << " sample " << t;
}

// The block length at a rate: half the frame of its geometry.
uint32_t block_at(uint32_t rate) { return nr_geometry::kFrames[nr_geometry::row_for_rate(rate)].len / 2; }

struct Case {
    unsigned channels;
    uint32_t rate;
    int mode;
};

class PluginStream : public testing::TestWithParam<Case> {};

TEST_P(PluginStream, AnyBufferSizesGiveTheBlockLoopDelayedByTheReportedLatency) {
    const Case c = GetParam();
    Host host(c.channels, c.rate);
    ASSERT_TRUE(host.ok());
    host.control[kMode] = static_cast<float>(c.mode);
    std::vector<std::vector<int16_t>> pcm;
    std::vector<Signal> in;
    for (unsigned ch = 0; ch < c.channels; ++ch) {
        pcm.push_back(golden_channel(c.rate, 3 + ch));
        in.push_back(to_float(pcm.back()));
    }
    const std::vector<Signal> out = host.stream(in, c.rate + c.mode, 4096);
    const uint32_t block = block_at(c.rate);
    EXPECT_EQ(host.control[kLatency], 2.0f * block - 1);
    for (unsigned ch = 0; ch < c.channels; ++ch)
        expect_block_loop_delayed(out[ch], block_loop(pcm[ch], c.rate, c.mode), block,
                                  ch == 0 ? "first channel" : "second channel");
    // Short runs, as a live host might send.
    Host live(c.channels, c.rate);
    live.control[kMode] = static_cast<float>(c.mode);
    EXPECT_EQ(live.stream(in, 7, 9), out);
}

INSTANTIATE_TEST_SUITE_P(RatesModesChannels, PluginStream,
                         testing::Values(Case{1, 8000, 0}, Case{1, 16000, 2}, Case{1, 22050, 1},
                                         Case{1, 48000, 3}, Case{2, 8000, 3}, Case{2, 44100, 2},
                                         Case{2, 32000, 0}),
                         [](const testing::TestParamInfo<Case> &i) {
                             return std::string(i.param.channels == 1 ? "mono_" : "stereo_") +
                                    std::to_string(i.param.rate) + "_mode" + std::to_string(i.param.mode);
                         });

TEST(Plugin, ControlChangeTakesEffectAtTheNextBlockAndKeepsTheNoiseEstimate) {
    const uint32_t rate = 16000, block = 190;
    const std::vector<int16_t> pcm = golden_channel(rate, 5);

    // The new values reach the plugin with the first run that starts at or
    // after sample 11477 (inside block 60); the block being gathered then is
    // the first one cleaned with them.
    Host host(1, rate);
    ASSERT_TRUE(host.ok());
    size_t changed_at = 0;
    const Signal out = host.stream({to_float(pcm)}, 11, 300, [&](size_t at) {
        if (at < 60 * block + 77 || changed_at > 0) return;
        changed_at = at;
        host.control[kMode] = 3.0f;
        host.control[kLimit] = -40.0f;
        host.control[kSmoothing] = 0.9f;
    })[0];
    ASSERT_GT(changed_at, 0u);

    // A fresh start at that block would forget the noise estimate; the
    // block loop with SpectSubtract_Reset keeps it.
    TSpectSubtract ns;
    SpectSubtract_Init(&ns, rate, 2, -20.0f, 0.95f, 0.98f);
    std::vector<int16_t> loop;
    std::vector<int16> b(block);
    for (size_t k = 0; (k + 1) * block <= pcm.size(); ++k) {
        if (k == changed_at / block) SpectSubtract_Reset(&ns, 3, -40.0f, 0.95f, 0.9f);
        std::copy(pcm.begin() + k * block, pcm.begin() + (k + 1) * block, b.begin());
        SpectSubtract_Frame(&ns, 1, b.data());
        SpectSubtract_Restore(&ns, b.data());
        loop.insert(loop.end(), b.begin(), b.end());
    }
    expect_block_loop_delayed(out, loop, block, "changed stream");
    EXPECT_NE(loop, block_loop(pcm, rate, 2));
}

TEST(Plugin, ControlsOutsideTheirRangesAreClampedAndNaNMeansTheDefault) {
    const uint32_t rate = 8000;
    const std::vector<Signal> in = {to_float(golden_channel(rate, 1))};
    auto run_with = [&](std::vector<float> controls) {
        Host host(1, rate);
        std::copy(controls.begin(), controls.end(), host.control);
        return host.stream(in, 1, 512)[0];
    };
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(run_with({7.6f, 50.0f, 2.0f, -inf}), run_with({3.0f, 0.0f, 0.999f, 0.8f}));
    EXPECT_EQ(run_with({-3.0f, -1000.0f, 0.5f, inf}), run_with({0.0f, -80.0f, 0.8f, 0.999f}));
    EXPECT_EQ(run_with({1.4f, -20.0f, 0.95f, 0.98f}), run_with({1.0f, -20.0f, 0.95f, 0.98f}));
    EXPECT_EQ(run_with({nan, nan, nan, nan}), run_with({2.0f, -20.0f, 0.95f, 0.98f}));
}

TEST(Plugin, NonFiniteAndSubnormalInputIsTakenAsSilence) {
    const uint32_t rate = 16000;
    Signal clean = to_float(golden_channel(rate, 2)), dirty = clean;
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::denorm_min(), -1e-40f};
    for (size_t i = 0; i < 4000; ++i) {
        const size_t at = 3000 + 5 * i;
        dirty[at] = specials[i % 6];
        clean[at] = 0.0f;
    }
    Host a(1, rate), b(1, rate);
    const Signal from_dirty = a.stream({dirty}, 4, 1000)[0];
    EXPECT_EQ(from_dirty, b.stream({clean}, 5, 333)[0]);
    for (float v : from_dirty) ASSERT_TRUE(std::isfinite(v));
}

TEST(Plugin, RatesTheCoreCannotServeAreRefusedAtInstantiation) {
    for (unsigned channels : {1u, 2u}) {
        const LADSPA_Descriptor *d = module().ladspa(channels);
        const LV2_Descriptor *l = module().lv2(channels);
        ASSERT_NE(d, nullptr);
        ASSERT_NE(l, nullptr);
        for (unsigned long rate : {0ul, 5999ul, 192001ul, 4294983296ul /* 2^32 + 16000 */,
                                   std::numeric_limits<unsigned long>::max()})
            EXPECT_EQ(d->instantiate(d, rate), nullptr) << rate;
        for (double rate : {0.0, -16000.0, 44100.5, 1e12, std::nan(""), HUGE_VAL})
            EXPECT_EQ(l->instantiate(l, rate, "", nullptr), nullptr) << rate;
        for (unsigned long rate : {6000ul, 192000ul}) {
            LADSPA_Handle h = d->instantiate(d, rate);
            EXPECT_NE(h, nullptr) << rate;
            if (h) d->cleanup(h);
        }
    }
}

TEST(Plugin, ReactivationStartsANewStream) {
    const uint32_t rate = 16000;
    const std::vector<Signal> in = {to_float(golden_channel(rate, 6))};
    Host fresh(1, rate), reused(1, rate);
    const Signal first = fresh.stream(in, 1, 2000)[0];
    reused.control[kMode] = 0.0f;
    reused.stream(in, 2, 700);
    reused.control[kMode] = 2.0f;
    reused.activate();
    EXPECT_EQ(reused.stream(in, 3, 100)[0], first);
}

TEST(Plugin, SpeechOutputIsTheFlagOfTheLastBlock) {
    const uint32_t rate = 16000, block = 190;
    Host host(1, rate);
    const Signal in = to_float(golden_channel(rate, 1));
    std::vector<float> flags;
    for (size_t at = 0; at + block <= in.size(); at += block) {
        Signal copy(in.begin() + at, in.begin() + at + block), out(block);
        host.run({&copy}, {&out}, 0, block);
        flags.push_back(host.control[kSpeech]);
    }
    // Noise alone in blocks 0 to 20 (the first quarter second), the tone
    // from block 21 to 42.
    for (size_t k = 0; k <= 20; ++k) EXPECT_EQ(flags[k], 0.0f) << "block " << k;
    for (size_t k = 22; k <= 41; ++k) EXPECT_EQ(flags[k], 1.0f) << "block " << k;
}

}  // namespace
