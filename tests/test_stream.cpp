// The host layer. The any-length stream against the plain block loop:
// whatever the chunk sizes, the block delivery gives the block loop's
// output, the aligned stream gives it shifted by one block, and the
// fixed-delay stream gives that again `latency` samples late. The ranges
// as described, against the checks.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "spstream.h"
#include "test_support.h"

namespace {

using testsupport::block_loop;

std::vector<int16_t> noisy_bursts(uint32_t rate, size_t n) {
    return testsupport::mix(testsupport::white_noise(n, 600.0, rate),
                            testsupport::tone(n, 440.0, rate, 3000.0));
}

// Feeds the samples in chunks of random length (from 1 up to `longest`),
// watching the distance to the next block end on the way.
std::vector<int16_t> stream_in_chunks(TSpectStream *s, const std::vector<int16_t> &x, uint32_t seed,
                                      uint32_t longest) {
    std::mt19937 rng(seed);
    std::vector<int16_t> out, buf(longest + SPSTREAM_MAX_BLOCK + 2 * SPSTREAM_MAX_BLOCK);
    const uint32_t B = SpectStream_Block(s);
    for (size_t at = 0; at < x.size();) {
        const uint32_t n = std::min<uint32_t>(1 + rng() % longest, static_cast<uint32_t>(x.size() - at));
        EXPECT_EQ(SpectStream_ToBlockEnd(s), B - at % B);
        const uint32_t got = SpectStream_Process16(s, x.data() + at, n, buf.data());
        out.insert(out.end(), buf.begin(), buf.begin() + got);
        at += n;
    }
    const uint32_t got = SpectStream_Flush16(s, buf.data());
    out.insert(out.end(), buf.begin(), buf.begin() + got);
    EXPECT_EQ(SpectStream_ToBlockEnd(s), 0u);
    return out;
}

struct Case {
    uint32_t rate;
    int mode;
};

class Stream : public testing::TestWithParam<Case> {};

TEST_P(Stream, AlignedOutputIsTheBlockLoopShiftedByOneBlock) {
    const Case c = GetParam();
    // Not a whole number of blocks, so the flush completes a partial one.
    const std::vector<int16_t> x = noisy_bursts(c.rate, c.rate * 3 / 2 + 77);
    TSpectStream s;
    ASSERT_EQ(SpectStream_Init(&s, c.rate, c.mode, -20.0f, 0.95f, 0.98f, SPSTREAM_ALIGNED), 1);
    const uint32_t B = SpectStream_Block(&s);
    const std::vector<int16_t> aligned = stream_in_chunks(&s, x, c.rate + c.mode, 3 * B);
    ASSERT_EQ(aligned.size(), x.size());

    // The block loop on the input padded with silence to whole blocks and
    // one block more: its output from block 1 on is the aligned output.
    std::vector<int16_t> padded = x;
    padded.resize((x.size() / B + 2) * B, 0);
    const std::vector<int16_t> ref = block_loop(padded, c.rate, c.mode);
    EXPECT_TRUE(std::equal(aligned.begin(), aligned.end(), ref.begin() + B));
    // The block delivery is the loop itself: the partial last block dropped.
    TSpectStream b;
    ASSERT_EQ(SpectStream_Open(&b, c.rate, c.mode, -20.0f, 0.95f, 0.98f, SPSTREAM_BLOCKS), SPSTREAM_OK);
    EXPECT_EQ(stream_in_chunks(&b, x, c.rate, 2 * B), block_loop(x, c.rate, c.mode));
    // The flush ended the stream.
    int16_t one = 0, buf[2 * SPSTREAM_MAX_BLOCK];
    EXPECT_EQ(SpectStream_Process16(&s, &one, 1, buf), 0u);
    EXPECT_EQ(SpectStream_Flush16(&s, buf), 0u);
}

TEST_P(Stream, FixedDelayIsTheAlignedOutputLatencyLateInPlace) {
    const Case c = GetParam();
    const std::vector<int16_t> x = noisy_bursts(c.rate, c.rate + 5);
    TSpectStream a, f;
    ASSERT_EQ(SpectStream_Init(&a, c.rate, c.mode, -20.0f, 0.95f, 0.98f, SPSTREAM_ALIGNED), 1);
    ASSERT_EQ(SpectStream_Init(&f, c.rate, c.mode, -20.0f, 0.95f, 0.98f, SPSTREAM_FIXED_DELAY), 1);
    const std::vector<int16_t> aligned = stream_in_chunks(&a, x, 7, 4096);
    const uint32_t L = SpectStream_Latency(&f);
    EXPECT_EQ(L, 2 * SpectStream_Block(&f) - 1);

    std::vector<int16_t> io = x;  // processed in place, in chunks
    std::mt19937 rng(c.rate);
    for (size_t at = 0; at < io.size();) {
        const uint32_t n = std::min<uint32_t>(1 + rng() % 700, static_cast<uint32_t>(io.size() - at));
        ASSERT_EQ(SpectStream_Process16(&f, io.data() + at, n, io.data() + at), n);
        at += n;
    }
    std::vector<int16_t> tail(2 * SPSTREAM_MAX_BLOCK);
    ASSERT_EQ(SpectStream_Flush16(&f, tail.data()), L);
    io.insert(io.end(), tail.begin(), tail.begin() + L);
    for (size_t t = 0; t < L; ++t) ASSERT_EQ(io[t], 0) << t;
    EXPECT_TRUE(std::equal(aligned.begin(), aligned.end(), io.begin() + L));
}

TEST_P(Stream, FloatScaleTakesSixteenBitValuesExactly) {
    const Case c = GetParam();
    const std::vector<int16_t> x = noisy_bursts(c.rate, c.rate / 2);
    std::vector<float> xf(x.size()), yf(x.size() + 4 * SPSTREAM_MAX_BLOCK);
    for (size_t i = 0; i < x.size(); ++i) xf[i] = x[i] / 32768.0f;
    TSpectStream a, f;
    ASSERT_EQ(SpectStream_Init(&a, c.rate, c.mode, -20.0f, 0.95f, 0.98f, SPSTREAM_ALIGNED), 1);
    ASSERT_EQ(SpectStream_Init(&f, c.rate, c.mode, -20.0f, 0.95f, 0.98f, SPSTREAM_ALIGNED), 1);
    const std::vector<int16_t> ref = stream_in_chunks(&a, x, 3, 999);
    uint32_t n = SpectStream_ProcessFloat(&f, xf.data(), static_cast<uint32_t>(xf.size()), yf.data());
    n += SpectStream_FlushFloat(&f, yf.data() + n);
    ASSERT_EQ(n, x.size());
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(yf[i], ref[i] / 32768.0f) << i;
}

INSTANTIATE_TEST_SUITE_P(RatesAndModes, Stream,
                         testing::Values(Case{8000, 0}, Case{16000, 2}, Case{44100, 1},
                                         Case{48000, 3}, Case{22050, 2}),
                         [](const testing::TestParamInfo<Case> &i) {
                             return std::to_string(i.param.rate) + "Hz_mode" +
                                    std::to_string(i.param.mode);
                         });

TEST(StreamConversion, RoundsToNearestEvenSaturatesAndSilencesNonFinite) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(SpectStream_FromFloat(0.5f / 32768.0f), 0);
    EXPECT_EQ(SpectStream_FromFloat(1.5f / 32768.0f), 2);
    EXPECT_EQ(SpectStream_FromFloat(-2.5f / 32768.0f), -2);
    EXPECT_EQ(SpectStream_FromFloat(0.4f / 32768.0f), 0);
    EXPECT_EQ(SpectStream_FromFloat(1.0f), 32767);
    EXPECT_EQ(SpectStream_FromFloat(-1.0f), -32768);
    EXPECT_EQ(SpectStream_FromFloat(-7.0f), -32768);
    EXPECT_EQ(SpectStream_FromFloat(1e30f), 32767);
    EXPECT_EQ(SpectStream_FromFloat(inf), 0);
    EXPECT_EQ(SpectStream_FromFloat(-inf), 0);
    EXPECT_EQ(SpectStream_FromFloat(std::numeric_limits<float>::quiet_NaN()), 0);
    for (int v = -32768; v <= 32767; ++v)
        ASSERT_EQ(SpectStream_FromFloat(SpectStream_ToFloat(static_cast<int16>(v))), v);
}

