// Streaming reader and writer over the WAV module's header record.
#include "wav_stream.h"

#include <algorithm>
#include <string>

#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

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
    f.data_bytes = h.DataBytes();
    return f;
}

WAV_HEADER header_of(const TWavFormat &f, uint64_t data_size, bool rf64) {
    WAV_HEADER h;
    h.SubChunk_fmtSize = f.fmt_size;
    h.AudioFormat = f.format;
    h.Channels = f.channels;
    h.SampleRate = f.rate;
    h.ByteRate = f.byte_rate;
    h.BlockAlign = f.block_align;
    h.BitsPerSample = f.bits;
    h.DataSize = rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(data_size);
    h.DataSize64 = rf64 ? data_size : 0;
    return h;
}

uint64_t header_bytes(const TWavFormat &f, bool rf64) {
    return header_of(f, rf64 ? 0x100000000u : 0, rf64).HeaderBytes();
}

// Whether `data` bytes fit the classic header's 32-bit sizes (the RIFF
// size counts the header too).
bool fits_classic(const TWavFormat &f, uint64_t data) {
    const uint64_t header = header_bytes(f, false);
    return data < 0xFFFFFFFFu && header - 8 + data <= 0xFFFFFFFFu;
}

// The announced data, or the rest of the file when the size is a
// placeholder or runs past the end of a regular file. Other files (pipes)
// cannot say how much they hold: the announced size is taken.
uint64_t data_to_read(FILE *file, const WAV_HEADER &h) {
    const uint64_t announced = h.DataBytes();
    if (announced == 0 || announced == 0xFFFFFFFFu) return UINT64_MAX;
    struct stat st;
    if (fstat(fileno(file), &st) != 0) return UINT64_MAX;
    if (!S_ISREG(st.st_mode)) return announced;
    const off_t start = ftello(file);
    if (start < 0 || static_cast<uint64_t>(start) + announced > static_cast<uint64_t>(st.st_size))
        return UINT64_MAX;
    return announced;
}

#ifdef _WIN32
// The C runtime of Windows has no positioned reads and writes; moving the
// descriptor's offset does, as the stream is repositioned before its next use.
int64_t pread(int fd, void *buf, size_t n, uint64_t at) {
    if (_lseeki64(fd, static_cast<int64_t>(at), SEEK_SET) < 0) return -1;
    return _read(fd, buf, static_cast<unsigned>(n));
}
int64_t pwrite(int fd, const void *buf, size_t n, uint64_t at) {
    if (_lseeki64(fd, static_cast<int64_t>(at), SEEK_SET) < 0) return -1;
    return _write(fd, buf, static_cast<unsigned>(n));
}
int ftruncate(int fd, uint64_t length) { return _chsize_s(fd, static_cast<int64_t>(length)); }
#endif

// Moves `length` bytes of a regular file from offset `from` to `to`,
// front first when moving down and back first when moving up, so that no
// byte is overwritten before it is copied; a move down then shortens the
// file.
bool move_data(FILE *file, uint64_t from, uint64_t to, uint64_t length) {
    struct stat st;
    const int fd = fileno(file);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    static char buf[1 << 20];
    for (uint64_t done = 0; done < length;) {
        const size_t part = static_cast<size_t>(std::min<uint64_t>(sizeof buf, length - done));
        const uint64_t at = to > from ? length - done - part : done;
        if (pread(fd, buf, part, from + at) != static_cast<int64_t>(part) ||
            pwrite(fd, buf, part, to + at) != static_cast<int64_t>(part))
            return false;
        done += part;
    }
    return to > from || ftruncate(fd, to + length) == 0;
}

uint32_t frame_bytes(const TWavFormat &f) { return 2u * f.channels; }

// RF64 sizes are 64 bits; far more than any file system holds.
const uint64_t kMaxData = uint64_t(1) << 62;

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
    r->remaining = data_to_read(file, h);
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

int WavWriter_Begin(TWavWriter *w, FILE *file, const TWavFormat *format, uint64_t frames) {
    w->file = file;
    w->format = *format;
    w->frames = 0;
    const uint32_t bytes = frame_bytes(*format);
    const uint64_t data = bytes == 0 ? 0 : std::min(frames, kMaxData / bytes) * bytes;
    // A provisional size that fits the data chunk's 32 bits is announced
    // in the classic header, as a placeholder size always was (a pipe
    // keeps this header); Finish picks the form for the real size.
    w->rf64 = data >= 0xFFFFFFFFu;
    WAV_HEADER h = header_of(*format, data, w->rf64 != 0);
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
        const uint64_t data = w->frames * frame_bytes(w->format);
        const bool rf64 = !fits_classic(w->format, data);
        if (rf64 != (w->rf64 != 0)) {
            // The other form is 36 bytes longer or shorter; a file that
            // cannot be reshaped (not a regular file) fails.
            if (!move_data(w->file, header_bytes(w->format, w->rf64 != 0),
                           header_bytes(w->format, rf64), data))
                return 0;
            w->rf64 = rf64;
        }
        WAV_HEADER h = header_of(w->format, data, rf64);
        h.SaveToFile(w->file);
    }
    return std::fflush(w->file) == 0 && !std::ferror(w->file);
}

}  // extern "C"
