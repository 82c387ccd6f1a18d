#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"
#include "wav.h"

namespace {

using namespace testsupport;
using namespace std::string_literals;

// fmt chunk for stereo 16-bit PCM at 8 kHz, with `extra` zero bytes after
// the 16 bytes of fields.
Bytes fmt_chunk(size_t extra = 0) {
    Bytes body = fmt_body(1, 2, 8000, 16);
    body.resize(16 + extra, 0);
    return chunk("fmt ", body);
}

// Fields with a free BlockAlign.
Bytes fmt_fields(uint16_t format, uint16_t channels, uint16_t bits, uint16_t align) {
    Bytes b = fmt_body(format, channels, 8000, bits);
    b[12] = static_cast<uint8_t>(align);
    b[13] = static_cast<uint8_t>(align >> 8);
    return b;
}

const Bytes kAudio = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const Bytes kDataChunk = chunk("data", kAudio);

struct Loaded {
    bool ok = false;  // false: "Unknown format" was thrown
    WAV_HEADER h;
    long pos = -1;
    Bytes rest;       // from the stream's position to the end of the file
};

Loaded load(const Bytes &file) {
    FILE *f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    if (!f) return {};
    if (!file.empty()) std::fwrite(file.data(), 1, file.size(), f);  // data() may be null
    std::rewind(f);
    Loaded r;
    try {
        r.h.LoadFromFile(f);
        r.ok = true;
        r.pos = std::ftell(f);
        int c;
        while ((c = std::fgetc(f)) != EOF) r.rest.push_back(static_cast<uint8_t>(c));
    } catch (const std::string &what) {
        EXPECT_EQ(what, "Unknown format");
    }
    std::fclose(f);
    return r;
}

// ------------------------------------------------------------- reading

class HeaderRead : public ::testing::TestWithParam<WavCase> {};

// The header loads exactly where the tool does not answer "Unknown format",
// and then leaves the stream at the real data chunk's body.
TEST_P(HeaderRead, LoadsTheRealDataChunkOrRefuses) {
    const WavCase &c = GetParam();
    const Loaded r = load(c.file);
    ASSERT_EQ(r.ok, c.takes != WavCase::Takes::Unknown);
    if (!r.ok) return;
    EXPECT_EQ(r.h.SubChunk_fmtSize, c.fmt_size);
    EXPECT_EQ(r.rest, wav_case_samples());
}

INSTANTIATE_TEST_SUITE_P(Files, HeaderRead, ::testing::ValuesIn(wav_cases()),
                         [](const auto &info) { return std::string(info.param.name); });

// Each prefix either ends in "Unknown format" or, once the whole header is
// there, loads the full file's header with the stream at its end (offset 44
// for the canonical file).
TEST(HeaderRead, EveryTruncationRefusesOrLoadsConsistently) {
    const Bytes files[] = {
        riff({fmt_chunk(), kDataChunk}),
        riff({chunk("LIST", text("INFOx")), {0}, fmt_chunk(2), chunk("fact", Bytes(4)),
              chunk("JUNK", Bytes(3, 0xEE)), kDataChunk}),
    };
    for (const Bytes &file : files) {
        const size_t header_end = file.size() - kAudio.size();
        for (size_t n = 0; n <= file.size(); ++n) {
            SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes");
            const Loaded r = load(Bytes(file.begin(), file.begin() + static_cast<long>(n)));
            ASSERT_EQ(r.ok, n >= header_end);
            if (r.ok) {
                EXPECT_EQ(r.h.DataSize, kAudio.size());
                EXPECT_EQ(r.pos, static_cast<long>(header_end));
            }
        }
    }
}

// ------------------------------------------------------------- writing

WAV_HEADER stereo_header(uint64_t fmt_size, uint32_t data_size) {
    WAV_HEADER h;
    h.SubChunk_fmtSize = fmt_size;
    h.AudioFormat = 1;
    h.Channels = 2;
    h.SampleRate = 48000;
    h.ByteRate = 192000;
    h.BlockAlign = 4;
    h.BitsPerSample = 16;
    h.DataSize = data_size;
    return h;
}

Bytes saved_header(WAV_HEADER h) {
    FILE *f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    if (!f) return {};
    h.SaveToFile(f);
    Bytes b(static_cast<size_t>(std::ftell(f)));
    std::rewind(f);
    EXPECT_EQ(std::fread(b.data(), 1, b.size(), f), b.size());
    std::fclose(f);
    return b;
}

TEST(HeaderWrite, Fmt16GivesThe56ByteHeader) {
    const Bytes expected = {
        'R', 'I', 'F', 'F', 0xB0, 0x07, 0, 0,                   // 1968
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,    //
        1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0x00, 0xEE, 0x02, 0,      // PCM, 2, 48000, 192000
        4, 0, 16, 0,                                            //
        'f', 'a', 'c', 't', 4, 0, 0, 0, 0, 0, 0, 0,             //
        'd', 'a', 't', 'a', 0x80, 0x07, 0, 0,                   // 1920
    };
    EXPECT_EQ(saved_header(stereo_header(16, 1920)), expected);
}

TEST(HeaderWrite, Fmt18AddsTwoZeroBytesAndReadsBack) {
    const Bytes h = saved_header(stereo_header(18, 1920));
    ASSERT_EQ(h.size(), 58u);
    EXPECT_EQ(read_u32(h, 4), 1970u);
    EXPECT_EQ(read_u32(h, 16), 18u);
    EXPECT_EQ(read_u16(h, 36), 0);
    EXPECT_EQ(Bytes(h.begin() + 38, h.begin() + 42), text("fact"));

    const Loaded r = load(cat({h, Bytes(1920)}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.pos, 58);
    EXPECT_EQ(r.h.SubChunk_fmtSize, 18u);
    EXPECT_EQ(r.h.DataSize, 1920u);
}

// An odd fmt size is followed by a pad byte, which the RIFF size counts;
// 16 and 18 are as they always were.
TEST(HeaderWrite, OddFmtGetsAPadByte) {
    for (uint64_t fmt : {16u, 17u, 18u, 19u, 21u}) {
        SCOPED_TRACE(fmt);
        const Bytes h = saved_header(stereo_header(fmt, 8));
        const size_t padded = fmt + (fmt & 1);
        ASSERT_EQ(h.size(), 40 + padded);
        EXPECT_EQ(Bytes(h.begin() + 20 + padded, h.begin() + 24 + padded), text("fact"));
        EXPECT_EQ(strict_layout_error(cat({h, Bytes(8, 1)})), "");
        const Loaded r = load(cat({h, Bytes(8, 1)}));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.h.SubChunk_fmtSize, fmt);
        EXPECT_EQ(r.pos, static_cast<long>(h.size()));
    }
}

// A data size past 32 bits makes an RF64 header: ds64 first with the RIFF
// and data sizes, both 32-bit sizes 0xFFFFFFFF. Its length is what
// HeaderBytes says, and it reads back.
TEST(HeaderWrite, Rf64PastFourGigabytes) {
    const uint64_t data = 5000000000;
    WAV_HEADER out = stereo_header(19, 0xFFFFFFFF);
    out.DataSize64 = data;
    const Bytes h = saved_header(out);
    ASSERT_EQ(h.size(), out.HeaderBytes());
    ASSERT_EQ(h.size(), 56u + 3 + 1 + 36);
    EXPECT_EQ(Bytes(h.begin(), h.begin() + 4), text("RF64"));
    EXPECT_EQ(read_u32(h, 4), 0xFFFFFFFFu);
    EXPECT_EQ(Bytes(h.begin() + 12, h.begin() + 16), text("ds64"));
    EXPECT_EQ(read_u32(h, 16), 28u);
    EXPECT_EQ(read_u64(h, 20), h.size() - 8 + data);
    EXPECT_EQ(read_u64(h, 28), data);
    EXPECT_EQ(read_u32(h, h.size() - 4), 0xFFFFFFFFu);

    const Loaded r = load(cat({h, Bytes(16, 7)}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.h.DataSize, 0xFFFFFFFFu);
    EXPECT_EQ(r.h.DataBytes(), data);
    EXPECT_EQ(r.pos, static_cast<long>(h.size()));

    // The same record with a 32-bit size again is a classic header.
    out.DataSize = 1920;
    EXPECT_EQ(saved_header(out).size(), 60u);
}

// ---------------------------------------------------------- whole file

Bytes wav(const Bytes &fmt_fields_bytes, const Bytes &data) {
    return riff({chunk("fmt ", fmt_fields_bytes), chunk("data", data)});
}

struct Opened {
    WAV_HEADER h;
    char result = -1;
    unsigned frames = 99;
    std::vector<int16_t> samples;  // frames × Channels, copied out of the buffer
};

Opened open_all(const std::string &path) {
    Opened o;
    short *buf = nullptr;
    o.result = o.h.openAll(path.c_str(), &o.frames, &buf);
    if (buf) o.samples.assign(buf, buf + static_cast<size_t>(o.frames) * o.h.Channels);
    std::free(buf);
    return o;
}

class WholeFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string file(const Bytes &bytes, const std::string &name = "in.wav") {
        write_file(dir.path(name), bytes);
        return dir.path(name);
    }
    Opened open(const Bytes &bytes) { return open_all(file(bytes)); }
};

TEST_F(WholeFile, PcmDropsTheIncompleteLastFrame) {
    for (uint16_t channels : {1, 2}) {
        const std::vector<int16_t> samples = white_noise(1000u * channels, 3000, 7);
        Bytes data;
        append_samples(data, samples);
        data.resize(data.size() + channels, 0x7F);  // DataSize 2001 or 4002
        const Opened o = open(wav(fmt_body(1, channels, 16000, 16), data));
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(o.frames, 1000u);
        EXPECT_EQ(o.samples, samples);
    }
}

TEST_F(WholeFile, G711AnchorsAndInterleaving) {
    const struct {
        uint16_t format, channels;
        Bytes codes;
        std::vector<int16_t> expected;
    } cases[] = {
        {7, 1, {0xFF, 0x00, 0x80, 0x7F}, {0, -32124, 32124, 0}},
        {6, 1, {0x55, 0xD5, 0x2A, 0xAA}, {-8, 8, -32256, 32256}},
        {6, 2, {0x55, 0xAA, 0xD5, 0x2A, 0x55, 0x55}, {-8, 32256, 8, -32256, -8, -8}},
    };
    for (const auto &c : cases) {
        const Opened o = open(wav(fmt_body(c.format, c.channels, 8000, 8), c.codes));
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(o.frames, c.codes.size() / c.channels);
        EXPECT_EQ(o.samples, c.expected);
        EXPECT_EQ(o.h.AudioFormat, c.format);  // the fields stay as read
        EXPECT_EQ(o.h.BitsPerSample, 8);
    }
}

// Over all 256 codes: sign-symmetric, and the magnitude grows with the code
// (after the law's bit inversion) within each sign.
TEST_F(WholeFile, G711TablesAreSymmetricAndMonotonic) {
    Bytes codes(256);
    for (int c = 0; c < 256; ++c) codes[c] = static_cast<uint8_t>(c);
    for (uint16_t format : {6, 7}) {
        SCOPED_TRACE(format);
        const Opened o = open(wav(fmt_body(format, 1, 8000, 8), codes));
        ASSERT_EQ(o.samples.size(), 256u);
        const unsigned invert = format == 6 ? 0x55 : 0xFF, positive = format == 6 ? 0x80 : 0x00;
        auto decoded = [&](unsigned magnitude, unsigned sign) {
            return o.samples[(magnitude | sign) ^ invert];
        };
        for (unsigned k = 0; k < 128; ++k) {
            EXPECT_EQ(decoded(k, positive), -decoded(k, positive ^ 0x80)) << k;
            if (k > 0) {
                EXPECT_GT(decoded(k, positive), decoded(k - 1, positive)) << k;
            }
        }
    }
}

TEST_F(WholeFile, UnsupportedOrMissingFileGivesZeroAndKeepsTheBuffer) {
    const std::string refused[] = {
        file(wav(fmt_fields(3, 1, 32, 4), Bytes(64, 1)), "float.wav"),
        file(wav(fmt_fields(1, 1, 8, 1), Bytes(64, 1)), "pcm8.wav"),
        file(wav(fmt_fields(6, 1, 16, 2), Bytes(64, 1)), "alaw16.wav"),
        file(wav(fmt_fields(7, 1, 16, 2), Bytes(64, 1)), "ulaw16.wav"),
        file(wav(fmt_fields(1, 1, 16, 0), Bytes(64, 1)), "align0.wav"),
        file(wav(fmt_fields(1, 0, 16, 2), Bytes(64, 1)), "channels0.wav"),
        dir.path("missing.wav"),
    };
    short *const mine = static_cast<short *>(std::malloc(2 * sizeof(short)));
    mine[0] = 123;
    mine[1] = -321;
    for (const std::string &path : refused) {
        SCOPED_TRACE(path);
        WAV_HEADER h;
        unsigned n = 99;
        short *buf = mine;
        EXPECT_EQ(h.openAll(path.c_str(), &n, &buf), 0);
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(buf, mine);
    }
    EXPECT_EQ(mine[0], 123);
    EXPECT_EQ(mine[1], -321);
    std::free(mine);
}

TEST_F(WholeFile, EarlierBufferIsReplaced) {
    WAV_HEADER h;
    unsigned n = 0;
    short *buf = nullptr;
    ASSERT_EQ(h.openAll(file(pcm_wav(8000, 1, {1, 2, 3}), "a.wav").c_str(), &n, &buf), 1);
    ASSERT_EQ(h.openAll(file(pcm_wav(8000, 2, {4, 5, 6, 7}), "b.wav").c_str(), &n, &buf), 1);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(std::vector<int16_t>(buf, buf + 4), (std::vector<int16_t>{4, 5, 6, 7}));
    std::free(buf);  // valgrind reports the first buffer if it was not released
}

TEST_F(WholeFile, ShortDataChunkReportsTheFramesRead) {
    const struct {
        Bytes fmt;
        size_t held;
        unsigned frames;
        int16_t sample;
    } cases[] = {{fmt_body(1, 2, 8000, 16), 602, 150, -1}, {fmt_body(7, 2, 8000, 8), 601, 300, 0}};
    for (const auto &c : cases) {
        Bytes bytes = wav(c.fmt, Bytes(c.held, 0xFF));
        set_u32(bytes, 40, 2000);  // announced DataSize
        const Opened o = open(bytes);
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(o.frames, c.frames);
        EXPECT_EQ(o.samples, std::vector<int16_t>(2 * c.frames, c.sample));
    }
}

long vm_size_bytes() {
    long pages = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    return pages * sysconf(_SC_PAGESIZE);
}

// Runs `body` in a child whose address space may grow by `headroom` bytes at
// most; gives the child's exit status, or -1 when it did not exit normally.
int run_with_memory_cap(long headroom, const std::function<int()> &body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const rlim_t cap = static_cast<rlim_t>(vm_size_bytes() + headroom);
        const rlimit lim = {cap, cap};
        _exit(setrlimit(RLIMIT_AS, &lim) == 0 ? body() : 100);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(WholeFile, HugeAnnouncedDataSizeAllocatesOnlyWhatIsThere) {
    Bytes bytes = wav(fmt_body(1, 1, 8000, 16), Bytes(200, 0));
    set_u32(bytes, 40, 0xFFFFFFFF);
    const std::string paths[] = {
        file(bytes, "classic.wav"),
        // RF64 announcing 2^62 bytes.
        file(rf64({ds64(uint64_t(1) << 62), chunk("fmt ", fmt_body(1, 1, 8000, 16)),
                   chunk_sized("data", 0xFFFFFFFF, Bytes(200, 0))}),
             "rf64.wav"),
    };
    for (const std::string &path : paths) {
        EXPECT_EQ(run_with_memory_cap(1L << 30, [&] {
                      const Opened o = open_all(path);
                      return o.result == 1 && o.frames == 100 ? 0 : 1;
                  }),
                  0)
            << path;
    }
}

int open_fds() {
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

TEST_F(WholeFile, NoDescriptorLeftOpenAfterRefusal) {
    const std::string malformed = file(riff({fmt_chunk()}), "malformed.wav");
    const std::string unsupported = file(wav(fmt_body(3, 1, 8000, 32), Bytes(8)), "float.wav");
    const int before = open_fds();
    WAV_HEADER h;
    unsigned n = 0;
    short *buf = nullptr;
    EXPECT_THROW(h.openAll(malformed.c_str(), &n, &buf), std::string);
    EXPECT_EQ(h.openAll(unsupported.c_str(), &n, &buf), 0);
    EXPECT_EQ(open_fds(), before);
}

TEST_F(WholeFile, SaveThenOpenRoundTrip) {
    const std::vector<int16_t> samples = white_noise(2 * 480, 5000, 3);
    WAV_HEADER out = stereo_header(16, static_cast<uint32_t>(samples.size() * 2));
    const std::string path = dir.path("out.wav");
    ASSERT_EQ(out.saveAll(path.c_str(), 480, samples.data()), 1);
    EXPECT_EQ(read_file(path).size(), 56 + samples.size() * 2);

    const Opened o = open_all(path);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.frames, 480u);
    EXPECT_EQ(o.samples, samples);
    EXPECT_EQ(o.h.SampleRate, out.SampleRate);
    EXPECT_EQ(o.h.DataSize, out.DataSize);
}

TEST_F(WholeFile, SaveFailuresReturnZero) {
    const std::vector<int16_t> samples(8, 1);
    const struct {
        std::string path;
        unsigned frames;
    } cases[] = {{dir.path("empty.wav"), 0}, {dir.path("missing/out.wav"), 4}, {"/dev/full", 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        WAV_HEADER h = stereo_header(16, 16);
        EXPECT_EQ(h.saveAll(c.path.c_str(), c.frames, samples.data()), 0);
    }
    EXPECT_FALSE(file_exists(dir.path("empty.wav")));
}

}  // namespace