TEST(StreamInit, NamesWhatIsWrongAndLeavesTheRecord) {
    TSpectStream s;
    std::memset(&s, 0x5a, sizeof s);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Refusal {
        uint32_t rate;
        int mode;
        float pSdb, pNn, pMn;
        int delivery, status;
    };
    const Refusal refusals[] = {
        {16000, 4, -20, 0.95f, 0.98f, SPSTREAM_ALIGNED, SPSTREAM_BAD_MODE},
        {16000, 258, -20, 0.95f, 0.98f, SPSTREAM_ALIGNED, SPSTREAM_BAD_MODE},  // no int8 wrap
        {16000, 2, 1, 0.95f, 0.98f, SPSTREAM_ALIGNED, SPSTREAM_BAD_LIMIT},
        {16000, 2, nan, 0.95f, 0.98f, SPSTREAM_ALIGNED, SPSTREAM_BAD_LIMIT},
        {16000, 2, -20, 1.0f, 0.98f, SPSTREAM_ALIGNED, SPSTREAM_BAD_ADAPTATION},
        {16000, 2, -20, 0.95f, nan, SPSTREAM_ALIGNED, SPSTREAM_BAD_SMOOTHING},
        {5999, 2, -20, 0.95f, 0.98f, SPSTREAM_ALIGNED, SPSTREAM_BAD_RATE},
        {192001, 9, -20, 0.95f, 0.98f, SPSTREAM_ALIGNED, SPSTREAM_BAD_RATE},  // the first wrong
        {16000, 2, -20, 0.95f, 0.98f, 3, SPSTREAM_BAD_DELIVERY},
    };
    for (const Refusal &r : refusals) {
        EXPECT_EQ(SpectStream_Open(&s, r.rate, r.mode, r.pSdb, r.pNn, r.pMn, r.delivery), r.status);
        if (r.mode == static_cast<int8>(r.mode)) {
            EXPECT_EQ(SpectStream_Init(&s, r.rate, static_cast<int8>(r.mode), r.pSdb, r.pNn, r.pMn, r.delivery), 0);
        }
    }
    TSpectStream untouched;
    std::memset(&untouched, 0x5a, sizeof untouched);
    EXPECT_EQ(std::memcmp(&s, &untouched, sizeof s), 0);
    std::set<std::string> messages;
    for (int status = SPSTREAM_OK; status <= SPSTREAM_BAD_DELIVERY; ++status)
        messages.insert(SpectStream_Message(status));
    EXPECT_EQ(messages.size(), 8u);
    EXPECT_STREQ(SpectStream_Message(SPSTREAM_BAD_RATE), "rate must be 6000 to 192000 Hz");

    ASSERT_EQ(SpectStream_Init(&s, 6000, 2, -20, 0.95f, 0.98f, SPSTREAM_FIXED_DELAY), 1);
    EXPECT_EQ(SpectStream_Block(&s), 90u);
    EXPECT_EQ(SpectStream_Speech(&s), 0);
    EXPECT_EQ(SpectStream_Retune(&s, 2, 0.5f, 0.95f, 0.98f), SPSTREAM_BAD_LIMIT);
    EXPECT_EQ(SpectStream_Reset(&s, 3, -40, 0.9f, 0.9f), 1);
    EXPECT_EQ(s.ns.kind_subst, 3);
}

