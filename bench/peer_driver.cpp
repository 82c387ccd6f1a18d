#include "peer_driver.h"

#include <cstdio>
#include <vector>

#include "wav_stream.h"

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
    TWavReader reader;
    if (!WavReader_Open(&reader, in)) {
        std::printf("Unknown format\n");
        std::fclose(in);
        return 1;
    }
    const TWavFormat &f = reader.format;
    if (!WavReader_Is16BitPcm(&reader) || f.channels > 2) {
        std::printf("only 16-bit PCM, mono or stereo\n");
        std::fclose(in);
        return 1;
    }
    std::string why;
    std::unique_ptr<PeerDenoiser> peer = make(f.rate, f.channels, &why);
    if (!peer) {
        std::printf("n/a: %s\n", why.c_str());
        std::fclose(in);
        return kPeerUnsupported;
    }
    FILE *out = std::fopen(argv[2], "wb");
    TWavWriter writer;
    if (!out || !WavWriter_Begin(&writer, out, &f, 0)) {
        std::printf("cannot write %s\n", argv[2]);
        std::fclose(in);
        if (out) std::fclose(out);
        return 1;
    }
    const size_t frames = peer->block_frames();
    std::vector<int16_t> buf(frames * f.channels);
    bool ok = true;
    while (WavReader_Read16(&reader, buf.data(), frames) == frames) {
        if (!peer->process(buf.data()) || !WavWriter_Write16(&writer, buf.data(), frames)) {
            ok = false;
            break;
        }
    }
    ok = ok && !WavReader_Failed(&reader) && WavWriter_Finish(&writer);
    std::fclose(in);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) std::printf("processing failed\n");
    return ok ? 0 : 1;
}
