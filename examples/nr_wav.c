/* nr_wav: a C host of the suppressor. Reads a 16-bit PCM WAV file (mono or
   stereo) with plain stdio, cleans it block by block with one suppressor per
   channel and writes a 44-byte-header WAV file.

   The output matches what test_wav writes for the usual parameters: it lags
   the input by one block and holds one cleaned block per complete input
   block (nr_pipe shows how to remove the lag). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "spsubst.h"

static TSpectSubtract ns[2]; /* large records: static storage */

static unsigned long le(const unsigned char *p, int bytes) {
    unsigned long v = 0;
    while (bytes--) v = v << 8 | p[bytes];
    return v;
}

static void put_le(unsigned char *p, unsigned long v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = (unsigned char)(v >> 8 * i);
}

typedef struct {
    unsigned channels, rate, format, bits;
    unsigned long data_bytes;
} Format;

/* Walks the chunks up to "data" and leaves the file at the first sample. */
static int read_header(FILE *f, Format *fmt) {
    unsigned char b[16];
    int have_fmt = 0;
    if (fread(b, 1, 12, f) != 12 || memcmp(b, "RIFF", 4) || memcmp(b + 8, "WAVE", 4)) return 0;
    while (fread(b, 1, 8, f) == 8) {
        unsigned long size = le(b + 4, 4);
        if (!memcmp(b, "data", 4)) {
            fmt->data_bytes = size;
            return have_fmt;
        }
        if (!memcmp(b, "fmt ", 4) && size >= 16) {
            if (fread(b, 1, 16, f) != 16) return 0;
            fmt->format = (unsigned)le(b, 2);
            fmt->channels = (unsigned)le(b + 2, 2);
            fmt->rate = (unsigned)le(b + 4, 4);
            fmt->bits = (unsigned)le(b + 14, 2);
            have_fmt = 1;
            size -= 16;
        }
        if (fseek(f, (long)(size + (size & 1)), SEEK_CUR) != 0) return 0;
    }
    return 0;
}

static int write_header(FILE *f, const Format *fmt, unsigned long data_bytes) {
    unsigned char h[44];
    memcpy(h, "RIFF", 4);
    put_le(h + 4, 36 + data_bytes, 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, 16, 4);
    put_le(h + 20, 1, 2);
    put_le(h + 22, fmt->channels, 2);
    put_le(h + 24, fmt->rate, 4);
    put_le(h + 28, fmt->rate * fmt->channels * 2, 4);
    put_le(h + 32, fmt->channels * 2, 2);
    put_le(h + 34, 16, 2);
    memcpy(h + 36, "data", 4);
    put_le(h + 40, data_bytes, 4);
    return fwrite(h, 1, sizeof h, f) == sizeof h;
}

/* Cleans every complete block; returns the number of data bytes written or
   -1 on a write error. */
static long process(FILE *in, FILE *out, unsigned channels, unsigned long budget) {
    const unsigned long len = ns[0].lenHalf;
    const unsigned long block_bytes = len * channels * 2;
    unsigned char *bytes = malloc(block_bytes);
    int16 *chan = malloc(len * sizeof *chan);
    long written = 0;
    if (!bytes || !chan) written = -1;
    while (written >= 0 && budget >= block_bytes && fread(bytes, 1, block_bytes, in) == block_bytes) {
        budget -= block_bytes;
        for (unsigned c = 0; c < channels; ++c) {
            for (unsigned long i = 0; i < len; ++i)
                chan[i] = (int16)le(bytes + 2 * (i * channels + c), 2);
            SpectSubtract_Frame(&ns[c], 1, chan);
            SpectSubtract_Restore(&ns[c], chan);
            for (unsigned long i = 0; i < len; ++i)
                put_le(bytes + 2 * (i * channels + c), (unsigned short)chan[i], 2);
        }
        if (fwrite(bytes, 1, block_bytes, out) != block_bytes) written = -1;
        else written += (long)block_bytes;
    }
    free(bytes);
    free(chan);
    return written;
}

int main(int argc, char **argv) {
    Format fmt = {0, 0, 0, 0, 0};
    FILE *in, *out;
    long written;
    if (argc != 3) {
        fprintf(stderr,
                "usage: %s IN.wav OUT.wav\n"
                "Cleans a 16-bit PCM WAV file (mono or stereo) with mode 2, -20 dB,\n"
                "0.95, 0.98. Like test_wav, the output lags by one block.\n",
                argv[0]);
        return 2;
    }
    in = fopen(argv[1], "rb");
    if (!in || !read_header(in, &fmt) || fmt.format != 1 || fmt.bits != 16 ||
        fmt.channels < 1 || fmt.channels > 2 || fmt.rate == 0) {
        fprintf(stderr, "%s: not a 16-bit PCM mono or stereo WAV file\n", argv[1]);
        return 1;
    }
    out = fopen(argv[2], "wb");
    if (!out || !write_header(out, &fmt, 0)) {
        fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 1;
    }
    for (unsigned c = 0; c < fmt.channels; ++c)
        SpectSubtract_Init(&ns[c], fmt.rate, 2, -20.0f, 0.95f, 0.98f);
    /* Streamed recordings leave the size as 0 or 0xFFFFFFFF: read to the end. */
    if (fmt.data_bytes == 0 || fmt.data_bytes == 0xFFFFFFFFul) fmt.data_bytes = (unsigned long)-1;
    written = process(in, out, fmt.channels, fmt.data_bytes);
    for (unsigned c = 0; c < fmt.channels; ++c) SpectSubtract_Destroyed(&ns[c]);
    fclose(in);
    /* The header's sizes are known only now. */
    if (written < 0 || fseek(out, 0, SEEK_SET) != 0 ||
        !write_header(out, &fmt, (unsigned long)written) || fclose(out) != 0) {
        fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 1;
    }
    return 0;
}
