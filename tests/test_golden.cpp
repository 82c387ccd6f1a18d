// Whole files through the tool, compared with checksums of outputs that
// were checked when the signal path was finished: any change that alters a
// single output sample, in any mode, geometry or channel layout, shows here.
// Set GOLDEN_PRINT=1 to print the table for the current build.
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace testsupport;

Bytes test_input(uint32_t rate, uint16_t channels) {
    if (channels == 1) return pcm_wav(rate, 1, golden_channel(rate, 1));
    return pcm_wav(rate, 2, interleave({golden_channel(rate, 1), golden_channel(rate, 2)}));
}

Bytes denoise(const TempDir &dir, const Bytes &input, int mode) {
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    write_file(in, input);
    const RunResult r = run_tool({std::to_string(mode), "-20", "0.95", "0.98", in, out});
    EXPECT_EQ(r.status, 0) << r.out;
    return read_file(out);
}

struct Golden {
    uint32_t rate;
    uint16_t channels;
    int mode;
    const char *checksum;
};

void PrintTo(const Golden &g, std::ostream *os) {
    *os << g.rate << " Hz, " << g.channels << " ch, mode " << g.mode;
}

const Golden kGolden[] = {
#include "golden_checksums.inc"
};

class GoldenOutput : public ::testing::TestWithParam<Golden> {};

TEST_P(GoldenOutput, MatchesRecordedChecksum) {
    const Golden g = GetParam();
    TempDir dir;
    const std::string sum = fnv1a(denoise(dir, test_input(g.rate, g.channels), g.mode));
    if (std::getenv("GOLDEN_PRINT"))
        std::printf("    {%u, %u, %d, \"%s\"},\n", g.rate, g.channels, g.mode, sum.c_str());
    EXPECT_EQ(sum, g.checksum);
}

// The same samples, computed through the core's interface with the caller's
// floating-point environment set as hosts set it: the core runs in its own
// environment and hands the caller's back untouched.
TEST_P(GoldenOutput, CallersFloatingPointModesChangeNothing) {
    const Golden g = GetParam();
    TempDir dir;
    const Bytes file = denoise(dir, test_input(g.rate, g.channels), g.mode);
    const size_t frames = (file.size() - 56) / (2 * g.channels);
    const std::vector<int16_t> want = samples_at(file, 56, frames * g.channels);
    std::vector<std::vector<int16_t>> in;
    for (uint16_t c = 1; c <= g.channels; ++c) in.push_back(golden_channel(g.rate, c));
    for (const CallerFpEnv &env : caller_fp_environments()) {
        SCOPED_TRACE(env.name);
        std::vector<std::vector<int16_t>> out;
        const bool kept = run_in_fp_environment(env, [&] {
            for (const std::vector<int16_t> &x : in) out.push_back(block_loop(x, g.rate, g.mode));
        });
        EXPECT_TRUE(kept) << "the caller's floating-point environment was changed";
        EXPECT_EQ(interleave(out), want);
    }
}

INSTANTIATE_TEST_SUITE_P(ModesGeometriesLayouts, GoldenOutput, ::testing::ValuesIn(kGolden));

TEST(Determinism, TwoRunsGiveIdenticalBytes) {
    TempDir dir;
    const Bytes input = test_input(44100, 2);
    EXPECT_EQ(denoise(dir, input, 2), denoise(dir, input, 2));
}

// Each channel has its own suppressor: swapping the input's channels swaps
// the output's, and a stereo channel comes out as it would alone.
TEST(Determinism, ChannelsAreIndependent) {
    const uint32_t rate = 16000;
    const std::vector<int16_t> a = golden_channel(rate, 1), b = golden_channel(rate, 2);
    TempDir dir;
    const Bytes ab = denoise(dir, pcm_wav(rate, 2, interleave({a, b})), 1);
    const Bytes ba = denoise(dir, pcm_wav(rate, 2, interleave({b, a})), 1);
    const Bytes mono_a = denoise(dir, pcm_wav(rate, 1, a), 1);
    ASSERT_EQ(ab.size(), ba.size());
    const size_t frames = (ab.size() - 56) / 4;
    ASSERT_EQ(mono_a.size(), 56 + frames * 2);
    const std::vector<int16_t> sab = samples_at(ab, 56, frames * 2), sba = samples_at(ba, 56, frames * 2);
    const std::vector<int16_t> sa = samples_at(mono_a, 56, frames);
    for (size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(sab[2 * i], sba[2 * i + 1]) << i;
        ASSERT_EQ(sab[2 * i + 1], sba[2 * i]) << i;
        ASSERT_EQ(sab[2 * i], sa[i]) << i;
    }
}

}  // namespace

namespace {

// A stereo file with a lead-in of whole blocks of digital silence comes out
// as that silence followed by exactly the file's output without it.
TEST(Determinism, SilentLeadInOnlyDelaysTheFile) {
    for (const auto &[rate, block] : {std::pair<uint32_t, size_t>{8000, 120}, {16000, 190}, {44100, 1024}}) {
        const size_t lead = 2 * rate / block * block;  // about two seconds
        std::vector<int16_t> a = golden_channel(rate, 1), b = golden_channel(rate, 2);
        const Bytes plain = pcm_wav(rate, 2, interleave({a, b}));
        a.insert(a.begin(), lead, 0);
        b.insert(b.begin(), lead, 0);
        TempDir dir;
        for (int mode = 0; mode <= 3; ++mode) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, mode " + std::to_string(mode));
            const Bytes out = denoise(dir, plain, mode);
            const Bytes led = denoise(dir, pcm_wav(rate, 2, interleave({a, b})), mode);
            ASSERT_EQ(led.size(), out.size() + 4 * lead);
            EXPECT_EQ(samples_at(led, 56, 2 * lead), std::vector<int16_t>(2 * lead, 0));
            EXPECT_TRUE(std::equal(out.begin() + 56, out.end(), led.begin() + 56 + 4 * lead));
        }
    }
}

}  // namespace

namespace {

// Long files go through the tool in batches, cleaned by two workers (for
// stereo one per channel; for mono the estimator and the synthesis apart,
// with chunks of blocks analysed by either): every sample is still what one
// suppressor per channel gives block by block.
TEST(Determinism, BatchesOnTwoWorkersMatchTheBlockLoop) {
    for (const uint16_t channels : {1, 2}) {
        const uint32_t rate = 8000;
        std::vector<std::vector<int16_t>> in;
        for (uint16_t c = 0; c < channels; ++c) {
            std::vector<int16_t> x;
            for (uint32_t part = 0; part < 8; ++part) {
                std::vector<int16_t> g = golden_channel(rate, 1 + c + part);
                // A stretch of near-silence, which the estimator skips.
                if (part == 2)
                    for (int16_t &v : g) v = static_cast<int16_t>(v % 3);
                x.insert(x.end(), g.begin(), g.end());
            }
            in.push_back(x);  // 12 s: three batches and part of a fourth
        }
        TempDir dir;
        const Bytes out = denoise(dir, pcm_wav(rate, channels, interleave(in)), 3);
        const size_t frames = (out.size() - 56) / (2 * channels);
        const std::vector<int16_t> got = samples_at(out, 56, frames * channels);
        for (uint16_t c = 0; c < channels; ++c) {
            const std::vector<int16_t> want = block_loop(in[c], rate, 3);
            ASSERT_EQ(want.size(), frames);
            for (size_t i = 0; i < frames; ++i)
                ASSERT_EQ(got[i * channels + c], want[i]) << channels << " channels, channel " << c << ", frame " << i;
        }
    }
}

}  // namespace
