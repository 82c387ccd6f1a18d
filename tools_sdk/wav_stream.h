/* Streaming WAV files block by block, for C and C++ hosts: a reader that
   leaves the file at the samples and hands out 16-bit sample frames, and a
   writer that puts a provisional header first and fixes its sizes at the
   end. Both work on a FILE the caller opens and closes; headers are read
   and written by the WAV module (WAV_HEADER::LoadFromFile, SaveToFile), so
   a writer given the format a reader found repeats the input's format
   fields with the module's fixed header shape (RIFF, fmt, fact, data).
   Data that does not fit the header's 32-bit sizes is written as RF64 (a
   ds64 chunk first), and RF64 files are read. The reader also takes a
   stream that cannot seek (a pipe, standard input).
   Samples are little-endian 16-bit, interleaved, channel 0 first. */
#ifndef TOOLS_SDK_WAV_STREAM_H
#define TOOLS_SDK_WAV_STREAM_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TWavFormat {
    uint32_t fmt_size;      /* bytes of the fmt chunk's body (16, 18, 40, ...) */
    uint16_t format;        /* 1 linear PCM, 6 A-law, 7 mu-law, ... */
    uint16_t channels;
    uint32_t rate;          /* sample frames per second */
    uint32_t byte_rate;
    uint16_t block_align;   /* bytes per sample frame */
    uint16_t bits;          /* bits per sample */
    uint32_t data_size;     /* the data chunk's size as announced (0xFFFFFFFF in RF64) */
    uint64_t data_bytes;    /* the same in 64 bits: an RF64 file's ds64 value */
} TWavFormat;

typedef struct TWavReader {
    FILE *file;
    TWavFormat format;
    uint64_t remaining;     /* data bytes still to read, UINT64_MAX to the end */
} TWavReader;

/* Reads the header of the file `file` stands at the start of. Returns 1
   and leaves the file at the first sample; 0 when the file is not a WAV
   file the module understands. The data to read is the announced data
   chunk, or everything to the end of the file when its size is a
   placeholder (0 or 0xFFFFFFFF) or runs past the end. */
int WavReader_Open(TWavReader *r, FILE *file);
/* Whether the samples are 16-bit linear PCM (format 0 or 1). */
int WavReader_Is16BitPcm(const TWavReader *r);
/* Reads up to `frames` whole sample frames of 16-bit samples; returns how
   many. Fewer only at the end of the data or on a read error. */
size_t WavReader_Read16(TWavReader *r, int16_t *samples, size_t frames);
/* Nonzero once a read failed (not merely ended). */
int WavReader_Failed(const TWavReader *r);

typedef struct TWavWriter {
    FILE *file;
    TWavFormat format;
    uint64_t frames;        /* sample frames written */
    int failed;
    int rf64;               /* the header written last is RF64 */
} TWavWriter;

/* Writes a header announcing `frames` sample frames of `format` at the
   file's position: RF64 when their size does not fit the data chunk's 32
   bits. Returns 1, or 0 when the write failed. */
int WavWriter_Begin(TWavWriter *w, FILE *file, const TWavFormat *format, uint64_t frames);
/* Appends whole sample frames; returns 1, or 0 when the write failed. */
int WavWriter_Write16(TWavWriter *w, const int16_t *samples, size_t frames);
/* Sample frames the writer can still take. */
uint64_t WavWriter_Room(const TWavWriter *w);
/* Flushes, then rewrites the header with the frames written where the file
   can be repositioned (a pipe keeps the provisional one): the classic header
   when they fit its 32-bit sizes, else RF64. When that form differs from
   the provisional header's, the samples of a regular file are moved to make
   room (a copy of the whole data). Returns 1 when everything reached the
   file; the caller closes it. */
int WavWriter_Finish(TWavWriter *w);

#ifdef __cplusplus
}
#endif

#endif
