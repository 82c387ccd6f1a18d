// Helpers shared by the tests: WAV images built byte by byte, temporary
// files, and running the tool as a real process.
#ifndef TESTS_SUPPORT_H
#define TESTS_SUPPORT_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "spsubst.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;

void append(Bytes &b, const std::string &text);  // raw characters, no terminator
void append_u16(Bytes &b, uint16_t v);
void append_u32(Bytes &b, uint32_t v);
void append_samples(Bytes &b, const std::vector<int16_t> &samples);
// A chunk: identifier, 32-bit size of body, body (no pad byte added).
Bytes chunk(const std::string &id, const Bytes &body);
// The 16 bytes of fmt fields.
Bytes fmt_body(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits);
// "RIFF", size, "WAVE" followed by the given chunks (RIFF size computed).
Bytes riff(const std::vector<Bytes> &chunks);
// A canonical 44-byte-header PCM file holding the interleaved samples.
Bytes pcm_wav(uint32_t rate, uint16_t channels, const std::vector<int16_t> &samples);

uint32_t read_u32(const Bytes &b, size_t at);
uint64_t read_u64(const Bytes &b, size_t at);
// Walks a RIFF or RF64 file as a strict reader does: chunk by chunk by
// their sizes, a pad byte after each odd one, the RIFF size (RF64: the ds64
// one) equal to the file's length less 8, and a data chunk whose body ends
// the file. "" when it holds, else what broke; *data_at and *data_bytes
// give the data chunk's body.
std::string strict_layout_error(const Bytes &file, size_t *data_at = nullptr,
                                uint64_t *data_bytes = nullptr);
uint16_t read_u16(const Bytes &b, size_t at);
std::vector<int16_t> samples_at(const Bytes &b, size_t at, size_t count);

Bytes text(const std::string &s);  // its characters, no terminator
Bytes cat(const std::vector<Bytes> &parts);
void set_u16(Bytes &b, size_t at, uint16_t v);
void set_u32(Bytes &b, size_t at, uint32_t v);
// A chunk that declares `size` whatever its body holds.
Bytes chunk_sized(const std::string &id, uint32_t size, const Bytes &body = {});
// An RF64 file: riff() with "RF64" and the size 0xFFFFFFFF.
Bytes rf64(const std::vector<Bytes> &chunks);
// A ds64 chunk announcing `bytes` of data, with `extra` bytes of table.
Bytes ds64(uint64_t bytes, size_t extra = 0);

// Malformed and unusual WAV files, one table for the WAV module's tests,
// the tool's and the bad-input suite. Where the header reader takes a
// file, its data chunk's body is wav_case_samples() and ends the file.
struct WavCase {
    // How test_wav takes the file: refused by the header reader ("Unknown
    // format"), refused for its format, or cleaned.
    enum class Takes { Unknown, Format, Cleaned };
    const char *name;
    Bytes file;
    Takes takes;
    uint32_t fmt_size = 16;  // as read, where the header loads
};
const std::vector<WavCase> &wav_cases();
const Bytes &wav_case_samples();
void PrintTo(const WavCase &c, std::ostream *os);

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path(const std::string &name) const;
    const std::string &dir() const { return dir_; }

private:
    std::string dir_;
};

void write_file(const std::string &path, const Bytes &bytes);
Bytes read_file(const std::string &path);
bool file_exists(const std::string &path);

struct RunResult {
    int status = -1;        // exit status, or -1 when killed or not started
    bool timed_out = false;
    std::string out;        // standard output
    std::string err;        // standard error
};

// Starts argv[0] with argv and the given descriptors as standard input,
// output and error (-1 for /dev/null); returns its pid, or -1.
pid_t spawn(const std::vector<std::string> &argv, int in_fd, int out_fd, int err_fd);
// Waits for the child, killing it after timeout_s seconds; returns its exit
// status, or -1 when it was killed or ended by a signal.
int wait_for(pid_t pid, double timeout_s, bool *timed_out = nullptr);

// Runs a program with standard input from /dev/null (or from stdin_text
// when given) and kills it after timeout_s seconds.
RunResult run(const std::string &program, const std::vector<std::string> &args,
              double timeout_s = 60.0, const std::string *stdin_text = nullptr);

// The tool under test (test_wav): its path, the command line that runs it
// with `args` (through the emulator in a cross build), and run() on it.
const std::string &tool_path();
std::vector<std::string> tool_command(const std::vector<std::string> &args);
RunResult run_tool(const std::vector<std::string> &args, double timeout_s = 60.0,
                   const std::string *stdin_text = nullptr);

// Deterministic test signals.
std::vector<int16_t> white_noise(size_t n, double rms, uint32_t seed);
// Noise whose power falls by about 3 dB per octave, like most room and
// machine noise, at the given RMS level.
std::vector<int16_t> pink_noise(size_t n, double rms, uint32_t seed);
std::vector<int16_t> tone(size_t n, double freq, double rate, double amplitude);
std::vector<int16_t> mix(const std::vector<int16_t> &a, const std::vector<int16_t> &b);
// The golden tests' input channel: 1.5 s of noise with tone bursts every
// quarter second, different for each seed.
std::vector<int16_t> golden_channel(uint32_t rate, uint32_t seed);
// Interleaves equally long channels.
std::vector<int16_t> interleave(const std::vector<std::vector<int16_t>> &channels);
// Whether TNC_KERNELS=plain made this run take the plain kernels.
bool plain_kernels_forced();

// Feeds the whole blocks of `in` through an initialised record, Frame then
// Restore, and returns what Restore wrote. `after_frame`, when given, runs
// between the two calls with the index of the block.
std::vector<int16_t> feed_blocks(TSpectSubtract &rec, const std::vector<int16_t> &in,
                                 int8 active = 1,
                                 const std::function<void(size_t)> &after_frame = nullptr);
// The same on a fresh record for one channel at `rate` Hz.
std::vector<int16_t> block_loop(const std::vector<int16_t> &in, uint32_t rate, int mode,
                                float pSdb = -20.0f, float pNn = 0.95f, float pMn = 0.98f);
// Floating-point environments a host may have set when it calls the core:
// flush-to-zero with denormals-are-zero, each rounding direction other than
// to nearest, and all of them at once. Where the processor has no
// flush-to-zero control, those cases change the rounding direction only.
struct CallerFpEnv {
    const char *name;
    bool flush_to_zero;
    int rounding;  // FE_TONEAREST, FE_UPWARD, FE_DOWNWARD or FE_TOWARDZERO
};
const std::vector<CallerFpEnv> &caller_fp_environments();
// Runs f with `env` set, restores the defaults, and reports whether the
// environment f left behind was exactly the one it was given (control and
// status bits alike, as far as the processor keeps them).
bool run_in_fp_environment(const CallerFpEnv &env, const std::function<void()> &f);

// 64-bit FNV-1a of bytes, printed as 16 hex digits.
std::string fnv1a(const Bytes &bytes);

}  // namespace testsupport

#endif
