// Streaming reader and writer over the WAV module's header record.
#include "wav_stream.h"

#include <string>

#include <sys/stat.h>

#include "wav.h"

namespace {

TWavFormat format_of(const WAV_HEADER &h) {
    TWavFormat f;
    f.fmt_size = static_cast<uint32_t>(h.SubChunk_fmtSize);
    f.format = h.AudioFormat;
    f.channels = h.Channels;
    f.rate = h.SampleRate;
    f.byte_rate = h.ByteRate;
    f.block_align = h.BlockAlign;
    f.bits = h.BitsPerSample;
    f.data_size = h.DataSize;
    return f;
}

WAV_HEADER header_of(const TWavFormat &f, uint32_t data_size) {
    WAV_HEADER h;
    h.SubChunk_fmtSize = f.fmt_size;
    h.AudioFormat = f.format;
    h.Channels = f.channels;
    h.SampleRate = f.rate;
    h.ByteRate = f.byte_rate;
    h.BlockAlign = f.block_align;
    h.BitsPerSample = f.bits;
    h.DataSize = data_size;
    return h;
}

// The announced data, or the rest of the file when the size is a
// placeholder or runs past the end.
uint64_t data_to_read(FILE *file, uint32_t announced) {
    if (announced == 0 || announced == 0xFFFFFFFFu) return UINT64_MAX;
    struct stat st;
    const off_t start = ftello(file);
    if (start < 0 || fstat(fileno(file), &st) != 0) return UINT64_MAX;
    if (static_cast<uint64_t>(start) + announced > static_cast<uint64_t>(st.st_size)) return UINT64_MAX;
    return announced;
}

uint32_t frame_bytes(const TWavFormat &f) { return 2u * f.channels; }

// Both sizes of the header are 32 bits; the data chunk starts at most a
// few dozen bytes in.
const uint64_t kMaxData = UINT32_MAX - 64;

}  // namespace

extern "C" {

int WavReader_Open(TWavReader *r, FILE *file) {
    WAV_HEADER h;
    try {
        h.LoadFromFile(file);
    } catch (const std::string &) {
        return 0;
    }
    r->file = file;
    r->format = format_of(h);
    r->remaining = data_to_read(file, h.DataSize);
    return 1;
}

int WavReader_Is16BitPcm(const TWavReader *r) {
    return r->format.format <= 1 && r->format.bits == 16 && r->format.channels >= 1;
}

size_t WavReader_Read16(TWavReader *r, int16_t *samples, size_t frames) {
    const uint32_t bytes = frame_bytes(r->format);
    if (bytes == 0) return 0;
    if (r->remaining != UINT64_MAX && frames > r->remaining / bytes) frames = r->remaining / bytes;
    const size_t got = std::fread(samples, bytes, frames, r->file);
    if (r->remaining != UINT64_MAX) r->remaining -= uint64_t(got) * bytes;
    return got;
}

int WavReader_Failed(const TWavReader *r) { return std::ferror(r->file) != 0; }

int WavWriter_Begin(TWavWriter *w, FILE *file, const TWavFormat *format, uint32_t frames) {
    w->file = file;
    w->format = *format;
    w->frames = 0;
    const uint64_t data = uint64_t(frames) * frame_bytes(*format);
    WAV_HEADER h = header_of(*format, static_cast<uint32_t>(data));
    h.SaveToFile(file);
    w->failed = std::ferror(file) != 0;
    return !w->failed;
}

int WavWriter_Write16(TWavWriter *w, const int16_t *samples, size_t frames) {
    const uint32_t bytes = frame_bytes(w->format);
    if (w->failed || frames > WavWriter_Room(w)) {
        w->failed = 1;
        return 0;
    }
    if (frames > 0 && std::fwrite(samples, bytes, frames, w->file) != frames) w->failed = 1;
    if (!w->failed) w->frames += frames;
    return !w->failed;
}

uint64_t WavWriter_Room(const TWavWriter *w) {
    const uint32_t bytes = frame_bytes(w->format);
    if (bytes == 0) return 0;
    return kMaxData / bytes - w->frames;
}

int WavWriter_Finish(TWavWriter *w) {
    if (w->failed || std::fflush(w->file) != 0) return 0;
    if (fseeko(w->file, 0, SEEK_SET) == 0) {
        WAV_HEADER h = header_of(w->format, static_cast<uint32_t>(w->frames * frame_bytes(w->format)));
        h.SaveToFile(w->file);
    }
    return std::fflush(w->file) == 0 && !std::ferror(w->file);
}

}  // extern "C"
