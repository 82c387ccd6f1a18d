// nr_pipe: the suppressor as a filter in a shell pipeline, between a decoder
// and a player. Raw 16-bit little-endian mono PCM in, the same out, aligned
// with the input and exactly as long.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "spsubst.h"

namespace {

const char kUsage[] =
    "usage: nr_pipe RATE [MODE [LIMIT_DB]]\n"
    "Reads raw 16-bit little-endian mono PCM sampled at RATE Hz from standard\n"
    "input and writes the denoised PCM, in the same format, to standard output.\n"
    "MODE is the suppression mode 0..3 (default 2), LIMIT_DB the suppression\n"
    "limit in dB, <= 0 (default -20).\n"
    "\n"
    "The suppressor returns each block one block late. nr_pipe drops the first\n"
    "block it returns and, at the end of input, flushes the last one with a\n"
    "block of zeros, so the output has exactly as many samples as the input\n"
    "and lines up with it. Output is flushed block by block.\n"
    "\n"
    "Example:\n"
    "  sox noisy.wav -t raw -e signed -b 16 -c 1 -r 16000 - |\n"
    "    nr_pipe 16000 | aplay -t raw -f S16_LE -c 1 -r 16000\n";

TSpectSubtract ns;  // about 80 KB: not on the stack

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

// Fills `block` from standard input, zeros after the end of input; returns
// the number of samples read (a dangling odd byte is not a sample).
size_t read_block(std::vector<unsigned char> &bytes, std::vector<int16> &block) {
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), stdin) / 2;
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = i < got ? static_cast<int16>(bytes[2 * i] | bytes[2 * i + 1] << 8) : 0;
    return got;
}

bool write_samples(std::vector<unsigned char> &bytes, const std::vector<int16> &block, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const unsigned v = static_cast<unsigned short>(block[i]);
        bytes[2 * i] = static_cast<unsigned char>(v & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(v >> 8);
    }
    return std::fwrite(bytes.data(), 2, n, stdout) == n && std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    long rate = 0, mode = 2;
    float limit = -20.0f;
    if (argc < 2 || argc > 4 || !parse_long(argv[1], 1, 1000000, &rate) ||
        (argc > 2 && !parse_long(argv[2], 0, 3, &mode)) || (argc > 3 && !parse_limit(argv[3], &limit))) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    SpectSubtract_Init(&ns, static_cast<uint32>(rate), static_cast<int8>(mode), limit, 0.95f, 0.98f);
    std::vector<int16> block(ns.lenHalf);
    std::vector<unsigned char> bytes(2 * block.size());

    // `owed`: real samples in the block given to the previous Frame call,
    // which is the block the next Restore returns. The first Restore returns
    // start-up output (owed 0); the zero block after the end flushes the last.
    size_t owed = 0;
    int status = 0;
    for (;;) {
        const size_t got = read_block(bytes, block);
        SpectSubtract_Frame(&ns, 1, block.data());
        SpectSubtract_Restore(&ns, block.data());
        if (owed > 0 && !write_samples(bytes, block, owed)) {
            std::fputs("nr_pipe: write error\n", stderr);
            status = 1;
            break;
        }
        if (got == 0) break;
        owed = got;
    }
    if (status == 0 && std::ferror(stdin)) {
        std::fputs("nr_pipe: read error\n", stderr);
        status = 1;
    }
    SpectSubtract_Destroyed(&ns);
    return status;
}
