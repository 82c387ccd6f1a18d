// The two-thread cleaner against the one-thread references: the block loop
// for the block delivery, the aligned stream for the aligned one, on one
// thread and two, over lengths around its block and batch boundaries.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "cleaner.h"
#include "test_support.h"

namespace {

using testsupport::block_loop;

struct Source {
    std::vector<int16_t> frames;  // interleaved
    unsigned channels;
    size_t at = 0;
    size_t reads = 0, short_after = SIZE_MAX;  // a read short on purpose
    size_t fail_writes_after = SIZE_MAX, writes = 0;
    std::vector<int16_t> out = {};

    static size_t read(void *context, int16 *frames, size_t count) {
        Source &s = *static_cast<Source *>(context);
        size_t k = std::min(count, s.frames.size() / s.channels - s.at);
        if (++s.reads > s.short_after) k = std::min<size_t>(k, 5);
        std::copy_n(s.frames.begin() + s.at * s.channels, k * s.channels, frames);
        s.at += k;
        return k;
    }
    static int write(void *context, const int16 *frames, size_t count) {
        Source &s = *static_cast<Source *>(context);
        if (s.writes++ >= s.fail_writes_after) return 0;
        s.out.insert(s.out.end(), frames, frames + count * s.channels);
        return 1;
    }
};

// Noise and a tone, with a stretch of near-silence (+-1) in the middle,
// which the estimator treats apart.
std::vector<int16_t> noisy(uint32_t rate, size_t n, uint32_t seed) {
    std::vector<int16_t> x = testsupport::mix(testsupport::white_noise(n, 700.0, seed),
                                              testsupport::tone(n, 300.0 + seed % 200, rate, 2500.0));
    for (size_t i = n / 3; i < n / 2; ++i) x[i] = static_cast<int16_t>(i % 3) - 1;
    return x;
}

std::vector<int16_t> channel_of(const std::vector<int16_t> &frames, unsigned channels, unsigned c) {
    std::vector<int16_t> x;
    for (size_t i = c; i < frames.size(); i += channels) x.push_back(frames[i]);
    return x;
}

// The aligned stream, in one call and a flush.
std::vector<int16_t> aligned_stream(const std::vector<int16_t> &x, uint32_t rate, int mode) {
    TSpectStream s;
    EXPECT_EQ(SpectStream_Open(&s, rate, mode, -20.0f, 0.95f, 0.98f, SPSTREAM_ALIGNED), SPSTREAM_OK);
    std::vector<int16_t> y(x.size() + 2 * SPSTREAM_MAX_BLOCK);
    uint32_t n = SpectStream_Process16(&s, x.data(), static_cast<uint32_t>(x.size()), y.data());
    n += SpectStream_Flush16(&s, y.data() + n);
    y.resize(n);
    return y;
}

struct Case {
    uint32_t rate;
    unsigned channels;
    unsigned threads;
};

class Cleaner : public testing::TestWithParam<Case> {};

TEST_P(Cleaner, GivesTheOneThreadOutputAtEveryLength) {
    const Case c = GetParam();
    const int mode = static_cast<int>(c.rate % 4);
    int status = -1;
    TCleaner *cleaner = Cleaner_New(c.rate, c.channels, mode, -20.0f, 0.95f, 0.98f, SPSTREAM_BLOCKS,
                                    c.threads, &status);
    ASSERT_NE(cleaner, nullptr);
    EXPECT_EQ(status, SPSTREAM_OK);
    const size_t B = Cleaner_Block(cleaner);
    // About four seconds of two channels make a batch.
    const size_t batch = std::max<size_t>(1, 4 * c.rate / B) / ((c.channels + 1) / 2) * B;
    TCleaner *aligned = Cleaner_New(c.rate, c.channels, mode, -20.0f, 0.95f, 0.98f, SPSTREAM_ALIGNED,
                                    c.threads, &status);
    ASSERT_NE(aligned, nullptr);

    for (size_t n : {size_t(0), B - 1, B, 3 * B + 1, batch - 1, batch, batch + B, 3 * batch + 17}) {
        std::vector<std::vector<int16_t>> channels;
        for (unsigned ch = 0; ch < c.channels; ++ch) channels.push_back(noisy(c.rate, n, 11 * ch + 1));
        Source src{testsupport::interleave(channels), c.channels};
        if (n == 0) src.frames.clear();
        ASSERT_EQ(Cleaner_Run(cleaner, Source::read, Source::write, &src), SPSTREAM_OK);
        Source al{src.frames, c.channels};
        ASSERT_EQ(Cleaner_Run(aligned, Source::read, Source::write, &al), SPSTREAM_OK);
        ASSERT_EQ(src.out.size(), n / B * B * c.channels) << n;
        ASSERT_EQ(al.out.size(), n * c.channels) << n;
        for (unsigned ch = 0; ch < c.channels; ++ch) {
            ASSERT_EQ(channel_of(src.out, c.channels, ch), block_loop(channels[ch], c.rate, mode))
                << "length " << n << ", channel " << ch;
            ASSERT_EQ(channel_of(al.out, c.channels, ch), aligned_stream(channels[ch], c.rate, mode))
                << "aligned, length " << n << ", channel " << ch;
        }
    }
    Cleaner_Free(cleaner);
    Cleaner_Free(aligned);
}

INSTANTIATE_TEST_SUITE_P(RatesChannelsThreads, Cleaner,
                         testing::Values(Case{8000, 1, 2}, Case{8000, 1, 1}, Case{16000, 2, 2},
                                         Case{44100, 2, 1}, Case{22050, 3, 2}),
                         [](const testing::TestParamInfo<Case> &i) {
                             return std::to_string(i.param.rate) + "Hz_" +
                                    std::to_string(i.param.channels) + "ch_" +
                                    std::to_string(i.param.threads) + "threads";
                         });

TEST(CleanerRun, ShortReadEndsTheInputAndAFailedWriteStopsTheRun) {
    const uint32_t rate = 8000;
    const std::vector<int16_t> x = noisy(rate, 20 * rate, 3);
    int status;
    TCleaner *c = Cleaner_New(rate, 1, 2, -20.0f, 0.95f, 0.98f, SPSTREAM_BLOCKS, 2, &status);
    ASSERT_NE(c, nullptr);
    const size_t B = Cleaner_Block(c);

    // A short read is the end: what came before it is cleaned as a whole.
    Source cut{x, 1};
    cut.short_after = 1;
    ASSERT_EQ(Cleaner_Run(c, Source::read, Source::write, &cut), SPSTREAM_OK);
    const std::vector<int16_t> head(x.begin(), x.begin() + cut.at);
    EXPECT_EQ(cut.out, block_loop(head, rate, 2));
    EXPECT_LT(cut.at, x.size());

    Source failing{x, 1};
    failing.fail_writes_after = 1;
    EXPECT_EQ(Cleaner_Run(c, Source::read, Source::write, &failing), CLEANER_WRITE_FAILED);
    EXPECT_EQ(failing.writes, 2u);
    EXPECT_LT(failing.out.size(), x.size() / B * B);
    Cleaner_Free(c);
}

TEST(CleanerNew, RefusesWhatTheLayerRefuses) {
    int status = -1;
    EXPECT_EQ(Cleaner_New(16000, 0, 2, -20.0f, 0.95f, 0.98f, SPSTREAM_BLOCKS, 0, &status), nullptr);
    EXPECT_EQ(status, SPSTREAM_BAD_CHANNELS);
    EXPECT_EQ(Cleaner_New(16000, SPSTREAM_MAX_CHANNELS + 1, 2, -20.0f, 0.95f, 0.98f, SPSTREAM_BLOCKS, 0,
                          &status),
              nullptr);
    EXPECT_EQ(status, SPSTREAM_BAD_CHANNELS);
    EXPECT_EQ(Cleaner_New(16000, 1, 258, -20.0f, 0.95f, 0.98f, SPSTREAM_BLOCKS, 0, &status), nullptr);
    EXPECT_EQ(status, SPSTREAM_BAD_MODE);
    EXPECT_EQ(Cleaner_New(16000, 1, 2, -20.0f, 0.95f, 1.0f, SPSTREAM_BLOCKS, 0, &status), nullptr);
    EXPECT_EQ(status, SPSTREAM_BAD_SMOOTHING);
    EXPECT_EQ(Cleaner_New(16000, 1, 2, -20.0f, 0.95f, 0.98f, SPSTREAM_FIXED_DELAY, 0, &status), nullptr);
    EXPECT_EQ(status, SPSTREAM_BAD_DELIVERY);
}

}  // namespace
