// nr_pipe: the suppressor as a filter in a shell pipeline, between a decoder
// and a player. Raw 16-bit little-endian mono PCM in, the same out, aligned
// with the input and exactly as long.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "spstream.h"

namespace {

const char kUsage[] =
    "usage: nr_pipe RATE [MODE [LIMIT_DB]]\n"
    "Reads raw 16-bit little-endian mono PCM sampled at RATE Hz (6000 to 192000)\n"
    "from standard input and writes the denoised PCM, in the same format, to\n"
    "standard output. MODE is the suppression mode 0..3 (default 2), LIMIT_DB the\n"
    "suppression limit in dB, <= 0 (default -20).\n"
    "\n"
    "The suppressor returns each block one block late. nr_pipe's stream drops the\n"
    "first block it returns and, at the end of input, flushes the last one with\n"
    "silence, so the output has exactly as many samples as the input and lines up\n"
    "with it. Output is flushed block by block.\n"
    "\n"
    "Example:\n"
    "  sox noisy.wav -t raw -e signed -b 16 -c 1 -r 16000 - |\n"
    "    nr_pipe 16000 | aplay -t raw -f S16_LE -c 1 -r 16000\n";

TSpectStream stream;  // about 90 KB: not on the stack

bool parse_long(const char *text, long lo, long hi, long *v) {
    char *end;
    *v = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && *v >= lo && *v <= hi;
}

bool parse_limit(const char *text, float *v) {
    char *end;
    *v = std::strtof(text, &end);
    return end != text && *end == '\0' && *v <= 0.0f;  // NaN fails too
}

// Samples in the pipe are little-endian whatever the machine is.
size_t read_samples(std::vector<unsigned char> &bytes, std::vector<int16> &samples) {
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), stdin) / 2;
    for (size_t i = 0; i < got; ++i) samples[i] = static_cast<int16>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return got;
}

bool write_samples(std::vector<unsigned char> &bytes, const std::vector<int16> &samples, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const unsigned v = static_cast<unsigned short>(samples[i]);
        bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    return std::fwrite(bytes.data(), 2, n, stdout) == n && std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    long rate = 0, mode = 2;
    float limit = -20.0f;
    if (argc < 2 || argc > 4 || !parse_long(argv[1], SPSTREAM_MIN_RATE, SPSTREAM_MAX_RATE, &rate) ||
        (argc > 2 && !parse_long(argv[2], 0, 3, &mode)) || (argc > 3 && !parse_limit(argv[3], &limit)) ||
        !SpectStream_Init(&stream, static_cast<uint32>(rate), static_cast<int8>(mode), limit, 0.95f,
                          0.98f, SPSTREAM_ALIGNED)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // A block at a time in, what the stream has ready out.
    const uint32 block = SpectStream_Block(&stream);
    std::vector<int16> in(block), out(3 * SPSTREAM_MAX_BLOCK);
    std::vector<unsigned char> in_bytes(2 * in.size()), out_bytes(2 * out.size());
    bool written = true;
    for (size_t got = block; written && got == block;) {
        got = read_samples(in_bytes, in);
        const uint32 ready = SpectStream_Process16(&stream, in.data(), static_cast<uint32>(got), out.data());
        written = write_samples(out_bytes, out, ready);
    }
    if (std::ferror(stdin)) {
        std::fputs("nr_pipe: read error\n", stderr);
        return 1;
    }
    if (!written || !write_samples(out_bytes, out, SpectStream_Flush16(&stream, out.data()))) {
        std::fputs("nr_pipe: write error\n", stderr);
        return 1;
    }
    return 0;
}
