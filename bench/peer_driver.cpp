#include "peer_driver.h"

#include <cstdio>
#include <vector>

#include "wav.h"

int peer_main(int argc, char **argv, PeerFactory make) {
    if (argc < 3) {
        std::printf("Usage: %s input.wav output.wav\n", argv[0]);
        return 1;
    }
    FILE *in = std::fopen(argv[1], "rb");
    if (!in) {
        std::printf("cannot read %s\n", argv[1]);
        return 1;
    }
    WAV_HEADER h;
    try {
        h.LoadFromFile(in);
    } catch (const std::string &what) {
        std::printf("%s\n", what.c_str());
        std::fclose(in);
        return 1;
    }
    if (h.AudioFormat > 1 || h.BitsPerSample != 16 || h.Channels < 1 || h.Channels > 2) {
        std::printf("only 16-bit PCM, mono or stereo\n");
        std::fclose(in);
        return 1;
    }
    std::string why;
    std::unique_ptr<PeerDenoiser> peer = make(h.SampleRate, h.Channels, &why);
    if (!peer) {
        std::printf("n/a: %s\n", why.c_str());
        std::fclose(in);
        return kPeerUnsupported;
    }
    FILE *out = std::fopen(argv[2], "wb");
    if (!out) {
        std::printf("cannot write %s\n", argv[2]);
        std::fclose(in);
        return 1;
    }
    const size_t block = peer->block_frames() * h.Channels;
    std::vector<int16_t> buf(block);
    uint64_t left = h.DataSize / 2, written = 0;
    WAV_HEADER o = h;
    o.SaveToFile(out);
    bool ok = true;
    while (left >= block && std::fread(buf.data(), 2, block, in) == block) {
        left -= block;
        if (!peer->process(buf.data()) || std::fwrite(buf.data(), 2, block, out) != block) {
            ok = false;
            break;
        }
        written += block;
    }
    o.DataSize = static_cast<uint32_t>(written * 2);
    std::fseek(out, 0, SEEK_SET);
    o.SaveToFile(out);
    std::fclose(in);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) std::printf("processing failed\n");
    return ok ? 0 : 1;
}
