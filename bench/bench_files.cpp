// Whole-file benchmark: generates noisy and silent WAV files of ten minutes
// (8 kHz mono, 16 kHz mono, 44.1 kHz and 48 kHz stereo), runs every program
// on each of them several times as a child process, and prints two tables:
// the real-time factor per second of CPU time (user and system, summed over
// threads: the cost of the work) with the peak resident memory, and the wall
// time of the whole process on the noisy files with the ratio of each
// peer's time to TarnwelNC's (what a user waits for).
//
//   bench_files --tarnwelnc PATH [--build LABEL=PATH]... [--speexdsp PATH]
//               [--webrtc PATH] [--seconds S] [--reps R] [--dir DIR]
//
// --build adds another build of test_wav (an older one, say) to the table.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "wav.h"

namespace {

struct Program {
    std::string label;
    std::string path;
    bool tarnwelnc;  // takes test_wav's arguments
};

struct Input {
    const char *label;
    uint32_t rate;
    unsigned channels;
    bool silent;
    std::string path;
};

// ------------------------------------------------------------ the files

// A deterministic, platform-independent signal: white noise (the sum of
// twelve uniform numbers from a 32-bit LCG) under bursts of a harmonic
// "voice" that come and go every second, different in each channel.
struct Lcg {
    uint32_t s;
    double uniform() {
        s = s * 1664525u + 1013904223u;
        return s / 4294967296.0;
    }
};

std::vector<int16_t> noisy_channel(uint32_t rate, size_t n, unsigned channel) {
    Lcg rng{12345u + 7919u * channel};
    std::vector<int16_t> s(n);
    const double f0 = 140.0 + 40.0 * channel;
    for (size_t i = 0; i < n; ++i) {
        double noise = -6.0;
        for (int k = 0; k < 12; ++k) noise += rng.uniform();
        double v = 800.0 * noise;
        const double t = static_cast<double>(i) / rate;
        if (static_cast<uint64_t>(t) % 2 == 1) {
            for (int h = 1; h <= 8; ++h)
                v += 2500.0 / h *
                     std::sin(2.0 * M_PI * f0 * h * t * (1.0 + 0.05 * std::sin(3.0 * t)));
        }
        s[i] = static_cast<int16_t>(std::lround(std::max(-32767.0, std::min(32767.0, v))));
    }
    return s;
}

bool write_input(const Input &in, unsigned seconds) {
    const size_t frames = static_cast<size_t>(in.rate) * seconds;
    std::vector<int16_t> data(frames * in.channels, 0);
    if (!in.silent) {
        for (unsigned c = 0; c < in.channels; ++c) {
            const std::vector<int16_t> s = noisy_channel(in.rate, frames, c);
            for (size_t i = 0; i < frames; ++i) data[i * in.channels + c] = s[i];
        }
    }
    WAV_HEADER h;
    h.SubChunk_fmtSize = 16;
    h.AudioFormat = 1;
    h.Channels = static_cast<uint16_t>(in.channels);
    h.SampleRate = in.rate;
    h.BlockAlign = static_cast<uint16_t>(2 * in.channels);
    h.ByteRate = in.rate * h.BlockAlign;
    h.BitsPerSample = 16;
    h.DataSize = static_cast<uint32_t>(data.size() * 2);
    return h.saveAll(in.path.c_str(), static_cast<unsigned>(frames), data.data()) == 1;
}

// The runner's children inherit its resident pages: files are made in a
// child of their own so that the runner stays small.
bool generate_apart(const Input &in, unsigned seconds) {
    const pid_t pid = fork();
    if (pid == 0) _exit(write_input(in, seconds) ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// ---------------------------------------------------------- one run

struct Sample {
    bool ok = false;
    bool unsupported = false;
    double seconds = 0.0;  // CPU time, user and system
    double wall = 0.0;
    long max_rss_kb = 0;
};

Sample run_once(const Program &p, const std::string &in, const std::string &out) {
    std::vector<std::string> args = {p.path};
    if (p.tarnwelnc) args.insert(args.end(), {"2", "-20", "0.95", "0.98"});
    args.push_back(in);
    args.push_back(out);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    Sample r;
    int go[2];
    if (pipe(go) != 0) return r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        close(go[1]);
        char c;
        if (read(go[0], &c, 1) < 0) _exit(127);
        close(go[0]);
        const int devnull = ::open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        // The peak resident size starts from this process's own (a fork of
        // the runner, kept small); forget the runner's history.
        const int refs = ::open("/proc/self/clear_refs", O_WRONLY);
        if (refs >= 0 && write(refs, "5", 1) == 1) close(refs);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(go[0]);
    if (pid > 0 && write(go[1], "g", 1) != 1) kill(pid, SIGKILL);
    close(go[1]);
    if (pid < 0) return r;
    int status = 0;
    struct rusage ru;
    wait4(pid, &status, 0, &ru);
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.seconds = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
    r.max_rss_kb = ru.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.unsupported = WIFEXITED(status) && WEXITSTATUS(status) == 2 && !p.tarnwelnc;
    return r;
}

// ------------------------------------------------------------ report

struct Result {
    bool ok = true, unsupported = false, any = false;
    double best = 1e300, best_wall = 1e300;
    long rss_kb = 0;

    void add(const Sample &s) {
        if (s.unsupported) {
            unsupported = true;
            return;
        }
        ok = ok && s.ok;
        any = true;
        best = std::min(best, s.seconds);
        best_wall = std::min(best_wall, s.wall);
        rss_kb = std::max(rss_kb, s.max_rss_kb);
    }
};

// CPU-time factor, then the wall-time one in parentheses.
std::string rtf_cell(const Result &r, unsigned seconds) {
    if (r.unsupported) return "n/a";
    if (!r.any || !r.ok) return "failed";
    char b[32];
    std::snprintf(b, sizeof b, "%.0f (%.0f)", seconds / r.best, seconds / r.best_wall);
    return b;
}

void usage() {
    std::puts(
        "usage: bench_files --tarnwelnc PATH [--build LABEL=PATH]... [--speexdsp PATH] "
        "[--webrtc PATH] [--seconds S] [--reps R] [--dir DIR]");
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<Program> programs;
    unsigned seconds = 600, reps = 5;
    std::string dir = ".";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i], val = argv[i + 1];
        if (opt == "--tarnwelnc")
            programs.push_back({"TarnwelNC", val, true});
        else if (opt == "--build" && val.find('=') != std::string::npos)
            programs.push_back({"TarnwelNC, " + val.substr(0, val.find('=')),
                                val.substr(val.find('=') + 1), true});
        else if (opt == "--speexdsp")
            programs.push_back({"libspeexdsp preprocessor", val, false});
        else if (opt == "--webrtc")
            programs.push_back({"webrtc-audio-processing NS", val, false});
        else if (opt == "--seconds")
            seconds = static_cast<unsigned>(std::atoi(val.c_str()));
        else if (opt == "--reps")
            reps = static_cast<unsigned>(std::atoi(val.c_str()));
        else if (opt == "--dir")
            dir = val;
        else {
            usage();
            return 1;
        }
    }
    if (programs.empty() || seconds == 0 || reps == 0) {
        usage();
        return 1;
    }
    mkdir(dir.c_str(), 0755);

    std::vector<Input> inputs = {
        {"8 kHz mono", 8000, 1, false, ""},       {"8 kHz mono", 8000, 1, true, ""},
        {"16 kHz mono", 16000, 1, false, ""},     {"16 kHz mono", 16000, 1, true, ""},
        {"44.1 kHz stereo", 44100, 2, false, ""}, {"44.1 kHz stereo", 44100, 2, true, ""},
        {"48 kHz stereo", 48000, 2, false, ""},   {"48 kHz stereo", 48000, 2, true, ""},
    };
    for (Input &in : inputs) {
        in.path = dir + "/" + std::to_string(in.rate) + (in.channels == 2 ? "_stereo" : "_mono") +
                  (in.silent ? "_silence_" : "_noise_") + std::to_string(seconds) + "s.wav";
        struct stat st;
        if (stat(in.path.c_str(), &st) == 0) continue;  // generated by an earlier run
        if (!generate_apart(in, seconds)) {
            std::printf("cannot write %s\n", in.path.c_str());
            return 1;
        }
    }

    // Repetitions interleave programs and files so that a burst of load on
    // the machine does not fall on one program only; the best run counts.
    std::vector<std::vector<Result>> results(inputs.size(), std::vector<Result>(programs.size()));
    const std::string out = dir + "/out.wav";
    for (unsigned rep = 0; rep < reps; ++rep)
        for (size_t f = 0; f < inputs.size(); ++f)
            for (size_t p = 0; p < programs.size(); ++p) {
                if (results[f][p].unsupported) continue;
                results[f][p].add(run_once(programs[p], inputs[f].path, out));
            }
    std::remove(out.c_str());

    std::printf(
        "%u s per file, best of %u runs; real-time factor = seconds of audio per second "
        "of CPU time (of wall time in parentheses); higher is faster\n\n",
        seconds, reps);
    std::puts(
        "| Input | Program | × real time, noise | × real time, silence | silence/noise time "
        "| peak memory |");
    std::puts("|---|---|---:|---:|---:|---:|");
    for (size_t f = 0; f < inputs.size(); f += 2) {
        for (size_t p = 0; p < programs.size(); ++p) {
            const Result &noise = results[f][p], &silence = results[f + 1][p];
            char ratio[32] = "-", mem[32] = "-";
            if (noise.any && silence.any && noise.ok && silence.ok)
                std::snprintf(ratio, sizeof ratio, "%.2f", silence.best / noise.best);
            if (noise.any)
                std::snprintf(mem, sizeof mem, "%.1f MB",
                              std::max(noise.rss_kb, silence.rss_kb) / 1024.0);
            std::printf("| %s | %s | %s | %s | %s | %s |\n", inputs[f].label,
                        programs[p].label.c_str(), rtf_cell(noise, seconds).c_str(),
                        rtf_cell(silence, seconds).c_str(), ratio, mem);
        }
    }

    // Wall time on the noisy files, and each peer against the first
    // TarnwelNC build.
    std::vector<size_t> peers;
    for (size_t p = 0; p < programs.size(); ++p)
        if (!programs[p].tarnwelnc) peers.push_back(p);
    std::printf("\nWhole process on the noisy files, wall time of the best of %u runs:\n\n", reps);
    std::string head = "| Input |", rule = "|---|";
    for (const Program &p : programs) {
        head += " " + p.label + " |";
        rule += "---:|";
    }
    for (size_t p : peers) {
        head += " ratio to " + programs[p].label + " |";
        rule += "---:|";
    }
    std::printf("%s\n%s\n", head.c_str(), rule.c_str());
    for (size_t f = 0; f < inputs.size(); f += 2) {
        std::string row = std::string("| ") + inputs[f].label + " |";
        for (size_t p = 0; p < programs.size(); ++p) {
            const Result &r = results[f][p];
            char cell[32] = "n/a";
            if (r.any && r.ok) std::snprintf(cell, sizeof cell, "%.3f s", r.best_wall);
            else if (!r.unsupported) std::snprintf(cell, sizeof cell, "failed");
            row += std::string(" ") + cell + " |";
        }
        for (size_t p : peers) {
            const Result &ours = results[f][0], &peer = results[f][p];
            char cell[32] = "-";
            if (ours.any && ours.ok && peer.any && peer.ok)
                std::snprintf(cell, sizeof cell, "%.2fx", peer.best_wall / ours.best_wall);
            row += std::string(" ") + cell + " |";
        }
        std::printf("%s\n", row.c_str());
    }
    return 0;
}
