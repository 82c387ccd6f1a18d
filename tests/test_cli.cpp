// The test_wav tool run as a real process: argument checks, messages and
// exit statuses, and the shape and length of the files it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace {

using namespace testsupport;

const std::string &kTool = tool_path();
const std::string kSep(54, '=');
const std::string kName = "Tarnwel's Noise Cancellation of single microphone solution.";
const std::string kVersion = "Version 2.35";

// Text written to the standard input of a tool that has already ended must
// fail as a write, not end the test run.
const auto kIgnoreSigpipe = signal(SIGPIPE, SIG_IGN);

RunResult tool(const std::vector<std::string> &args, const std::string *stdin_text = nullptr) {
    return run_tool(args, 30.0, stdin_text);
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
}

size_t count_of(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A WAV file whose data chunk announces `announced` bytes (by default what
// it holds), optionally followed by more chunks.
Bytes wav(const Bytes &fmt, const std::vector<int16_t> &samples, int64_t announced = -1,
          const Bytes &trailer = {}, const Bytes &leader = {}) {
    Bytes data;
    append(data, "data");
    append_u32(data, announced < 0 ? static_cast<uint32_t>(2 * samples.size())
                                   : static_cast<uint32_t>(announced));
    append_samples(data, samples);
    return riff({chunk("fmt ", fmt), leader, data, trailer});
}

Bytes mono8k(size_t n, int64_t announced = -1, const Bytes &trailer = {}, const Bytes &leader = {}) {
    return wav(fmt_body(1, 1, 8000, 16), white_noise(n, 1000.0, 7), announced, trailer, leader);
}

// The banner lines the tool prints after the separator; the maker's notice
// is taken from the usage text.
std::string banner() {
    const std::vector<std::string> usage = lines(tool({}).out);
    const std::string company = usage.empty() ? "" : usage.back();
    return kSep + "\n" + kName + "\n" + kVersion + "\n" + company + "\n";
}

// ------------------------------------------------------------ usage text

TEST(Usage, FewerThanSixArgumentsPrintUsage) {
    const RunResult r = tool({"1", "-20", "0.95", "0.98", "in.wav"});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> expected = {
        "Usage: " + kTool + " <kindMode> <pSdb> <pNn> <pMn> <inpFile> <outFile>",
        "<kindMode> - Kind of mode substration: 0, 1 or 2, default: 1 ",
        "<pSdb> - Limitation suppression [-80.0, 0.0] dB, default: -18.0 ",
        "<pNn> - Noise adaptation rate [0.8, 0.999], default: 0.95",
        "<pMn> - Musical noise reduction [0.8, 0.999], default: 0.98",
        "<inpFile> - input sound file (*.wav).",
        "<outFile> - output sound file (*.wav).",
        "Supported signal formats (*.wav):",
        "   - Windows PCM (16 bit linear), Mono or Stereo channels;",
        "",
        kSep,
        kName,
        kVersion,
    };
    const std::vector<std::string> got = lines(r.out);
    ASSERT_EQ(got.size(), expected.size() + 1) << r.out;
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.end() - 1), expected);
    EXPECT_FALSE(got.back().empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(tool({}).out, r.out);
}

// ---------------------------------------------------- argument matrix

struct ArgCase {
    const char *name;
    std::array<const char *, 4> params;
    const char *refused;  // the whole output when refused, else null
    const char *shown;    // a settings line of an accepted run
};

const char kKind[] = "kindMode: 0, 1, 2 or 3, default: 2 ";
const char kSdb[] = "pSdb: [-80.0, 0.0] dB, default: -20.0 ";
const char kNn[] = "pNn: [0.8, 0.999], default: 0.95 ";
const char kMn[] = "pMn: [0.8, 0.999], default: 0.98 ";

void PrintTo(const ArgCase &c, std::ostream *os) { *os << c.name; }

class Arguments : public testing::TestWithParam<ArgCase> {};

// Refused cases name a missing input, so that any test made out of order
// shows up as a different message.
TEST_P(Arguments, CheckedInOrder) {
    const ArgCase &c = GetParam();
    TempDir dir;
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    if (!c.refused) write_file(in, mono8k(300));
    const RunResult r = tool({c.params[0], c.params[1], c.params[2], c.params[3], in, out});
    if (c.refused) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string(c.refused) + "\n");
        EXPECT_FALSE(file_exists(out));
    } else {
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(std::string("\n") + c.shown + "\n"), std::string::npos) << r.out;
        EXPECT_TRUE(file_exists(out));
    }
}

