// RIFF/WAVE header record, its reader and writer, and whole-file load and
// save with G.711 decoding. Malformed files are reported by throwing a
// std::string "Unknown format".
#ifndef TOOLS_SDK_WAV_H
#define TOOLS_SDK_WAV_H

#include <cstdint>
#include <cstdio>

class WAV_HEADER {
public:
    uint64_t SubChunk_fmtSize;  // 32 bits in the file, zero-extended
    uint16_t AudioFormat;       // 1 linear PCM, 6 A-law, 7 mu-law
    uint16_t Channels;
    uint32_t SampleRate;
    uint32_t ByteRate;
    uint16_t BlockAlign;
    uint16_t BitsPerSample;
    uint32_t DataSize;          // bytes in the data chunk's body; 0xFFFFFFFF in RF64
    // An RF64 file's data size (from its ds64 chunk) when DataSize is
    // 0xFFFFFFFF; 0 otherwise. SaveToFile writes an RF64 header exactly when
    // DataSize is 0xFFFFFFFF and this is not 0.
    uint64_t DataSize64;

    WAV_HEADER();
    WAV_HEADER(const WAV_HEADER &H);
    ~WAV_HEADER();
    WAV_HEADER &operator=(const WAV_HEADER &H);

    // Reads the header of the file whose start `file` stands at and leaves
    // the stream at the first byte of the samples. Skips one LIST chunk
    // before "fmt " and walks the chunks after it by their sizes; where that
    // walk finds no data chunk, searches for "data" byte by byte. Reads
    // RIFF and RF64 (BW64) files. A stream that cannot seek (a pipe) is read
    // forward only: chunks are skipped by reading, and bytes read ahead of
    // the samples are pushed back with ungetc.
    void LoadFromFile(FILE *file);
    // Writes RIFF, fmt (extension bytes zeroed, a pad byte after an odd
    // size), a fact chunk and the data chunk header at the stream's
    // position: 56 bytes for a 16-byte fmt. An RF64 record (see DataSize64)
    // gets "RF64" and a ds64 chunk first: 36 bytes more. The caller writes
    // the samples after it (and a pad byte after an odd number of bytes).
    void SaveToFile(FILE *file);
    // The data chunk's size in bytes: DataSize64 for an RF64 record, else
    // DataSize.
    uint64_t DataBytes() const;
    // Length of the header SaveToFile writes.
    uint64_t HeaderBytes() const;

    // Loads a whole linear PCM (16-bit), A-law or mu-law (8-bit) file as
    // 16-bit samples into a malloc'ed buffer that replaces *Buf16b (the old
    // one is freed). Returns 1 on success; 0 when the file cannot be opened,
    // its format is unsupported or memory runs out, leaving *Buf16b alone
    // and *num_Samples 0. *num_Samples counts sample frames.
    char openAll(const char *file_name, unsigned int *num_Samples, short **Buf16b);
    // Writes the header as the fields stand, then num_Samples frames.
    // Returns 1 when everything was written, 0 otherwise (also for 0 frames,
    // when no file is created).
    char saveAll(const char *file_name, unsigned int num_Samples, const short *Buf16b);
};

#endif