// Each described range is what the checks accept: its ends, and the next
// values outside them.
TEST(StreamRanges, DescribeWhatTheChecksAccept) {
    TSpectRange r;
    std::set<std::string> names;
    for (int p = 0; const char *name = SpectStream_Range(p, &r); ++p) {
        names.insert(name);
        if (p == SPSTREAM_PARAM_RATE) r.fallback = r.low;  // the rate has no default
        EXPECT_LE(r.minimum, r.low);
        EXPECT_LE(r.low, r.fallback);
        EXPECT_LE(r.fallback, r.high);
        EXPECT_LE(r.high, r.maximum);
        auto accepted = [&](double v) -> bool {
            const float f = static_cast<float>(v);
            switch (p) {
            case SPSTREAM_PARAM_RATE: return SpectStream_CheckFormat(static_cast<uint32>(v), 1) == SPSTREAM_OK;
            case SPSTREAM_PARAM_CHANNELS: return SpectStream_CheckFormat(16000, static_cast<uint32>(v)) == SPSTREAM_OK;
            case SPSTREAM_PARAM_MODE: return SpectStream_CheckParameters(static_cast<int>(v), -20, 0.95f, 0.98f) == SPSTREAM_OK;
            case SPSTREAM_PARAM_LIMIT: return SpectStream_CheckParameters(2, f, 0.95f, 0.98f) == SPSTREAM_OK;
            case SPSTREAM_PARAM_ADAPTATION: return SpectStream_CheckParameters(2, -20, f, 0.98f) == SPSTREAM_OK;
            default: return SpectStream_CheckParameters(2, -20, 0.95f, f) == SPSTREAM_OK;
            }
        };
        const bool whole = p <= SPSTREAM_PARAM_MODE;
        const float top = static_cast<float>(r.maximum);
        EXPECT_TRUE(accepted(r.fallback) && accepted(r.low) && accepted(r.high)) << name;
        EXPECT_EQ(accepted(r.maximum), !r.maximum_excluded) << name;
        EXPECT_FALSE(accepted(whole ? r.maximum + 1 : std::nextafter(top, 2 * top + 1))) << name;
        if (std::isfinite(r.minimum)) {
            EXPECT_TRUE(accepted(r.minimum)) << name;
            EXPECT_FALSE(accepted(whole ? r.minimum - 1 : std::nextafter(float(r.minimum), -1.0f))) << name;
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"rate", "channels", "mode", "limit_db", "adaptation", "smoothing"}));
    EXPECT_EQ(SpectStream_Range(-1, &r), nullptr);
    EXPECT_STREQ(SpectStream_DeliveryName(SPSTREAM_BLOCKS), "blocks");
    EXPECT_EQ(SpectStream_DeliveryName(3), nullptr);
}

}  // namespace
