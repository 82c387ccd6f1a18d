// libFuzzer target for the WAV module. Each input is read four ways: as a
// header from memory, as a header written back and read again, as a header
// from a stream that cannot seek, and as a whole file through openAll. Beyond what the sanitizers catch, it aborts
// when a result breaks the module's promises.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "wav.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool same_fields(const WAV_HEADER &a, const WAV_HEADER &b) {
    return a.SubChunk_fmtSize == b.SubChunk_fmtSize && a.AudioFormat == b.AudioFormat &&
           a.Channels == b.Channels && a.SampleRate == b.SampleRate && a.ByteRate == b.ByteRate &&
           a.BlockAlign == b.BlockAlign && a.BitsPerSample == b.BitsPerSample &&
           a.DataSize == b.DataSize && a.DataSize64 == b.DataSize64;
}

// Loads a header from `size` bytes; false when the reader refused them.
bool load_from_memory(const uint8_t *data, size_t size, WAV_HEADER *h, long *pos) {
    static uint8_t empty;
    FILE *f = fmemopen(size ? const_cast<uint8_t *>(data) : &empty, size, "rb");
    if (!f) return false;
    bool ok = true;
    try {
        h->LoadFromFile(f);
        *pos = std::ftell(f);
    } catch (const std::string &what) {
        check(what == "Unknown format");
        ok = false;
    }
    std::fclose(f);
    return ok;
}

// The same bytes as a stream that cannot seek, like a pipe.
struct Forward {
    const uint8_t *data;
    size_t size, pos;
};

FILE *forward_only(Forward *src) {
    cookie_io_functions_t io = {};
    io.read = [](void *c, char *buf, size_t n) -> ssize_t {
        Forward *f = static_cast<Forward *>(c);
        const size_t part = std::min(n, f->size - f->pos);
        std::memcpy(buf, f->data + f->pos, part);
        f->pos += part;
        return static_cast<ssize_t>(part);
    };
    return fopencookie(src, "rb", io);
}

std::vector<uint8_t> rest_of(FILE *f) {
    std::vector<uint8_t> rest;
    for (int c; (c = std::fgetc(f)) != EOF;) rest.push_back(static_cast<uint8_t>(c));
    return rest;
}

// Read forward only, the header must be the one read from memory, and the
// stream must go on with the same bytes (those read ahead handed back).
void same_from_a_pipe(const uint8_t *data, size_t size, bool accepted, const WAV_HEADER &h,
                      long pos) {
    Forward src = {data, size, 0};
    FILE *f = forward_only(&src);
    if (!f) return;
    WAV_HEADER piped;
    bool ok = true;
    try {
        piped.LoadFromFile(f);
    } catch (const std::string &) {
        ok = false;
    }
    // A pipe keeps only so much for the byte search to go back to.
    check(ok == accepted || (accepted && size > (8u << 20)));
    if (ok) {
        check(same_fields(piped, h));
        check(rest_of(f) == std::vector<uint8_t>(data + pos, data + size));
    }
    std::fclose(f);
}

// What the reader accepts, the writer must write so that it reads back the
// same. The header written is as long as the extension, which the input held.
void header_round_trip(const WAV_HEADER &h) {
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    if (!f) return;
    WAV_HEADER copy = h;
    copy.SaveToFile(f);
    std::fclose(f);
    WAV_HEADER back;
    long pos = -1;
    check(load_from_memory(reinterpret_cast<uint8_t *>(buf), len, &back, &pos));
    check(same_fields(back, h));
    check(static_cast<size_t>(pos) == len);
    std::free(buf);
}

const char *scratch_file() {
    static std::string path;
    if (path.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/wav_fuzz.XXXXXX";
        const int fd = mkstemp(templ.data());
        if (fd < 0) std::abort();
        close(fd);
        path = templ;
        std::atexit([] { unlink(path.c_str()); });
    }
    return path.c_str();
}

void open_whole_file(const uint8_t *data, size_t size) {
    const char *path = scratch_file();
    FILE *f = std::fopen(path, "wb");
    if (!f) std::abort();
    check(size == 0 || std::fwrite(data, 1, size, f) == size);
    check(std::fclose(f) == 0);

    WAV_HEADER h;
    unsigned int frames = 12345;
    short *buf = nullptr;
    try {
        if (h.openAll(path, &frames, &buf)) {
            check(buf != nullptr);
            const size_t samples = static_cast<size_t>(frames) * h.Channels;
            const size_t bytes_per_sample = h.AudioFormat == 1 ? 2 : 1;
            check(samples * bytes_per_sample <= size);
            // Every sample the count promises must be there to read.
            volatile int sum = 0;
            for (size_t k = 0; k < samples; ++k) sum = sum + buf[k];
        } else {
            check(frames == 0 && buf == nullptr);
        }
    } catch (const std::string &what) {
        check(what == "Unknown format");
        check(frames == 0 && buf == nullptr);
    }
    std::free(buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    WAV_HEADER h;
    long pos = -1;
    const bool accepted = load_from_memory(data, size, &h, &pos);
    if (accepted) {
        check(pos >= 0 && static_cast<size_t>(pos) <= size);
        header_round_trip(h);
    }
    same_from_a_pipe(data, size, accepted, h, pos);
    open_whole_file(data, size);
    return 0;
}
