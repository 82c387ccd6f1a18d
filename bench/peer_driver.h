// Shared main of the peer drivers: streams a 16-bit PCM WAV file through a
// denoiser block by block, like test_wav, so that the whole-file benchmark
// times every program on the same work (read, denoise, write).
#ifndef BENCH_PEER_DRIVER_H
#define BENCH_PEER_DRIVER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class PeerDenoiser {
public:
    virtual ~PeerDenoiser() = default;
    // Sample frames (samples per channel) in every block.
    virtual size_t block_frames() const = 0;
    // Denoises one block of interleaved samples in place.
    virtual bool process(int16_t *interleaved) = 0;
};

// Returns null and sets *why when the peer cannot take this format.
using PeerFactory = std::unique_ptr<PeerDenoiser> (*)(uint32_t rate, unsigned channels,
                                                      std::string *why);

// Exit status of a driver whose peer does not support the input's format.
const int kPeerUnsupported = 2;

// main() of a driver: `driver input.wav output.wav`.
int peer_main(int argc, char **argv, PeerFactory make);

#endif
