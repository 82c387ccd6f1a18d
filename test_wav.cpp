// test_wav: denoises a 16-bit PCM WAV file (mono or stereo), one suppressor
// per channel, streaming block by block.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "Src/spsubst.h"
#include "tools_sdk/wav_stream.h"

namespace {

const char kSeparator[] = "======================================================";
const char kCantWrite[] = "Couldn't Write File";
// Blocks are a few kilobytes; larger stream buffers save system calls.
char inputBuffer[1 << 16], outputBuffer[1 << 16];

struct Settings {
    int kindMode;
    mfloat pSdb, pNn, pMn;
    const char *inpFile, *outFile;
};

void print_banner() {
    puts(kSeparator);
    puts(SpectSubtract_Info.product_name);
    puts(SpectSubtract_Info.product_version);
    puts(SpectSubtract_Info.product_company);
}

void print_usage(const char *program) {
    printf("Usage: %s <kindMode> <pSdb> <pNn> <pMn> <inpFile> <outFile>\n", program);
    puts("<kindMode> - Kind of mode substration: 0, 1 or 2, default: 1 ");
    puts("<pSdb> - Limitation suppression [-80.0, 0.0] dB, default: -18.0 ");
    puts("<pNn> - Noise adaptation rate [0.8, 0.999], default: 0.95");
    puts("<pMn> - Musical noise reduction [0.8, 0.999], default: 0.98");
    puts("<inpFile> - input sound file (*.wav).");
    puts("<outFile> - output sound file (*.wav).");
    puts("Supported signal formats (*.wav):");
    puts("   - Windows PCM (16 bit linear), Mono or Stereo channels;");
    puts("");
    print_banner();
}

// atoi: leading digits, low 32 bits of the value.
int parse_int(const char *text) {
    return static_cast<int>(static_cast<uint32_t>(std::strtol(text, nullptr, 10)));
}

mfloat parse_float(const char *text) { return static_cast<mfloat>(std::strtod(text, nullptr)); }

// Comparisons are on the single-precision values; a NaN passes none of them
// and would silence the whole output, so it is refused too.
bool rate_in_range(mfloat v) { return !std::isnan(v) && !(v < 0.8f) && !(v >= 1.0f); }

bool parse_arguments(char **argv, Settings *s) {
    s->kindMode = parse_int(argv[1]);
    if (s->kindMode < 0 || s->kindMode > 3) {
        puts("kindMode: 0, 1, 2 or 3, default: 2 ");
        return false;
    }
    s->pSdb = parse_float(argv[2]);
    if (std::isnan(s->pSdb) || s->pSdb > 0.0f) {
        puts("pSdb: [-80.0, 0.0] dB, default: -20.0 ");
        return false;
    }
    s->pNn = parse_float(argv[3]);
    if (!rate_in_range(s->pNn)) {
        puts("pNn: [0.8, 0.999], default: 0.95 ");
        return false;
    }
    s->pMn = parse_float(argv[4]);
    if (!rate_in_range(s->pMn)) {
        puts("pMn: [0.8, 0.999], default: 0.98 ");
        return false;
    }
    s->inpFile = argv[5];
    s->outFile = argv[6];
    return true;
}

bool supported_format(const TWavReader &r) {
    // Data are read as 16-bit samples, and there is one suppressor per
    // channel for at most two channels.
    return WavReader_Is16BitPcm(&r) && r.format.channels <= 2;
}

bool is_regular_file(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// "wb" would truncate the input before it is read, also through a link.
bool names_same_file(FILE *input, const char *outFile) {
    struct stat in, out;
    if (fstat(fileno(input), &in) != 0 || stat(outFile, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

void print_settings(const Settings &s, const TWavFormat &f) {
    printf("\nFormat of input file: %s\n", s.inpFile);
    printf("  Sampling rate: %u Hz, Channels: %d\n", static_cast<unsigned>(f.rate),
           static_cast<int>(f.channels));
    puts("Parameters of Tarnwel's Noise Cancellation:");
    printf("  Mode substration: %d\n", s.kindMode);
    printf("  Limitation suppression: %.2f\n", static_cast<double>(s.pSdb));
    printf("  Noise adaptation rate: %.2f\n", static_cast<double>(s.pNn));
    printf("  Musical noise reduction: %.2f\n", static_cast<double>(s.pMn));
    puts(kSeparator);
    puts("Start process ...");
    puts(kSeparator);
}

// A progress line on standard error, drawn only when that is a terminal so
// that logs and pipes stay clean: percent of the data chunk (seconds done
// when its size is unknown) and speed in times real time, redrawn at most
// four times a second and erased at the end.
struct Progress {
    using Clock = std::chrono::steady_clock;
    bool on;
    uint64_t total;             // data bytes, 0 when unknown
    double bytes_per_second;    // of audio
    Clock::time_point start = Clock::now();
    Clock::time_point last{};   // never drawn yet

    void update(uint64_t done) {
        if (!on) return;
        const Clock::time_point now = Clock::now();
        if (now - last < std::chrono::milliseconds(250)) return;
        last = now;
        const double audio = done / bytes_per_second;
        const double wall = std::chrono::duration<double>(now - start).count();
        if (total > 0)
            std::fprintf(stderr, "\r%3d%%", static_cast<int>(100.0 * done / total));
        else
            std::fprintf(stderr, "\r%.1f s", audio);
        if (wall > 0.0) std::fprintf(stderr, "  %.0fx real time", audio / wall);
        std::fputs("\x1b[K", stderr);  // erase what a longer line left
    }
    void clear() {
        if (on && last != Clock::time_point{}) std::fputs("\r\x1b[K", stderr);
    }
};

TSpectSubtract me[2];
// The mono pipeline's other records: one runs Restore for me[0], and each
// thread analyses blocks on one of its own (by the stage it runs).
TSpectSubtract synthesis, analysers[2];

enum class RunEnd { Done, ReadError, WriteError, NoMemory };

// The file is cleaned in batches of whole blocks, about four seconds each,
// by two threads where the machine has two cores. Stereo: one thread per
// channel. Mono: the analysis of a block (window, transform, magnitudes and
// phases) depends on the input alone, so it is shared out in chunks to
// whichever thread is free, while the two serial chains, the estimator
// (me[0]) and the synthesis (a record of its own), each keep one thread.
// All of it is exact: channels are independent, an analysis record primed
// with the block before a chunk analyses the chunk as the stream would, and
// Restore takes nothing but the magnitudes and phases, which travel with
// the batch.
struct Batch {
    // Left uninitialised: every value is written before it is read.
    std::unique_ptr<int16[]> in, out;  // interleaved sample frames
    std::unique_ptr<int16[]> lead;     // mono: the block before in[0]
    std::unique_ptr<float[]> spectra;  // mono: psdX and phasa of each block
    std::unique_ptr<int8[]> quiet;     // mono: nearSilence of each block
    size_t blocks = 0;
    size_t chunks = 0, chunks_done = 0;  // mono analysis, under Flow::m
};

class Cleaner {
public:
    Cleaner(unsigned channels, uint32 lenHalf, uint32 rate)
        : channels_(channels), len_(lenHalf),
          per_batch_(std::min<size_t>(kMaxBlocks, std::max<size_t>(1, 4 * size_t(rate) / lenHalf))),
          bins_(me[0].wmax) {
        for (Batch &b : ring_) {
            b.in.reset(new int16[per_batch_ * len_ * channels_]);
            b.out.reset(new int16[per_batch_ * len_ * channels_]);
            if (channels_ == 1) {
                b.lead.reset(new int16[len_]);
                b.spectra.reset(new float[per_batch_ * 2 * bins_]);
                b.quiet.reset(new int8[per_batch_]);
            }
        }
    }
    size_t blocks_per_batch() const { return per_batch_; }
    size_t frames_per_block() const { return len_; }
    Batch &slot(uint64_t batch) { return ring_[batch % kSlots]; }

    // Called by the reader before batch n is read into its slot.
    void prepare(uint64_t n) {
        if (channels_ != 1) return;
        Batch &b = slot(n);
        if (n == 0)
            std::fill(b.lead.get(), b.lead.get() + len_, int16(0));  // as a fresh record
        else
            std::memcpy(b.lead.get(), slot(n - 1).in.get() + (slot(n - 1).blocks - 1) * len_,
                        len_ * sizeof(int16));
    }
    // Called by the reader once batch n holds its blocks.
    void count_chunks(Batch &b) const {
        b.chunks = channels_ == 1 ? (b.blocks + kChunk - 1) / kChunk : 0;
        b.chunks_done = 0;
    }
    // Whether stage `stage` of batch b may run: its analysis is done, and
    // the mono synthesis follows the estimator.
    bool stage_ready(int stage, const Batch &b, uint64_t staged0, uint64_t n) const {
        return b.chunks_done == b.chunks && (stage == 0 || channels_ != 1 || staged0 > n);
    }

    void analyse_chunk(int stage, Batch &b, size_t chunk) {
        TSpectSubtract &a = analysers[stage];
        const size_t first = chunk * kChunk, end = std::min(b.blocks, first + kChunk);
        SpectSubtract_Analyse(&a, first == 0 ? b.lead.get() : b.in.get() + (first - 1) * len_);
        for (size_t k = first; k < end; ++k) {
            SpectSubtract_Analyse(&a, b.in.get() + k * len_);
            float *spectrum = b.spectra.get() + k * 2 * bins_;
            std::memcpy(spectrum, a.psdX, bins_ * sizeof(float));
            std::memcpy(spectrum + bins_, a.phasa, bins_ * sizeof(float));
            b.quiet[k] = a.nearSilence;
        }
    }
    // Stage 0 cleans channel 0 (mono: estimates), stage 1 cleans channel 1
    // (mono: synthesises channel 0).
    void run_stage(int stage, Batch &b) {
        if (channels_ == 2) {
            clean_channel(stage, b);
        } else if (stage == 0) {
            estimate(b);
        } else {
            synthesise(b);
        }
    }

private:
    static constexpr int kSlots = 3;
    static constexpr size_t kMaxBlocks = 512;  // what a rate far above the usual ones would ask
    static constexpr size_t kChunk = 32;       // blocks; one more primes the record

    void clean_channel(unsigned n, Batch &b) {
        std::vector<int16> block(len_);
        for (size_t k = 0; k < b.blocks; ++k) {
            const int16 *in = b.in.get() + k * len_ * channels_;
            int16 *out = b.out.get() + k * len_ * channels_;
            for (uint32 j = 0; j < len_; ++j) block[j] = in[j * channels_ + n];
            SpectSubtract_Frame(&me[n], 1, block.data());
            SpectSubtract_Restore(&me[n], block.data());
            for (uint32 j = 0; j < len_; ++j) out[j * channels_ + n] = block[j];
        }
    }
    void estimate(Batch &b) {
        for (size_t k = 0; k < b.blocks; ++k) {
            float *spectrum = b.spectra.get() + k * 2 * bins_;
            std::memcpy(me[0].psdX, spectrum, bins_ * sizeof(float));
            me[0].nearSilence = b.quiet[k];
            SpectSubtract_Estimate(&me[0], 1);
            std::memcpy(spectrum, me[0].psdX, bins_ * sizeof(float));
        }
    }
    void synthesise(Batch &b) {
        for (size_t k = 0; k < b.blocks; ++k) {
            const float *spectrum = b.spectra.get() + k * 2 * bins_;
            std::memcpy(synthesis.psdX, spectrum, bins_ * sizeof(float));
            std::memcpy(synthesis.phasa, spectrum + bins_, bins_ * sizeof(float));
            SpectSubtract_Restore(&synthesis, b.out.get() + k * len_);
        }
    }

    const unsigned channels_;
    const uint32 len_;
    const size_t per_batch_;
    const uint32 bins_;
    Batch ring_[kSlots];

public:
    static int slots() { return kSlots; }
};

// Batch bookkeeping shared by the two threads: how many batches are read,
// how far the analysis chunks are handed out, how many batches each stage
// has finished, how many are written.
struct Flow {
    std::mutex m;
    std::condition_variable changed;
    uint64_t read = 0, written = 0, staged[2] = {0, 0};
    uint64_t claim_batch = 0;
    size_t claim_chunk = 0;
    bool input_done = false, abort = false;
};

// Does one piece of work for `stage` if one is ready: the stage's next
// batch first (its chain is serial), else a chunk of analysis. Called and
// returns with the lock held; false when nothing was ready.
bool work_once(Cleaner &c, Flow &f, int stage, std::unique_lock<std::mutex> &lock) {
    const uint64_t b = f.staged[stage];
    if (b < f.read && c.stage_ready(stage, c.slot(b), f.staged[0], b)) {
        lock.unlock();
        c.run_stage(stage, c.slot(b));
        lock.lock();
        f.staged[stage] = b + 1;
        f.changed.notify_all();
        return true;
    }
    while (f.claim_batch < f.read && f.claim_chunk >= c.slot(f.claim_batch).chunks) {
        ++f.claim_batch;
        f.claim_chunk = 0;
    }
    if (f.claim_batch >= f.read) return false;
    Batch &cb = c.slot(f.claim_batch);
    const size_t chunk = f.claim_chunk++;
    lock.unlock();
    c.analyse_chunk(stage, cb, chunk);
    lock.lock();
    if (++cb.chunks_done == cb.chunks) f.changed.notify_all();
    return true;
}

// The second thread: stage 1 and analysis, until every batch read has
// passed stage 1.
void worker(Cleaner &c, Flow &f) {
    std::unique_lock<std::mutex> lock(f.m);
    while (!f.abort) {
        if (work_once(c, f, 1, lock)) continue;
        if (f.staged[1] >= f.read && f.input_done) return;
        f.changed.wait(lock);
    }
}

// Reads a batch of whole blocks; false at the end of the input. The output
// ends where its header's 32-bit sizes do: `pending` frames are read but
// not yet written.
bool read_batch(TWavReader &in, TWavWriter &out, uint64_t pending, Cleaner &c, Batch &b,
                RunEnd *end) {
    const size_t len = c.frames_per_block();
    size_t want = c.blocks_per_batch();
    const uint64_t room = (WavWriter_Room(&out) - pending) / len;
    if (room < want) want = static_cast<size_t>(room);
    const size_t frames = WavReader_Read16(&in, b.in.get(), want * len);
    b.blocks = frames / len;
    if (frames < want * len && WavReader_Failed(&in)) *end = RunEnd::ReadError;
    return b.blocks == want && want > 0;
}

// The main thread reads and writes the batches in order and, between
// those, runs stage 0 and analysis; a second thread, where the machine has
// two cores, runs stage 1 and analysis. (Two threads, not three: a third
// would keep taking a core from a stage.) With one core the main thread
// runs both stages.
RunEnd process_blocks(TWavReader &in, TWavWriter &out, uint32 lenHalf) {
    const unsigned channels = in.format.channels;
    RunEnd end = RunEnd::Done;
    Cleaner *cleaner = nullptr;
    try {
        cleaner = new Cleaner(channels, lenHalf, in.format.rate);
    } catch (const std::bad_alloc &) {
        return RunEnd::NoMemory;
    }
    Cleaner &c = *cleaner;
    const uint64_t frame_bytes = 2u * channels;
    Progress progress{isatty(2) == 1 && in.format.rate > 0,
                      in.remaining == UINT64_MAX ? 0 : in.remaining,
                      double(frame_bytes) * in.format.rate};

    Flow flow;
    const bool two_threads = std::thread::hardware_concurrency() >= 2;
    std::thread second;
    if (two_threads) second = std::thread(worker, std::ref(c), std::ref(flow));
    bool more = true;
    uint64_t frames_read = 0;
    std::unique_lock<std::mutex> lock(flow.m);
    for (;;) {
        if (more && end == RunEnd::Done && flow.read < flow.written + Cleaner::slots()) {
            const uint64_t n = flow.read;
            Batch &b = c.slot(n);
            const uint64_t pending = frames_read - out.frames;
            lock.unlock();
            c.prepare(n);
            more = read_batch(in, out, pending, c, b, &end);
            lock.lock();
            frames_read += b.blocks * lenHalf;
            c.count_chunks(b);
            if (b.blocks > 0) ++flow.read;
            flow.input_done = !more || end != RunEnd::Done;
            flow.changed.notify_all();
            continue;
        }
        const uint64_t w = flow.written;
        if (w < flow.read && flow.staged[0] > w && flow.staged[1] > w) {
            Batch &b = c.slot(w);
            lock.unlock();
            const bool ok = WavWriter_Write16(&out, b.out.get(), b.blocks * lenHalf) != 0;
            progress.update(out.frames * frame_bytes);
            lock.lock();
            if (!ok) {
                end = RunEnd::WriteError;
                flow.abort = true;
                flow.changed.notify_all();
                break;
            }
            flow.written = w + 1;
            continue;
        }
        if (w >= flow.read && flow.input_done) break;
        if (work_once(c, flow, 0, lock)) continue;
        if (!two_threads && work_once(c, flow, 1, lock)) continue;
        flow.changed.wait(lock);
    }
    lock.unlock();
    if (second.joinable()) second.join();
    progress.clear();
    delete cleaner;
    return end;
}

int fail_output(FILE *input, FILE *output, const char *outFile, const char *message) {
    std::fclose(input);
    std::fclose(output);
    // A half-written file must not pass for a result.
    if (is_regular_file(outFile)) std::remove(outFile);
    puts(message);
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 7) {
        print_usage(argv[0]);
        return 1;
    }
    Settings s;
    if (!parse_arguments(argv, &s)) return 1;

    FILE *input = std::fopen(s.inpFile, "rb");
    struct stat in_st;
    if (input && (fstat(fileno(input), &in_st) != 0 || S_ISDIR(in_st.st_mode))) {
        std::fclose(input);
        input = nullptr;
    }
    if (!input) {
        puts("Couldn't Read file");
        return 1;
    }
    std::setvbuf(input, inputBuffer, _IOFBF, sizeof inputBuffer);

    TWavReader reader;
    if (!WavReader_Open(&reader, input)) {
        std::fclose(input);
        puts("Unknown format");
        return 1;
    }
    if (!supported_format(reader)) {
        puts("Input file must be Windows PCM, 16 bits linear");
        std::fclose(input);
        puts("Press enter key to exit.");
        std::fflush(stdout);
        (void)std::getchar();
        return 1;
    }

    FILE *output = names_same_file(input, s.outFile) ? nullptr : std::fopen(s.outFile, "wb");
    if (!output) {
        std::fclose(input);
        puts(kCantWrite);
        return 1;
    }
    std::setvbuf(output, outputBuffer, _IOFBF, sizeof outputBuffer);

    print_settings(s, reader.format);

    const TWavFormat &format = reader.format;
    const int8 mode = static_cast<int8>(s.kindMode);
    SpectSubtract_Init(&me[0], format.rate, mode, s.pSdb, s.pNn, s.pMn);
    SpectSubtract_Init(&me[1], format.rate, mode, s.pSdb, s.pNn, s.pMn);
    for (TSpectSubtract *r : {&synthesis, &analysers[0], &analysers[1]})
        SpectSubtract_Init(r, format.rate, mode, s.pSdb, s.pNn, s.pMn);
    const uint32 lenHalf = me[0].lenHalf;

    // The provisional header counts the whole blocks the data chunk
    // announces.
    const uint32_t sizeInp = format.data_size / (2u * format.channels);
    const uint32_t szK = sizeInp / static_cast<uint32_t>(lenHalf);
    TWavWriter writer;
    const RunEnd end = WavWriter_Begin(&writer, output, &format, static_cast<uint32_t>(szK * lenHalf))
                           ? process_blocks(reader, writer, lenHalf)
                           : RunEnd::WriteError;

    SpectSubtract_Destroyed(&me[0]);
    SpectSubtract_Destroyed(&me[1]);
    for (TSpectSubtract *r : {&synthesis, &analysers[0], &analysers[1]}) SpectSubtract_Destroyed(r);
    if (end == RunEnd::WriteError) return fail_output(input, output, s.outFile, kCantWrite);
    if (end == RunEnd::NoMemory) return fail_output(input, output, s.outFile, "Out of memory");

    if (!WavWriter_Finish(&writer)) return fail_output(input, output, s.outFile, kCantWrite);
    std::fclose(input);
    if (std::fclose(output) != 0) {
        if (is_regular_file(s.outFile)) std::remove(s.outFile);
        puts(kCantWrite);
        return 1;
    }
    if (end == RunEnd::ReadError) {
        // What was read is saved with a valid header; the run still failed.
        puts("Couldn't Read file");
        return 1;
    }

    puts("It's finished...");
    print_banner();
    puts("Press enter key");
    return 0;
}
