// libFuzzer target for the WAV module. Each input is read three ways: as a
// header from memory, as a header written back and read again, and as a
// whole file through openAll. Beyond what the sanitizers catch, it aborts
// when a result breaks the module's promises.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
    if (load_from_memory(data, size, &h, &pos)) {
        check(pos >= 0 && static_cast<size_t>(pos) <= size);
        header_round_trip(h);
    }
    open_whole_file(data, size);
    return 0;
}
