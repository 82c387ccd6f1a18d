// test_wav run as a real process on malformed and unusual files. Every file
// is either refused, with its one message, status 1 and no output file, or
// processed, with status 0 and an output whose header reads back with the
// input's fields, whose chunks are laid out as strict readers expect, and
// which is the same when the input comes from a pipe. Never a crash or a
// hang. (Cases already in test_cli.cpp are not repeated here.)
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

// 2000 samples at 8 kHz behind the tool's own 56-byte header shape:
// RIFF, fmt (16), fact, data. Offsets: fmt size 16, format 20, channels 22,
// rate 24, block align 32, bits 34, data size 52.
Bytes base() {
    Bytes data;
    append_samples(data, white_noise(2000, 3000.0, 11));
    return riff({chunk("fmt ", fmt_body(1, 1, 8000, 16)), chunk("fact", Bytes(4, 0)),
                 chunk("data", data)});
}

Bytes with_u16(Bytes b, size_t at, uint16_t v) {
    b.at(at) = static_cast<uint8_t>(v);
    b.at(at + 1) = static_cast<uint8_t>(v >> 8);
    return b;
}

Bytes with_u32(Bytes b, size_t at, uint32_t v) {
    return with_u16(with_u16(b, at, static_cast<uint16_t>(v)), at + 2, static_cast<uint16_t>(v >> 16));
}

Bytes with_id(Bytes b, size_t at, const char *id) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(id[i]);
    return b;
}

// The fmt chunk with `extra` bytes after its 16 bytes of fields, followed
// by a pad byte when `pad` (as the format asks after an odd size).
Bytes with_fmt_extension(size_t extra, bool pad) {
    Bytes data;
    append_samples(data, white_noise(2000, 3000.0, 11));
    Bytes fmt = chunk("fmt ", [&] {
        Bytes body = fmt_body(1, 1, 8000, 16);
        body.resize(16 + extra, 0x5A);
        return body;
    }());
    if (pad) fmt.push_back(0);
    Bytes b = riff({fmt, chunk("fact", Bytes(4, 0)), chunk("data", data)});
    return b;
}

// base() as RF64: "RF64", a ds64 chunk announcing `data_bytes`, and the
// data chunk's size 0xFFFFFFFF.
Bytes as_rf64(uint64_t data_bytes) {
    Bytes b = with_id(with_u32(base(), 52, 0xFFFFFFFF), 0, "RF64");
    Bytes ds64;
    append(ds64, "ds64");
    append_u32(ds64, 28);
    for (uint64_t v : {uint64_t(b.size() + 36 - 8), data_bytes, uint64_t(0)}) {
        append_u32(ds64, static_cast<uint32_t>(v));
        append_u32(ds64, static_cast<uint32_t>(v >> 32));
    }
    append_u32(ds64, 0);
    b.insert(b.begin() + 12, ds64.begin(), ds64.end());
    return with_u32(b, 4, 0xFFFFFFFF);
}

// A chunk between "WAVE" and "fmt ".
Bytes with_chunk_first(const Bytes &first) {
    Bytes b = base();
    b.insert(b.begin() + 12, first.begin(), first.end());
    return b;
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

struct Case {
    const char *name;
    Bytes file;
    const char *refusal;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class BadInput : public testing::TestWithParam<Case> {};

TEST_P(BadInput, RefusedWithOneLineOrProcessedIntoAValidFile) {
    TempDir dir;
    write_file(dir.path("in.wav"), GetParam().file);
    expect_outcome(dir.path("in.wav"), dir.path("out.wav"), GetParam().refusal);
}

// Only 16-bit linear PCM in one or two channels is processed; the format
// code 0 passes, the rate, block align and byte rate are taken as found.
// An announced data size the file does not hold ends the data at the file's
// end; an odd one at its last whole block.
const Case kCases[] = {
    {"rifx", with_id(base(), 0, "RIFX"), kUnknown},
    {"no_wave", with_id(base(), 8, "AVI "), kUnknown},
    {"junk_before_fmt", with_chunk_first(chunk("JUNK", Bytes(6, 0))), kUnknown},
    {"list_before_fmt_past_end", with_chunk_first(with_u32(chunk("LIST", Bytes(4, 0)), 4, 10000)),
     kUnknown},
    {"fmt_size_0", with_u32(base(), 16, 0), kUnknown},
    {"fmt_size_2", with_u32(base(), 16, 2), kUnknown},
    {"fmt_size_14", with_u32(base(), 16, 14), kUnknown},
    {"fmt_size_17", with_u32(base(), 16, 17), nullptr},
    {"fmt_17_padded", with_fmt_extension(1, true), nullptr},
    {"fmt_17_unpadded", with_fmt_extension(1, false), nullptr},
    {"fmt_19_padded", with_fmt_extension(3, true), nullptr},
    {"fmt_21_unpadded", with_fmt_extension(5, false), nullptr},
    {"fmt_size_all_ones", with_u32(base(), 16, 0xFFFFFFFF), kUnknown},
    {"format_0", with_u16(base(), 20, 0), nullptr},
    {"format_alaw", with_u16(base(), 20, 6), kFormat},
    {"format_mulaw", with_u16(base(), 20, 7), kFormat},
    {"format_extensible", with_u16(base(), 20, 0xFFFE), kFormat},
    {"channels_65535", with_u16(base(), 22, 65535), kFormat},
    {"rate_0", with_u32(base(), 24, 0), nullptr},
    {"rate_1", with_u32(base(), 24, 1), nullptr},
    {"rate_max", with_u32(base(), 24, 0xFFFFFFFF), nullptr},
    {"block_align_0", with_u16(base(), 32, 0), nullptr},
    {"bits_32", with_u16(base(), 34, 32), kFormat},
    {"data_size_odd", with_u32(base(), 52, 3001), nullptr},
    {"rf64", as_rf64(4000), nullptr},
    // Through a pipe, which cannot tell, the provisional header is RF64.
    {"rf64_announcing_5_gb", as_rf64(5000000000), nullptr},
    {"rf64_without_ds64", with_id(base(), 0, "RF64"), kUnknown},
};

INSTANTIATE_TEST_SUITE_P(Cli, BadInput, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &i) { return i.param.name; });

// Every prefix of the 56-byte header is refused; the whole header without
// samples gives an empty output.
TEST(BadInput, EveryTruncationOfTheHeader) {
    const Bytes full = base();
    TempDir dir;
    for (size_t n = 0; n <= 56; ++n) {
        SCOPED_TRACE(std::to_string(n) + " bytes");
        const std::string in = dir.path("in" + std::to_string(n) + ".wav");
        const std::string out = dir.path("out" + std::to_string(n) + ".wav");
        write_file(in, Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        expect_outcome(in, out, n < 56 ? kUnknown : nullptr);
    }
    EXPECT_EQ(read_file(dir.path("out56.wav")).size(), 56u);
}

// Outputs that cannot be created: a directory, and a place where no file
// can be made even by the superuser.
TEST(BadInput, OutputThatCannotBeCreated) {
    TempDir dir;
    write_file(dir.path("in.wav"), base());
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
