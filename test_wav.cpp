// test_wav: denoises a 16-bit PCM WAV file (mono or stereo), one suppressor
// per channel, streaming block by block.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "Src/spstream.h"
#include "host/cleaner.h"
#include "tools_sdk/output_file.h"
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

// The stream layer checks the values (on the single-precision values; a
// NaN, which would silence the whole output, is refused too) and names the
// first one that is wrong.
bool parse_arguments(char **argv, Settings *s) {
    s->kindMode = parse_int(argv[1]);
    s->pSdb = parse_float(argv[2]);
    s->pNn = parse_float(argv[3]);
    s->pMn = parse_float(argv[4]);
    switch (SpectStream_CheckParameters(s->kindMode, s->pSdb, s->pNn, s->pMn)) {
    case SPSTREAM_OK:
        break;
    case SPSTREAM_BAD_MODE:
        puts("kindMode: 0, 1, 2 or 3, default: 2 ");
        return false;
    case SPSTREAM_BAD_LIMIT:
        puts("pSdb: [-80.0, 0.0] dB, default: -20.0 ");
        return false;
    case SPSTREAM_BAD_ADAPTATION:
        puts("pNn: [0.8, 0.999], default: 0.95 ");
        return false;
    default:
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

enum class RunEnd { Done, ReadError, WriteError };

// The tool's side of the cleaner, on the main thread: blocks from the input
// and cleaned blocks to the output, which ends where its header's sizes do.
struct Files {
    TWavReader *in;
    TWavWriter *out;
    Progress progress;
    uint64_t frames_read = 0;  // those not yet written count against the room
};

size_t read_frames(void *context, int16 *frames, size_t count) {
    Files &f = *static_cast<Files *>(context);
    const uint64_t room = WavWriter_Room(f.out) - (f.frames_read - f.out->frames);
    if (room < count) count = static_cast<size_t>(room);
    const size_t got = WavReader_Read16(f.in, frames, count);
    f.frames_read += got;
    return got;
}

int write_frames(void *context, const int16 *frames, size_t count) {
    Files &f = *static_cast<Files *>(context);
    if (!WavWriter_Write16(f.out, frames, count)) return 0;
    f.progress.update(f.out->frames * 2u * f.in->format.channels);
    return 1;
}

// The file in batches of whole blocks on two threads where the machine has
// two cores (host/cleaner.h); the output as the block loop writes it.
RunEnd process_blocks(TCleaner *cleaner, TWavReader &in, TWavWriter &out) {
    const double bytes_per_second = 2.0 * in.format.channels * in.format.rate;
    Files files{&in, &out,
                Progress{isatty(2) == 1 && in.format.rate > 0,
                         in.remaining == UINT64_MAX ? 0 : in.remaining, bytes_per_second}};
    const int status = Cleaner_Run(cleaner, read_frames, write_frames, &files);
    files.progress.clear();
    if (status == CLEANER_WRITE_FAILED) return RunEnd::WriteError;
    return WavReader_Failed(&in) ? RunEnd::ReadError : RunEnd::Done;
}

int fail_output(FILE *input, OutputFile &output, const char *message) {
    std::fclose(input);
    // A half-written file must not pass for a result.
    OutputFile_Discard(&output);
    puts(message);
    return 1;
}

// Frames the provisional header announces: the whole blocks of the data
// chunk as announced. A regular output gets its header rewritten at the
// end, so there the count is the best guess of the final one (what a
// regular input holds), which picks the right header form at once.
uint64_t provisional_frames(const TWavReader &in, FILE *input, bool seekable_output,
                            uint32 lenHalf) {
    const uint64_t frame_bytes = 2u * in.format.channels;
    uint64_t bytes = in.format.data_bytes;
    struct stat st;
    const off_t here = ftello(input);
    if (seekable_output && here >= 0 && fstat(fileno(input), &st) == 0 && S_ISREG(st.st_mode)) {
        const uint64_t held = st.st_size > here ? uint64_t(st.st_size - here) : 0;
        bytes = in.remaining == UINT64_MAX ? held : std::min(in.remaining, held);
    }
    return bytes / frame_bytes / lenHalf * lenHalf;
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

    OutputFile output;
    if (names_same_file(input, s.outFile) || !OutputFile_Open(&output, s.outFile)) {
        std::fclose(input);
        puts(kCantWrite);
        return 1;
    }
    std::setvbuf(output.file, outputBuffer, _IOFBF, sizeof outputBuffer);

    print_settings(s, reader.format);
    // Before the run, so that a line printed when it is interrupted comes
    // after the settings.
    std::fflush(stdout);

    const TWavFormat &format = reader.format;
    TCleaner *cleaner = Cleaner_New(format.rate, format.channels, s.kindMode, s.pSdb, s.pNn, s.pMn,
                                    SPSTREAM_BLOCKS, 0, nullptr);
    if (!cleaner) return fail_output(input, output, "Out of memory");
    const uint32 lenHalf = Cleaner_Block(cleaner);

    // The provisional header counts the whole blocks the data chunk
    // announces.
    TWavWriter writer;
    const uint64_t frames = provisional_frames(reader, input, OutputFile_Seekable(&output), lenHalf);
    const RunEnd end = WavWriter_Begin(&writer, output.file, &format, frames)
                           ? process_blocks(cleaner, reader, writer)
                           : RunEnd::WriteError;
    Cleaner_Free(cleaner);

    if (end == RunEnd::WriteError) return fail_output(input, output, kCantWrite);

    if (!WavWriter_Finish(&writer)) return fail_output(input, output, kCantWrite);
    std::fclose(input);
    if (!OutputFile_Commit(&output)) {
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
