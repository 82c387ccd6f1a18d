#include "test_support.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>

// Processes and temporary folders are POSIX; a Windows build of the tests
// has the signal and file helpers alone.
#ifndef _WIN32
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "kernels/kernels.h"

namespace testsupport {

namespace {

// TNC_KERNELS=plain in the environment runs every test of the binary on the
// plain kernels, whatever the processor has.
const bool kPlainForced = [] {
    const char *k = std::getenv("TNC_KERNELS");
    if (!k || std::strcmp(k, "plain") != 0) return false;
    const NrKernels *tables[4];
    Nr_AvailableKernels(tables);
    Nr_ForceKernels(tables[0]);
    return true;
}();

}  // namespace

bool plain_kernels_forced() { return kPlainForced; }

void append(Bytes &b, const std::string &text) { b.insert(b.end(), text.begin(), text.end()); }

void append_u16(Bytes &b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void append_u32(Bytes &b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void append_samples(Bytes &b, const std::vector<int16_t> &samples) {
    for (int16_t s : samples) append_u16(b, static_cast<uint16_t>(s));
}

Bytes chunk(const std::string &id, const Bytes &body) {
    Bytes b;
    append(b, id);
    append_u32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes fmt_body(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b;
    const uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
    append_u16(b, format);
    append_u16(b, channels);
    append_u32(b, rate);
    append_u32(b, rate * align);
    append_u16(b, align);
    append_u16(b, bits);
    return b;
}

Bytes riff(const std::vector<Bytes> &chunks) {
    Bytes body;
    append(body, "WAVE");
    for (const Bytes &c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes b;
    append(b, "RIFF");
    append_u32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes pcm_wav(uint32_t rate, uint16_t channels, const std::vector<int16_t> &samples) {
    Bytes data;
    append_samples(data, samples);
    return riff({chunk("fmt ", fmt_body(1, channels, rate, 16)), chunk("data", data)});
}

uint32_t read_u32(const Bytes &b, size_t at) {
    return static_cast<uint32_t>(b.at(at)) | static_cast<uint32_t>(b.at(at + 1)) << 8 |
           static_cast<uint32_t>(b.at(at + 2)) << 16 | static_cast<uint32_t>(b.at(at + 3)) << 24;
}

uint64_t read_u64(const Bytes &b, size_t at) {
    return read_u32(b, at) | static_cast<uint64_t>(read_u32(b, at + 4)) << 32;
}

std::string strict_layout_error(const Bytes &file, size_t *data_at, uint64_t *data_bytes) {
    auto id_at = [&](size_t at) { return std::string(file.begin() + at, file.begin() + at + 4); };
    if (file.size() < 12) return "shorter than 12 bytes";
    const bool rf64 = id_at(0) == "RF64";
    if ((id_at(0) != "RIFF" && !rf64) || id_at(8) != "WAVE") return "not RIFF/RF64 WAVE";
    uint64_t riff = read_u32(file, 4), ds64_data = 0;
    size_t at = 12;
    bool seen_fmt = false;
    while (at + 8 <= file.size()) {
        const std::string id = id_at(at);
        uint64_t size = read_u32(file, at + 4);
        if (at == 12 && rf64) {
            if (id != "ds64" || size < 24 || at + 8 + 24 > file.size()) return "RF64 without ds64";
            riff = read_u64(file, at + 8);
            ds64_data = read_u64(file, at + 16);
        }
        if (at == 12 && rf64 != (id == "ds64")) return "ds64 out of place";
        if (id == "data" && rf64 && size == 0xFFFFFFFF) size = ds64_data;
        if (id == "fmt ") seen_fmt = true;
        if (id == "data") {
            if (!seen_fmt) return "data before fmt";
            if (riff != file.size() - 8) return "RIFF size " + std::to_string(riff) + " in a file of " +
                                                std::to_string(file.size()) + " bytes";
            if (at + 8 + size + (size & 1) != file.size())
                return "data chunk of " + std::to_string(size) + " bytes at " + std::to_string(at) +
                       " does not end the file of " + std::to_string(file.size());
            if (data_at) *data_at = at + 8;
            if (data_bytes) *data_bytes = size;
            return "";
        }
        for (char c : id)
            if (c < 0x20 || c > 0x7E) return "no chunk identifier at " + std::to_string(at);
        at += 8 + size + (size & 1);
    }
    return "no data chunk";
}

uint16_t read_u16(const Bytes &b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

std::vector<int16_t> samples_at(const Bytes &b, size_t at, size_t count) {
    std::vector<int16_t> s(count);
    for (size_t i = 0; i < count; ++i) s[i] = static_cast<int16_t>(read_u16(b, at + 2 * i));
    return s;
}

#ifndef _WIN32
TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/nrtest.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = buf.data();
}

TempDir::~TempDir() {
    nftw(
        dir_.c_str(),
        [](const char *p, const struct stat *, int, struct FTW *) { return std::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}
#endif

std::string TempDir::path(const std::string &name) const { return dir_ + "/" + name; }

void write_file(const std::string &path, const Bytes &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

#ifndef _WIN32
bool file_exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

namespace {

double now_s() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

}  // namespace

pid_t spawn(const std::vector<std::string> &argv, int in_fd, int out_fd, int err_fd) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int null_in = open("/dev/null", O_RDONLY), null_out = open("/dev/null", O_WRONLY);
    dup2(in_fd >= 0 ? in_fd : null_in, 0);
    dup2(out_fd >= 0 ? out_fd : null_out, 1);
    dup2(err_fd >= 0 ? err_fd : null_out, 2);
    // Nothing but the three standard descriptors reaches the program.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int wait_for(pid_t pid, double timeout_s, bool *timed_out) {
    const double deadline = now_s() + timeout_s;
    int wstatus = 0;
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
        if (now_s() > deadline) {
            if (timed_out) *timed_out = true;
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            return -1;
        }
        usleep(2000);
    }
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

RunResult run(const std::string &program, const std::vector<std::string> &args, double timeout_s,
              const std::string *stdin_text) {
    RunResult result;
    int out_pipe[2], err_pipe[2], in_pipe[2] = {-1, -1};
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return result;
    if (stdin_text && pipe(in_pipe) != 0) return result;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t pid = spawn(argv, in_pipe[0], out_pipe[1], err_pipe[1]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (stdin_text) {
        // A program that stops reading early must fail the write, not end
        // the test.
        signal(SIGPIPE, SIG_IGN);
        close(in_pipe[0]);
        if (pid > 0) {
            ssize_t ignored = write(in_pipe[1], stdin_text->data(), stdin_text->size());
            (void)ignored;
        }
        close(in_pipe[1]);
    }
    if (pid < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }
    const double deadline = now_s() + timeout_s;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_fds = 2;
    while (open_fds > 0) {
        const double left = deadline - now_s();
        if (left <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(std::min(left, 1.0) * 1000) + 1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    for (pollfd &p : fds)
        if (p.fd >= 0) close(p.fd);
    const int status = wait_for(pid, result.timed_out ? 0.0 : 1e9, nullptr);
    if (!result.timed_out) result.status = status;
    return result;
}

const std::string &tool_path() {
    static const std::string path = TEST_WAV_PATH;
    return path;
}

std::vector<std::string> tool_command(const std::vector<std::string> &args) {
    std::vector<std::string> argv;
    // A cross build runs the tool through the emulator it names (its words
    // separated by '|').
    const std::string emulator = TEST_EMULATOR;
    for (size_t start = 0; start < emulator.size();) {
        size_t end = emulator.find('|', start);
        if (end == std::string::npos) end = emulator.size();
        if (end > start) argv.push_back(emulator.substr(start, end - start));
        start = end + 1;
    }
    argv.push_back(tool_path());
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

RunResult run_tool(const std::vector<std::string> &args, double timeout_s,
                   const std::string *stdin_text) {
    const std::vector<std::string> argv = tool_command(args);
    return run(argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()), timeout_s, stdin_text);
}
#endif

std::vector<int16_t> white_noise(size_t n, double rms, uint32_t seed) {
    // mt19937's raw output is the same everywhere, unlike the standard
    // distributions: approximate a Gaussian by the sum of twelve uniforms.
    std::mt19937 rng(seed);
    std::vector<int16_t> s(n);
    for (int16_t &v : s) {
        double sum = -6.0;
        for (int k = 0; k < 12; ++k) sum += rng() / 4294967296.0;
        v = static_cast<int16_t>(std::clamp(std::lround(sum * rms), -32768L, 32767L));
    }
    return s;
}

std::vector<int16_t> pink_noise(size_t n, double rms, uint32_t seed) {
    // White noise through a sum of first-order low-passes that falls by
    // about 3 dB per octave, scaled to the asked level.
    const std::vector<int16_t> white = white_noise(n, 1000.0, seed);
    const double pole[6] = {0.99886, 0.99332, 0.96900, 0.86650, 0.55000, -0.7616};
    const double gain[6] = {0.0555179, 0.0750759, 0.1538520, 0.3104856, 0.5329522, -0.0168980};
    double state[6] = {}, last = 0.0, power = 0.0;
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i) {
        const double w = white[i] / 1000.0;
        double sum = w * 0.5362 + last;
        for (int k = 0; k < 6; ++k) sum += state[k] = pole[k] * state[k] + w * gain[k];
        last = w * 0.115926;
        v[i] = sum;
        power += sum * sum;
    }
    const double scale = n > 0 ? rms / std::sqrt(power / n + 1e-30) : 0.0;
    std::vector<int16_t> s(n);
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<int16_t>(std::clamp(std::lround(v[i] * scale), -32768L, 32767L));
    return s;
}

std::vector<int16_t> tone(size_t n, double freq, double rate, double amplitude) {
    std::vector<int16_t> s(n);
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * M_PI * freq * i / rate)));
    return s;
}

std::vector<int16_t> mix(const std::vector<int16_t> &a, const std::vector<int16_t> &b) {
    std::vector<int16_t> s(std::min(a.size(), b.size()));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(std::clamp(int(a[i]) + int(b[i]), -32768, 32767));
    return s;
}

std::vector<int16_t> golden_channel(uint32_t rate, uint32_t seed) {
    const size_t n = rate * 3 / 2;
    std::vector<int16_t> s = white_noise(n, 900.0, seed);
    const std::vector<int16_t> t = tone(n, 700.0 + 150.0 * seed, rate, 7000.0);
    for (size_t i = 0; i < n; ++i)
        if ((i / (rate / 4)) % 2 == 1) s[i] = static_cast<int16_t>(s[i] + t[i]);
    return s;
}

std::vector<int16_t> interleave(const std::vector<std::vector<int16_t>> &channels) {
    std::vector<int16_t> s;
    const size_t n = channels.at(0).size();
    for (size_t i = 0; i < n; ++i)
        for (const auto &c : channels) s.push_back(c.at(i));
    return s;
}

std::vector<int16_t> feed_blocks(TSpectSubtract &rec, const std::vector<int16_t> &in, int8 active,
                                 const std::function<void(size_t)> &after_frame) {
    const size_t h = rec.lenHalf;
    std::vector<int16_t> out;
    std::vector<int16> block(h);
    for (size_t at = 0, k = 0; h > 0 && at + h <= in.size(); at += h, ++k) {
        std::copy(in.begin() + at, in.begin() + at + h, block.begin());
        SpectSubtract_Frame(&rec, active, block.data());
        if (after_frame) after_frame(k);
        SpectSubtract_Restore(&rec, block.data());
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

std::vector<int16_t> block_loop(const std::vector<int16_t> &in, uint32_t rate, int mode, float pSdb,
                                float pNn, float pMn) {
    auto rec = std::make_unique<TSpectSubtract>();
    SpectSubtract_Init(rec.get(), rate, static_cast<int8>(mode), pSdb, pNn, pMn);
    return feed_blocks(*rec, in);
}

namespace {

#if defined(__x86_64__) || defined(__i386__)
constexpr unsigned kFlushBits = 0x8040u;  // MXCSR: flush-to-zero, denormals-are-zero
unsigned read_fp_control() { return _mm_getcsr(); }
void set_flush(bool on) { _mm_setcsr(on ? (_mm_getcsr() | kFlushBits) : (_mm_getcsr() & ~kFlushBits)); }
#elif defined(__aarch64__)
constexpr unsigned long kFlushBits = 1ul << 24;  // FPCR.FZ
unsigned long read_fp_control() {
    unsigned long v;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(v));
    return v;
}
void set_flush(bool on) {
    const unsigned long v = on ? (read_fp_control() | kFlushBits) : (read_fp_control() & ~kFlushBits);
    __asm__ __volatile__("msr fpcr, %0" ::"r"(v));
}
#else
int read_fp_control() { return fegetround(); }
void set_flush(bool) {}
#endif

}  // namespace

const std::vector<CallerFpEnv> &caller_fp_environments() {
    static const std::vector<CallerFpEnv> all = {
        {"flush-to-zero", true, FE_TONEAREST},
        {"upward", false, FE_UPWARD},
        {"downward", false, FE_DOWNWARD},
        {"toward zero", false, FE_TOWARDZERO},
        {"flush-to-zero, upward", true, FE_UPWARD},
    };
    return all;
}

bool run_in_fp_environment(const CallerFpEnv &env, const std::function<void()> &f) {
    fesetround(env.rounding);
    set_flush(env.flush_to_zero);
    const auto before = read_fp_control();
    f();
    const auto after = read_fp_control();
    set_flush(false);
    fesetround(FE_TONEAREST);
    return after == before;
}

std::string fnv1a(const Bytes &bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

}  // namespace testsupport
