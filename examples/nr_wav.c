/* nr_wav: a C host of the suppressor. Reads a 16-bit PCM WAV file (mono or
   stereo) with the WAV module's streaming reader, cleans it block by block
   with one suppressor per channel and writes the result with the streaming
   writer.

   The output is the file test_wav writes for the usual parameters: it lags
   the input by one block and holds one cleaned block per complete input
   block (nr_pipe shows how to remove the lag). */
#include <stdio.h>
#include <stdlib.h>

#include "spsubst.h"
#include "wav_stream.h"

static TSpectSubtract ns[2]; /* large records: static storage */

/* Cleans every complete block; returns 0 when something failed. */
static int process(TWavReader *in, TWavWriter *out) {
    const unsigned channels = in->format.channels;
    const uint32 len = ns[0].lenHalf;
    int16 *block = malloc(sizeof *block * len * channels);
    int16 *chan = malloc(sizeof *chan * len);
    int ok = block && chan;
    while (ok && WavWriter_Room(out) >= len && WavReader_Read16(in, block, len) == len) {
        for (unsigned c = 0; c < channels; ++c) {
            for (uint32 i = 0; i < len; ++i) chan[i] = block[i * channels + c];
            SpectSubtract_Frame(&ns[c], 1, chan);
            SpectSubtract_Restore(&ns[c], chan);
            for (uint32 i = 0; i < len; ++i) block[i * channels + c] = chan[i];
        }
        ok = WavWriter_Write16(out, block, len);
    }
    free(block);
    free(chan);
    return ok && !WavReader_Failed(in);
}

int main(int argc, char **argv) {
    TWavReader reader;
    TWavWriter writer;
    FILE *in, *out;
    int ok;
    if (argc != 3) {
        fprintf(stderr,
                "usage: %s IN.wav OUT.wav\n"
                "Cleans a 16-bit PCM WAV file (mono or stereo) with mode 2, -20 dB,\n"
                "0.95, 0.98. Like test_wav, the output lags by one block.\n",
                argv[0]);
        return 2;
    }
    in = fopen(argv[1], "rb");
    if (!in || !WavReader_Open(&reader, in) || !WavReader_Is16BitPcm(&reader) ||
        reader.format.channels > 2 || reader.format.rate == 0) {
        fprintf(stderr, "%s: not a 16-bit PCM mono or stereo WAV file\n", argv[1]);
        return 1;
    }
    out = fopen(argv[2], "wb");
    if (!out || !WavWriter_Begin(&writer, out, &reader.format, 0)) {
        fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 1;
    }
    for (unsigned c = 0; c < reader.format.channels; ++c)
        SpectSubtract_Init(&ns[c], reader.format.rate, 2, -20.0f, 0.95f, 0.98f);
    ok = process(&reader, &writer);
    for (unsigned c = 0; c < reader.format.channels; ++c) SpectSubtract_Destroyed(&ns[c]);
    fclose(in);
    /* The header's sizes are known only now. */
    if (!WavWriter_Finish(&writer) || fclose(out) != 0 || !ok) {
        fprintf(stderr, "%s: cannot process\n", argv[2]);
        return 1;
    }
    return 0;
}
