// libFuzzer target: every input the streaming reader takes as 16-bit PCM is
// copied, frame for frame, by the streaming writer into an in-memory file,
// as test_wav writes its output, and libsndfile must open the result and
// count the same frames, channels and rate. The module's own reader is
// lenient; this one is not, so a header that only the module could read
// back (a chunk without its pad byte, sizes that disagree) aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include <sndfile.h>

#include "wav_stream.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// One in-memory file for every run: a regular file as far as the writer
// can tell, so that its header is rewritten at the end.
int scratch_fd() {
    static const int fd = memfd_create("wav_sndfile_fuzz", 0);
    if (fd < 0) std::abort();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!in) return 0;
    TWavReader reader;
    // libsndfile refuses format code 0 (which test_wav takes as PCM and
    // keeps), more than a few channels and rates outside its range whatever
    // the layout: nothing to learn there.
    if (!WavReader_Open(&reader, in) || !WavReader_Is16BitPcm(&reader) ||
        reader.format.format != 1 || reader.format.channels > 8 || reader.format.rate == 0 ||
        reader.format.rate > 655350) {
        std::fclose(in);
        return 0;
    }

    const int fd = scratch_fd();
    check(ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0);
    FILE *out = fdopen(dup(fd), "w+b");
    check(out != nullptr);
    TWavWriter writer;
    check(WavWriter_Begin(&writer, out, &reader.format, 0) == 1);
    std::vector<int16_t> block(256 * reader.format.channels);
    for (size_t got; (got = WavReader_Read16(&reader, block.data(), 256)) > 0;)
        check(WavWriter_Write16(&writer, block.data(), got) == 1);
    check(WavWriter_Finish(&writer) == 1);
    std::fclose(out);
    std::fclose(in);

    check(lseek(fd, 0, SEEK_SET) == 0);
    SF_INFO info = {};
    SNDFILE *sf = sf_open_fd(fd, SFM_READ, &info, 0);
    if (!sf) {
        std::fprintf(stderr, "libsndfile refused the output: %s\n", sf_strerror(nullptr));
        std::abort();
    }
    check(static_cast<uint64_t>(info.frames) == writer.frames);
    check(info.channels == reader.format.channels);
    check(static_cast<uint32_t>(info.samplerate) == reader.format.rate);
    check((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16);
    sf_close(sf);
    return 0;
}
