// test_wav run as a real process on malformed and unusual files. Every file
// is either refused, with its one message, status 1 and no output file, or
// processed, with status 0 and an output whose header reads back with the
// input's fields, whose chunks are laid out as strict readers expect, and
// which is the same when the input comes from a pipe. Never a crash or a
// hang. The files are the table the WAV module's tests read too.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"
#include "wav.h"

namespace {

using namespace testsupport;

const char kUnknown[] = "Unknown format";
// The format message is followed by the prompt for the key it waits for.
const char kFormat[] = "Input file must be Windows PCM, 16 bits linear\nPress enter key to exit.";
const char kCantWrite[] = "Couldn't Write File";

RunResult tool(const std::string &in, const std::string &out) {
    return run_tool({"2", "-20", "0.95", "0.98", in, out}, 20.0);
}

bool read_header(const std::string &path, WAV_HEADER *h) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bool ok = true;
    try {
        h->LoadFromFile(f);
    } catch (const std::string &) {
        ok = false;
    }
    std::fclose(f);
    return ok;
}

void expect_valid_output(const std::string &in, const std::string &out) {
    WAV_HEADER i, o;
    ASSERT_TRUE(read_header(in, &i));
    ASSERT_TRUE(read_header(out, &o)) << "output header unreadable";
    EXPECT_EQ(o.SubChunk_fmtSize, i.SubChunk_fmtSize);
    EXPECT_EQ(o.AudioFormat, i.AudioFormat);
    EXPECT_EQ(o.Channels, i.Channels);
    EXPECT_EQ(o.SampleRate, i.SampleRate);
    EXPECT_EQ(o.BlockAlign, i.BlockAlign);
    EXPECT_EQ(o.BitsPerSample, i.BitsPerSample);
    // Strict readers (libsndfile, ffmpeg) walk the chunks by their sizes
    // and expect a pad byte after an odd one.
    const Bytes bytes = read_file(out);
    uint64_t data = 0;
    EXPECT_EQ(strict_layout_error(bytes, nullptr, &data), "");
    EXPECT_EQ(data, o.DataSize);
}

// refusal: the whole standard output of a refused file; null: accepted.
void expect_outcome(const std::string &in, const std::string &out, const char *refusal) {
    const RunResult r = tool(in, out);
    ASSERT_FALSE(r.timed_out);
    if (refusal) {
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, std::string(refusal) + "\n");
        EXPECT_FALSE(file_exists(out));
    } else {
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        expect_valid_output(in, out);
        // From a pipe, which is read forward only: the same file.
        const Bytes file = read_file(in);
        const std::string piped(file.begin(), file.end());
        const RunResult p = run_tool({"2", "-20", "0.95", "0.98", "/dev/stdin", out + ".piped"}, 20.0,
                                     &piped);
        EXPECT_EQ(p.status, 0) << p.out;
        EXPECT_EQ(read_file(out + ".piped"), read_file(out));
    }
}

class BadInput : public testing::TestWithParam<WavCase> {};

TEST_P(BadInput, RefusedWithOneLineOrProcessedIntoAValidFile) {
    TempDir dir;
    write_file(dir.path("in.wav"), GetParam().file);
    const char *refusal[] = {kUnknown, kFormat, nullptr};
    expect_outcome(dir.path("in.wav"), dir.path("out.wav"), refusal[static_cast<int>(GetParam().takes)]);
}

INSTANTIATE_TEST_SUITE_P(Cli, BadInput, testing::ValuesIn(wav_cases()),
                         [](const testing::TestParamInfo<WavCase> &i) { return i.param.name; });

// Outputs that cannot be created: a directory, and a place where no file
// can be made even by the superuser.
TEST(BadInput, OutputThatCannotBeCreated) {
    TempDir dir;
    write_file(dir.path("in.wav"), pcm_wav(8000, 1, white_noise(2000, 3000.0, 11)));
    for (const std::string &out : {dir.dir(), std::string("/proc/tnc_out.wav")}) {
        SCOPED_TRACE(out);
        const RunResult r = tool(dir.path("in.wav"), out);
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string(kCantWrite) + "\n");
    }
    EXPECT_FALSE(file_exists("/proc/tnc_out.wav"));
}

}  // namespace