const ArgCase kArgCases[] = {
    {"kind_text_is_0", {"abc", "-20", "0.95", "0.98"}, nullptr, "  Mode substration: 0"},
    {"kind_fraction_truncated", {"2.7", "-20", "0.95", "0.98"}, nullptr, "  Mode substration: 2"},
    {"kind_3", {"3", "-20", "0.95", "0.98"}, nullptr, "  Mode substration: 3"},
    {"kind_negative", {"-1", "-20", "0.95", "0.98"}, kKind, nullptr},
    {"kind_4", {"4", "-20", "0.95", "0.98"}, kKind, nullptr},
    {"sdb_0", {"1", "0", "0.95", "0.98"}, nullptr, "  Limitation suppression: 0.00"},
    {"sdb_minus_0", {"1", "-0", "0.95", "0.98"}, nullptr, "  Limitation suppression: -0.00"},
    {"sdb_no_lower_limit", {"1", "-200", "0.95", "0.98"}, nullptr,
     "  Limitation suppression: -200.00"},
    {"sdb_positive", {"1", "0.5", "0.95", "0.98"}, kSdb, nullptr},
    {"sdb_nan", {"1", "nan", "0.95", "0.98"}, kSdb, nullptr},
    {"nn_lower_bound", {"1", "-20", "0.8", "0.98"}, nullptr, "  Noise adaptation rate: 0.80"},
    {"nn_below_one", {"1", "-20", "0.9995", "0.98"}, nullptr, "  Noise adaptation rate: 1.00"},
    {"nn_one", {"1", "-20", "1", "0.98"}, kNn, nullptr},
    {"nn_low", {"1", "-20", "0.79", "0.98"}, kNn, nullptr},
    {"nn_rounds_to_one", {"1", "-20", "0.99999999", "0.98"}, kNn, nullptr},
    {"nn_nan", {"1", "-20", "nan", "0.98"}, kNn, nullptr},
    {"mn_lower_bound", {"1", "-20", "0.95", "0.8"}, nullptr, "  Musical noise reduction: 0.80"},
    {"mn_below_one", {"1", "-20", "0.95", "0.9995"}, nullptr, "  Musical noise reduction: 1.00"},
    {"mn_one", {"1", "-20", "0.95", "1"}, kMn, nullptr},
    {"mn_low", {"1", "-20", "0.95", "0.79"}, kMn, nullptr},
    {"mn_rounds_to_one", {"1", "-20", "0.95", "0.99999999"}, kMn, nullptr},
    {"mn_nan", {"1", "-20", "0.95", "nan"}, kMn, nullptr},
    {"first_of_all_bad", {"4", "0.5", "1", "1"}, kKind, nullptr},
    {"first_of_sdb_nn_mn", {"1", "0.5", "0.5", "nan"}, kSdb, nullptr},
    {"first_of_nn_mn", {"1", "-20", "nan", "0.5"}, kNn, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cli, Arguments, testing::ValuesIn(kArgCases),
                         [](const testing::TestParamInfo<ArgCase> &i) { return i.param.name; });

// ------------------------------------------------------- successful run

TEST(Run, PrintsSettingsAndClosingText) {
    TempDir dir;
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    write_file(in, mono8k(1000));
    const RunResult r = tool({"2", "-20", "0.95", "0.98", in, out, "ignored"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\nFormat of input file: " + in + "\n" +
                         "  Sampling rate: 8000 Hz, Channels: 1\n"
                         "Parameters of Tarnwel's Noise Cancellation:\n"
                         "  Mode substration: 2\n"
                         "  Limitation suppression: -20.00\n"
                         "  Noise adaptation rate: 0.95\n"
                         "  Musical noise reduction: 0.98\n" +
                         kSep + "\nStart process ...\n" + kSep + "\nIt's finished...\n" + banner() +
                         "Press enter key\n");
    const Bytes o = read_file(out);
    ASSERT_EQ(o.size(), 56u + 1920u);
    EXPECT_EQ(read_u32(o, 4), 1968u);  // RIFF size
    EXPECT_EQ(read_u32(o, 52), 1920u);
}

// ------------------------------------------------------ refused inputs
// (The malformed files themselves are one table, run in test_bad_input.cpp.)

// Starts the tool with an open, empty pipe as standard input and reports
// whether it was still running after a while; then sends a newline and
// collects its exit status.
bool waits_for_key(const std::vector<std::string> &args, int *status) {
    int key[2];
    if (pipe(key) != 0) return false;
    const pid_t pid = spawn(tool_command(args), key[0], -1, -1);
    close(key[0]);
    if (pid < 0) return false;
    usleep(300 * 1000);
    int wstatus = 0;
    const bool waiting = waitpid(pid, &wstatus, WNOHANG) == 0;
    const ssize_t sent = write(key[1], "\n", 1);
    (void)sent;
    close(key[1]);
    *status = waiting ? wait_for(pid, 5.0) : (WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1);
    return waiting;
}

TEST(UnsupportedFormatKey, WaitsForOneKeyBeforeEnding) {
    TempDir dir;
    const std::string in = dir.path("in.wav");
    write_file(in, wav(fmt_body(3, 1, 8000, 16), white_noise(600, 500.0, 1)));
    int status = -1;
    EXPECT_TRUE(waits_for_key({"1", "-20", "0.95", "0.98", in, dir.path("out.wav")}, &status));
    EXPECT_EQ(status, 1);
}

TEST(UnreadableInput, MissingFileOrDirectory) {
    TempDir dir;
    for (const std::string &in : {dir.path("missing.wav"), dir.dir()}) {
        const RunResult r = tool({"1", "-20", "0.95", "0.98", in, dir.path("out.wav")});
        EXPECT_EQ(r.status, 1) << in;
        EXPECT_EQ(r.out, "Couldn't Read file\n") << in;
        EXPECT_FALSE(file_exists(dir.path("out.wav")));
    }
}

// ------------------------------------------------------ output failures

TEST(Output, UnopenableOutputCreatesNothing) {
    TempDir dir;
    const std::string in = dir.path("in.wav");
    write_file(in, mono8k(1000));
    const RunResult r = tool({"1", "-20", "0.95", "0.98", in, dir.path("no/such/dir/out.wav")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Couldn't Write File\n");
    EXPECT_FALSE(file_exists(dir.path("no")));
}

TEST(Output, SameFileAsInputIsRefused) {
    TempDir dir;
    const std::string in = dir.path("in.wav");
    const Bytes original = mono8k(1000);
    write_file(in, original);
    ASSERT_EQ(symlink(in.c_str(), dir.path("soft.wav").c_str()), 0);
    ASSERT_EQ(link(in.c_str(), dir.path("hard.wav").c_str()), 0);
    for (const std::string &out :
         {in, dir.dir() + "/./in.wav", dir.path("soft.wav"), dir.path("hard.wav")}) {
        const RunResult r = tool({"1", "-20", "0.95", "0.98", in, out});
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_EQ(r.out, "Couldn't Write File\n") << out;
        EXPECT_EQ(read_file(in), original) << out;
    }
}

// Small outputs fail when the buffered bytes are flushed at the end, large
// ones during the stream.
TEST(Output, FullDeviceEndsWithOneLineAndNoBanner) {
    TempDir dir;
    for (size_t n : {1000u, 40000u}) {
        const std::string in = dir.path("in.wav");
        write_file(in, mono8k(n));
        const RunResult r = tool({"1", "-20", "0.95", "0.98", in, "/dev/full"});
        EXPECT_EQ(r.status, 1) << n;
        EXPECT_EQ(count_of(r.out, "Couldn't Write File"), 1u) << r.out;
        EXPECT_EQ(lines(r.out).back(), "Couldn't Write File") << r.out;
        EXPECT_EQ(r.out.find("It's finished"), std::string::npos) << r.out;
    }
}

std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A file-size limit makes writes to a regular file fail part way: the
// half-written file must not be left behind as a result, and the file it
// was to replace stays as it was.
TEST(Output, FailedWriteLeavesNoPartialFile) {
    TempDir dir;
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    write_file(in, mono8k(40000));
    const Bytes earlier = mono8k(300);
    for (bool existed : {false, true}) {
        if (existed) write_file(out, earlier);
        std::vector<std::string> shell{"-c", "trap '' XFSZ; ulimit -f 8; exec \"$@\"", "sh"};
        for (const std::string &a : tool_command({"1", "-20", "0.95", "0.98", in, out})) shell.push_back(a);
        const RunResult r = run("/bin/sh", shell, 30.0);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(lines(r.out).back(), "Couldn't Write File");
        EXPECT_EQ(file_exists(out), existed);
        if (existed) {
            EXPECT_EQ(read_file(out), earlier);
        }
        EXPECT_EQ(names_in(dir.dir()).size(), existed ? 2u : 1u);
    }
}

// A file the user may not write is refused and kept, although the
// temporary file beside it could be renamed over it.
TEST(Output, ReadOnlyFileIsRefused) {
    if (geteuid() == 0) GTEST_SKIP() << "the superuser may write any file";
    TempDir dir;
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    write_file(in, mono8k(1000));
    write_file(out, mono8k(300));
    ASSERT_EQ(chmod(out.c_str(), 0444), 0);
    const RunResult r = tool({"1", "-20", "0.95", "0.98", in, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Couldn't Write File\n");
    EXPECT_EQ(read_file(out), mono8k(300));
}

// A symbolic link as output: its target gets the file, the link stays;
// also a link to a name that does not exist yet.
TEST(Output, SymbolicLinkIsFollowed) {
    TempDir dir;
    const std::string in = dir.path("in.wav");
    write_file(in, mono8k(1000));
    ASSERT_EQ(mkdir(dir.path("real").c_str(), 0700), 0);
    write_file(dir.path("real/old.wav"), mono8k(300));
    ASSERT_EQ(symlink("real/old.wav", dir.path("link.wav").c_str()), 0);
    ASSERT_EQ(symlink(dir.path("real/new.wav").c_str(), dir.path("dangling.wav").c_str()), 0);
    const RunResult ref = tool({"1", "-20", "0.95", "0.98", in, dir.path("ref.wav")});
    ASSERT_EQ(ref.status, 0);
    for (const char *name : {"link.wav", "dangling.wav"}) {
        const RunResult r = tool({"1", "-20", "0.95", "0.98", in, dir.path(name)});
        EXPECT_EQ(r.status, 0) << r.out;
        struct stat st;
        ASSERT_EQ(lstat(dir.path(name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    }
    EXPECT_EQ(read_file(dir.path("real/old.wav")), read_file(dir.path("ref.wav")));
    EXPECT_EQ(read_file(dir.path("real/new.wav")), read_file(dir.path("ref.wav")));
    EXPECT_EQ(names_in(dir.path("real")), (std::vector<std::string>{"new.wav", "old.wav"}));
}

// The input comes from a pipe that is held open, so the tool is part way
// through the file when the signal comes; it has made its temporary file.
struct Stopped {
    int wstatus = 0;
    std::string out;
};

Stopped stop_part_way(const std::string &dir, const std::string &out, int sig) {
    int in[2], text[2];
    Stopped s;
    if (pipe(in) != 0 || pipe(text) != 0) return s;
    const pid_t pid = spawn(tool_command({"1", "-20", "0.95", "0.98", "/dev/stdin", out}), in[0],
                            text[1], -1);
    close(in[0]);
    close(text[1]);
    const Bytes head = mono8k(16000, 2 * 16000 * 60);  // announces a minute, holds two seconds
    EXPECT_EQ(write(in[1], head.data(), head.size()), static_cast<ssize_t>(head.size()));
    for (int i = 0; i < 2000; ++i) {
        bool made = false;
        for (const std::string &n : names_in(dir)) made = made || n.rfind(".out.wav.", 0) == 0;
        if (made) break;
        usleep(5000);
    }
    usleep(50 * 1000);  // into the blocks
    kill(pid, sig);
    waitpid(pid, &s.wstatus, 0);
    close(in[1]);
    char buf[4096];
    for (ssize_t n; (n = read(text[0], buf, sizeof buf)) > 0;) s.out.append(buf, size_t(n));
    close(text[0]);
    return s;
}

// Stopped by a signal, the tool ends by that signal after the line
// "Interrupted", and leaves nothing of the run: an earlier file under the
// output's name stays as it was. SIGKILL can leave only a hidden file.
TEST(Output, InterruptedRunLeavesNoResult) {
    const Bytes earlier = mono8k(300);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        for (bool existed : {false, true}) {
            SCOPED_TRACE(std::string(strsignal(sig)) + (existed ? ", file existed" : ""));
            TempDir dir;
            const std::string out = dir.path("out.wav");
            if (existed) write_file(out, earlier);
            const Stopped s = stop_part_way(dir.dir(), out, sig);
            ASSERT_TRUE(WIFSIGNALED(s.wstatus));
            EXPECT_EQ(WTERMSIG(s.wstatus), sig);
            EXPECT_EQ(file_exists(out), existed);
            if (existed) {
                EXPECT_EQ(read_file(out), earlier);
            }
            const std::vector<std::string> left = names_in(dir.dir());
            if (sig == SIGKILL) {
                ASSERT_EQ(left.size(), existed ? 2u : 1u);
                EXPECT_EQ(left[0].rfind(".out.wav.", 0), 0u) << left[0];
            } else {
                EXPECT_EQ(left.size(), existed ? 1u : 0u);
                EXPECT_EQ(lines(s.out).back(), "Interrupted") << s.out;
                EXPECT_EQ(count_of(s.out, "Start process"), 1u) << s.out;
            }
        }
    }
}

// ------------------------------------------------------ output lengths

TEST(Length, ShorterThanOneBlockGivesEmptyValidFile) {
    TempDir dir;
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    write_file(in, mono8k(119));
    const RunResult r = tool({"1", "-20", "0.95", "0.98", in, out});
    EXPECT_EQ(r.status, 0);
    const Bytes o = read_file(out);
    ASSERT_EQ(o.size(), 56u);
    EXPECT_EQ(read_u32(o, 4), 48u);
    EXPECT_EQ(read_u32(o, 52), 0u);
}

// An output that cannot be repositioned keeps the provisional header, so a
// FIFO shows it.
TEST(Length, ProvisionalHeaderCountsWholeBlocks) {
    TempDir dir;
    const std::string in = dir.path("in.wav"), fifo = dir.path("out.fifo");
    write_file(in, mono8k(1000));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Bytes got;
    std::thread reader([&] {
        const int fd = open(fifo.c_str(), O_RDONLY);
        char buf[4096];
        for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;)
            got.insert(got.end(), buf, buf + n);
        if (fd >= 0) close(fd);
    });
    const RunResult r = tool({"1", "-20", "0.95", "0.98", in, fifo});
    // Frees the reader if the tool never opened the FIFO.
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    reader.join();
    EXPECT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(got.size(), 56u + 1920u);
    EXPECT_EQ(read_u32(got, 52), 1920u);
}

struct DataCase {
    const char *name;
    int64_t announced;  // -1: exactly what the file holds
    Bytes trailer;
    uint32_t out_samples;
    Bytes leader = {};  // chunks between fmt and data
};

void PrintTo(const DataCase &c, std::ostream *os) { *os << c.name; }

class DataExtent : public testing::TestWithParam<DataCase> {};

// 1000 samples at 8000 Hz: whole blocks of 120 samples.
TEST_P(DataExtent, OnlyAnnouncedDataIsProcessed) {
    const DataCase &c = GetParam();
    TempDir dir;
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    write_file(in, mono8k(1000, c.announced, c.trailer, c.leader));
    const RunResult r = tool({"1", "-20", "0.95", "0.98", in, out});
    EXPECT_EQ(r.status, 0) << r.out;
    const Bytes o = read_file(out);
    ASSERT_EQ(o.size(), 56u + 2u * c.out_samples);
    EXPECT_EQ(read_u32(o, 52), 2u * c.out_samples);
    EXPECT_EQ(read_u32(o, 4), 48u + 2u * c.out_samples);

    // The same file from a pipe, which cannot seek, gives the same bytes.
    const Bytes file = read_file(in);
    const std::string piped(file.begin(), file.end());
    const RunResult p = run_tool({"1", "-20", "0.95", "0.98", "/dev/stdin", dir.path("piped.wav")},
                                 30.0, &piped);
    EXPECT_EQ(p.status, 0) << p.out;
    EXPECT_EQ(read_file(dir.path("piped.wav")), o);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, DataExtent,
    testing::Values(DataCase{"exact", -1, {}, 960},
                    DataCase{"trailing_chunk_ignored", -1, chunk("LIST", Bytes(1000, 0x55)), 960},
                    DataCase{"announced_part_only", 1200, {}, 600},
                    DataCase{"size_0_reads_to_end", 0, {}, 960},
                    DataCase{"size_all_ones_reads_to_end", 0xFFFFFFFF, {}, 960},
                    DataCase{"file_ends_early", 4000, {}, 960},
                    // Chunks before the data that only the byte search gets past.
                    DataCase{"overlong_chunk_before_data", -1, {}, 960, [] {
                                 Bytes junk = chunk("JUNK", Bytes(8, 0x11));
                                 junk[4] = 0xE8;  // claims 1000 bytes
                                 junk[5] = 0x03;
                                 return junk;
                             }()}),
    [](const testing::TestParamInfo<DataCase> &i) { return i.param.name; });

// The output header copies the input's fmt fields as found (a made-up byte
// rate included), keeps the fmt size with zeroed extension bytes and
// always has a fact chunk.
TEST(Header, KeepsInputFieldsAndFmtSize) {
    struct Case {
        uint16_t format, channels;
        uint32_t rate;
        size_t extension;
    };
    for (const Case &c : {Case{0, 1, 8000, 0}, Case{1, 2, 16000, 2}}) {
        TempDir dir;
        const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
        Bytes fmt = fmt_body(c.format, c.channels, c.rate, 16);
        fmt[8] = 0x39;  // ByteRate's low byte
        fmt.insert(fmt.end(), c.extension, 0x77);
        write_file(in, wav(fmt, white_noise(400 * c.channels, 800.0, 3)));
        const RunResult r = tool({"1", "-20", "0.95", "0.98", in, out});
        ASSERT_EQ(r.status, 0) << r.out;
        const Bytes o = read_file(out);
        const size_t e = c.extension, header = 56 + e;
        ASSERT_GE(o.size(), header);
        EXPECT_EQ(std::string(o.begin(), o.begin() + 4), "RIFF");
        EXPECT_EQ(std::string(o.begin() + 8, o.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(read_u32(o, 16), 16u + e);
        EXPECT_EQ(Bytes(o.begin() + 20, o.begin() + 36), Bytes(fmt.begin(), fmt.begin() + 16));
        EXPECT_EQ(Bytes(o.begin() + 36, o.begin() + 36 + e), Bytes(e, 0));
        EXPECT_EQ(std::string(o.begin() + 36 + e, o.begin() + 40 + e), "fact");
        EXPECT_EQ(read_u32(o, 40 + e), 4u);
        EXPECT_EQ(read_u32(o, 44 + e), 0u);
        EXPECT_EQ(std::string(o.begin() + 48 + e, o.begin() + 52 + e), "data");
        EXPECT_EQ(read_u32(o, 52 + e), o.size() - header);
        EXPECT_EQ(read_u32(o, 4), o.size() - 8);
    }
}

struct RateCase {
    uint32_t rate, lenHalf;
    uint16_t channels;
};

void PrintTo(const RateCase &c, std::ostream *os) {
    *os << c.rate << " Hz, " << c.channels << " ch";
}

class BlockLength : public testing::TestWithParam<RateCase> {};

// Three and a half blocks per channel give exactly three blocks.
TEST_P(BlockLength, WholeBlocksOfTheRatesLength) {
    const RateCase &c = GetParam();
    TempDir dir;
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    const size_t n = 3 * c.lenHalf + c.lenHalf / 2;
    std::vector<std::vector<int16_t>> ch;
    for (uint16_t k = 0; k < c.channels; ++k) ch.push_back(white_noise(n, 600.0, 10 + k));
    write_file(in, pcm_wav(c.rate, c.channels, interleave(ch)));
    const RunResult r = tool({"1", "-20", "0.95", "0.98", in, out});
    EXPECT_EQ(r.status, 0) << r.out;
    const uint32_t bytes = 3 * c.lenHalf * 2 * c.channels;
    const Bytes o = read_file(out);
    ASSERT_EQ(o.size(), 56u + bytes);
    EXPECT_EQ(read_u32(o, 52), bytes);
    EXPECT_EQ(read_u16(o, 22), c.channels);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, BlockLength,
    testing::Values(RateCase{8000, 120, 1}, RateCase{8000, 120, 2}, RateCase{16000, 190, 1},
                    RateCase{16000, 190, 2}, RateCase{22050, 300, 1}, RateCase{22050, 300, 2},
                    RateCase{32000, 480, 1}, RateCase{32000, 480, 2}, RateCase{44100, 1024, 1},
                    RateCase{44100, 1024, 2}, RateCase{48000, 1024, 1}, RateCase{48000, 1024, 2}),
    [](const testing::TestParamInfo<RateCase> &i) {
        return std::to_string(i.param.rate) + (i.param.channels == 1 ? "_mono" : "_stereo");
    });

// ------------------------------------------------------------- progress

// Standard error goes to a pseudo-terminal only in the second run: the
// progress line appears there and is erased, and everything else, standard
// output included, is byte for byte what the first run gave.
TEST(Progress, OnlyOnATerminalAndErasedAtTheEnd) {
    TempDir dir;
    const std::string in = dir.path("in.wav"), out = dir.path("out.wav");
    write_file(in, mono8k(4000));
    const RunResult plain = tool({"2", "-20", "0.95", "0.98", in, out});
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    const Bytes plain_wav = read_file(out);

    int master, slave;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string stdout_path = dir.path("stdout");
    const int shown_fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = spawn(tool_command({"2", "-20", "0.95", "0.98", in, out}), -1, shown_fd, slave);
    close(shown_fd);
    close(slave);
    std::string terminal;
    char buf[512];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) terminal.append(buf, size_t(n));
    close(master);
    EXPECT_EQ(wait_for(pid, 30.0), 0);

    const Bytes shown = read_file(stdout_path);
    EXPECT_EQ(std::string(shown.begin(), shown.end()), plain.out);
    EXPECT_EQ(read_file(out), plain_wav);
    // One batch: drawn once, when it is written (its whole blocks: 99%).
    EXPECT_EQ(terminal.rfind("\r 99%  ", 0), 0u) << terminal;
    EXPECT_NE(terminal.find("x real time\x1b[K"), std::string::npos) << terminal;
    const std::string erase = "\r\x1b[K";
    EXPECT_EQ(terminal.compare(terminal.size() - std::min(terminal.size(), erase.size()),
                               std::string::npos, erase), 0) << terminal;
}

}  // namespace
