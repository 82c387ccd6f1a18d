// Writes the golden tests' input file (1.5 s of noise with tone bursts, a
// different channel per seed) for scripts that run real programs on it:
//   golden_wav RATE CHANNELS OUT.wav
#include <cstdio>
#include <cstdlib>

#include "test_support.h"

int main(int argc, char **argv) {
    using namespace testsupport;
    const long rate = argc == 4 ? std::strtol(argv[1], nullptr, 10) : 0;
    const long channels = argc == 4 ? std::strtol(argv[2], nullptr, 10) : 0;
    if (rate < 1000 || rate > 384000 || channels < 1 || channels > 2) {
        std::fprintf(stderr, "usage: golden_wav RATE CHANNELS(1|2) OUT.wav\n");
        return 2;
    }
    const uint32_t r = static_cast<uint32_t>(rate);
    write_file(argv[3], channels == 1 ? pcm_wav(r, 1, golden_channel(r, 1))
                                      : pcm_wav(r, 2, interleave({golden_channel(r, 1), golden_channel(r, 2)})));
    return 0;
}
