#include "wav.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/types.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "samples are read and written in host order, which must be little-endian");

namespace {

[[noreturn]] void unknown_format() { throw std::string("Unknown format"); }

// G.711 expansion to 16-bit scale (ITU-T G.711, as in the classic reference
// decoder): mu-law inverts all bits, A-law the even bits.
constexpr int16_t expand_ulaw(unsigned code) {
    const unsigned u = ~code & 0xFFu;
    const int bias = 0x84;
    const int t = ((static_cast<int>(u & 0x0Fu) << 3) + bias) << ((u & 0x70u) >> 4);
    return static_cast<int16_t>((u & 0x80u) ? bias - t : t - bias);
}

constexpr int16_t expand_alaw(unsigned code) {
    const unsigned a = code ^ 0x55u;
    int t = static_cast<int>(a & 0x0Fu) << 4;
    const unsigned seg = (a & 0x70u) >> 4;
    if (seg == 0)
        t += 8;
    else
        t = (t + 0x108) << (seg - 1);
    return static_cast<int16_t>((a & 0x80u) ? t : -t);
}

// Entries hold the sample's 16-bit two's-complement pattern.
template <int16_t (*Expand)(unsigned)>
constexpr std::array<long, 256> g711_table() {
    std::array<long, 256> table{};
    for (unsigned code = 0; code < 256; ++code)
        table[code] = static_cast<long>(static_cast<uint16_t>(Expand(code)));
    return table;
}

constexpr std::array<long, 256> ulaw2linear = g711_table<expand_ulaw>();
constexpr std::array<long, 256> alaw2linear = g711_table<expand_alaw>();

static_assert(static_cast<int16_t>(ulaw2linear[0x00]) == -32124, "mu-law 0x00");
static_assert(static_cast<int16_t>(alaw2linear[0xAA]) == 32256, "A-law 0xAA");

bool same_id(const char *a, const char *b) { return std::memcmp(a, b, 4) == 0; }

bool printable_id(const unsigned char *id) {
    for (int i = 0; i < 4; ++i)
        if (id[i] < 0x20 || id[i] > 0x7E) return false;
    return true;
}

uint32_t le32(const unsigned char *b) {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

uint16_t le16(const unsigned char *b) {
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint64_t le64(const unsigned char *b) { return le32(b) | static_cast<uint64_t>(le32(b + 4)) << 32; }

// A stream read chunk by chunk. A seekable one has a known end, so that
// every skip can be checked against it. One that cannot seek (a pipe) is
// read forward only, and the bytes read since a mark are kept, so that the
// reader can still step back to the mark; skips read. Skips are forward
// only and counted in 64 bits.
class ChunkReader {
public:
    explicit ChunkReader(FILE *f) : f_(f) {
        const off_t start = ftello(f_);
        if (start < 0) {
            // Positions count from the start of the file, where the caller
            // promised the stream stands.
            seekable_ = false;
            end_ = UINT64_MAX;
            return;
        }
        if (fseeko(f_, 0, SEEK_END) != 0) unknown_format();
        const off_t end = ftello(f_);
        if (end < 0 || fseeko(f_, start, SEEK_SET) != 0) unknown_format();
        pos_ = static_cast<uint64_t>(start);
        end_ = static_cast<uint64_t>(end);
    }

    uint64_t pos() const { return pos_; }
    uint64_t left() const { return pos_ < end_ ? end_ - pos_ : 0; }

    size_t read_upto(void *dst, size_t n) {
        if (seekable_) {
            const size_t got = std::fread(dst, 1, n, f_);
            pos_ += got;
            return got;
        }
        unsigned char *out = static_cast<unsigned char *>(dst);
        size_t done = 0;
        if (pos_ < got_) {  // replay what was kept
            const size_t from = static_cast<size_t>(pos_ - kept_from_);
            done = std::min(n, kept_.size() - from);
            std::memcpy(out, kept_.data() + from, done);
        }
        const size_t fresh = done < n ? std::fread(out + done, 1, n - done, f_) : 0;
        keep(out + done, fresh);
        done += fresh;
        pos_ += done;
        return done;
    }
    bool read(void *dst, size_t n) { return read_upto(dst, n) == n; }
    bool skip(uint64_t n) {
        if (seekable_) return n <= left() && seek(pos_ + n);
        unsigned char buf[4096];
        while (n > 0) {
            const size_t part = n < sizeof buf ? static_cast<size_t>(n) : sizeof buf;
            if (!read(buf, part)) return false;
            n -= part;
        }
        return true;
    }
    // A pipe steps back only as far as the bytes kept since the mark.
    bool seek(uint64_t to) {
        if (!seekable_) {
            if (to < kept_from_) return false;
            if (to <= got_) {
                pos_ = to;
                return true;
            }
            return pos_ <= got_ && (pos_ = got_, skip(to - got_));
        }
        if (fseeko(f_, static_cast<off_t>(to), SEEK_SET) != 0) return false;
        pos_ = to;
        return true;
    }
    // Bytes before `at` are no longer needed.
    void mark(uint64_t at) {
        if (seekable_ || at <= kept_from_ || at > got_) return;
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<long>(at - kept_from_));
        kept_from_ = at;
    }
    // Hands the bytes read ahead of the position back to the stream.
    bool unread_ahead() {
        if (seekable_) return true;
        for (uint64_t p = got_; p > pos_; --p)
            if (std::ungetc(kept_[static_cast<size_t>(p - 1 - kept_from_)], f_) == EOF) return false;
        return true;
    }

    void expect(void *dst, size_t n) {
        if (!read(dst, n)) unknown_format();
    }
    uint32_t expect_u32() {
        unsigned char b[4];
        expect(b, 4);
        return le32(b);
    }
    uint16_t expect_u16() {
        unsigned char b[2];
        expect(b, 2);
        return le16(b);
    }
    uint64_t expect_u64() {
        unsigned char b[8];
        expect(b, 8);
        return le64(b);
    }
    void expect_skip(uint64_t n) {
        if (!skip(n)) unknown_format();
    }

private:
    // What a pipe keeps of the bytes since the mark; past that, the oldest
    // are dropped, and stepping back to them fails.
    static constexpr size_t kKeep = 16u << 20;

    void keep(const unsigned char *b, size_t n) {
        kept_.insert(kept_.end(), b, b + n);
        got_ += n;
        if (kept_.size() > kKeep) {
            const size_t drop = kept_.size() - kKeep / 2;
            kept_.erase(kept_.begin(), kept_.begin() + static_cast<long>(drop));
            kept_from_ += drop;
        }
    }

    FILE *f_;
    bool seekable_ = true;
    uint64_t pos_ = 0;
    uint64_t end_ = 0;
    // Pipe only: bytes [kept_from_, got_) of the file, got_ read so far.
    std::vector<unsigned char> kept_;
    uint64_t kept_from_ = 0, got_ = 0;
};

// After a chunk of odd size the next identifier may follow a pad byte (as
// the format asks) or not (as some writers do). Chooses the alignment at
// which a chunk identifier stands: the one that reads `wanted`; else the
// padded one when the byte before it is a zero pad; else the first printable
// one, unpadded first, for a nonzero first byte is the identifier's own (the
// padded reading would borrow a byte of the size, which is often printable).
bool read_id_after_odd_chunk(ChunkReader &r, char *id, const char *wanted) {
    unsigned char b[5];
    const uint64_t start = r.pos();
    const size_t got = r.read_upto(b, r.left() < 5 ? 4 : 5);
    if (got < 5) {
        std::memcpy(id, b, 4);
        return got == 4;
    }
    const unsigned char *padded = b + 1, *unpadded = b;
    const unsigned char *chosen;
    if (same_id(reinterpret_cast<const char *>(padded), wanted))
        chosen = padded;
    else if (same_id(reinterpret_cast<const char *>(unpadded), wanted))
        chosen = unpadded;
    else if (b[0] == 0 && printable_id(padded))
        chosen = padded;
    else if (printable_id(unpadded))
        chosen = unpadded;
    else if (printable_id(padded))
        chosen = padded;
    else
        return false;
    std::memcpy(id, chosen, 4);
    return r.seek(start + static_cast<uint64_t>(chosen - b) + 4);
}

// Walks the chunks by their declared sizes; true with the stream at the
// samples when a data chunk is reached.
bool walk_to_data(ChunkReader &r, bool odd_end, uint32_t *data_size) {
    for (;;) {
        char id[4];
        if (!(odd_end ? read_id_after_odd_chunk(r, id, "data") : r.read(id, 4))) return false;
        unsigned char size[4];
        if (!r.read(size, 4)) return false;
        if (same_id(id, "data")) {
            *data_size = le32(size);
            return true;
        }
        if (!r.skip(le32(size))) return false;
        odd_end = (le32(size) & 1u) != 0;
    }
}

// The tolerant fallback: slides one byte at a time until "data" appears,
// skipping "fact" chunks by their size.
uint32_t search_data_bytewise(ChunkReader &r) {
    char window[4];
    r.expect(window, 4);
    for (;;) {
        if (same_id(window, "data")) return r.expect_u32();
        if (same_id(window, "fact")) {
            r.expect_skip(r.expect_u32());
            r.expect(window, 4);
            continue;
        }
        std::memmove(window, window + 1, 3);
        r.expect(window + 3, 1);
    }
}

bool write_zeros(FILE *f, uint64_t n) {
    static const unsigned char zeros[4096] = {};
    while (n > 0) {
        const size_t part = n < sizeof zeros ? static_cast<size_t>(n) : sizeof zeros;
        if (std::fwrite(zeros, 1, part, f) != part) return false;
        n -= part;
    }
    return true;
}

void put32(unsigned char *b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

void put16(unsigned char *b, uint16_t v) {
    b[0] = static_cast<unsigned char>(v);
    b[1] = static_cast<unsigned char>(v >> 8);
}

}  // namespace

WAV_HEADER::WAV_HEADER()
    : SubChunk_fmtSize(0), AudioFormat(0), Channels(0), SampleRate(0), ByteRate(0),
      BlockAlign(0), BitsPerSample(0), DataSize(0), DataSize64(0) {}

WAV_HEADER::WAV_HEADER(const WAV_HEADER &H) = default;
WAV_HEADER::~WAV_HEADER() = default;
WAV_HEADER &WAV_HEADER::operator=(const WAV_HEADER &H) = default;

void WAV_HEADER::LoadFromFile(FILE *file) {
    ChunkReader r(file);
    char id[4];
    r.expect(id, 4);
    // RF64 (and its successor BW64) is RIFF with 64-bit sizes in a ds64
    // chunk, which comes first.
    const bool rf64 = same_id(id, "RF64") || same_id(id, "BW64");
    if (!rf64 && !same_id(id, "RIFF")) unknown_format();
    r.expect_skip(4);  // the RIFF size is not trusted
    r.expect(id, 4);
    if (!same_id(id, "WAVE")) unknown_format();

    uint64_t ds64_data = 0;
    bool odd = false;
    if (rf64) {
        r.expect(id, 4);
        const uint32_t ds64_size = r.expect_u32();
        if (!same_id(id, "ds64") || ds64_size < 24) unknown_format();
        r.expect_skip(8);  // RIFF size
        ds64_data = r.expect_u64();
        r.expect_skip(ds64_size - 16);  // sample count, table
        odd = (ds64_size & 1u) != 0;
    }
    if (!(odd ? read_id_after_odd_chunk(r, id, "fmt ") : r.read(id, 4))) unknown_format();
    if (same_id(id, "LIST")) {
        const uint32_t list_size = r.expect_u32();
        r.expect_skip(list_size);
        if (!((list_size & 1u) ? read_id_after_odd_chunk(r, id, "fmt ") : r.read(id, 4)))
            unknown_format();
    }
    if (!same_id(id, "fmt ")) unknown_format();

    SubChunk_fmtSize = r.expect_u32();
    AudioFormat = r.expect_u16();
    Channels = r.expect_u16();
    SampleRate = r.expect_u32();
    ByteRate = r.expect_u32();
    BlockAlign = r.expect_u16();
    BitsPerSample = r.expect_u16();
    // A shorter fmt chunk would have lent its fields from the next chunk.
    if (SubChunk_fmtSize < 16) unknown_format();
    r.expect_skip(SubChunk_fmtSize - 16);

    const uint64_t after_fmt = r.pos();
    r.mark(after_fmt);
    if (!walk_to_data(r, (SubChunk_fmtSize & 1u) != 0, &DataSize)) {
        if (!r.seek(after_fmt)) unknown_format();
        DataSize = search_data_bytewise(r);
    }
    DataSize64 = rf64 && DataSize == 0xFFFFFFFFu ? ds64_data : 0;
    if (!r.unread_ahead()) unknown_format();
}

uint64_t WAV_HEADER::DataBytes() const {
    return DataSize == 0xFFFFFFFFu && DataSize64 != 0 ? DataSize64 : DataSize;
}

namespace {

bool is_rf64(const WAV_HEADER &h) { return h.DataSize == 0xFFFFFFFFu && h.DataSize64 != 0; }
uint64_t fmt_extension(const WAV_HEADER &h) {
    return h.SubChunk_fmtSize > 16 ? h.SubChunk_fmtSize - 16 : 0;
}
// A chunk of odd size is followed by a pad byte. (A size below 16 still
// carries 16 bytes of fields, and so no pad.)
uint64_t fmt_pad(const WAV_HEADER &h) { return h.SubChunk_fmtSize > 16 ? h.SubChunk_fmtSize & 1u : 0; }
const uint32_t kDs64Size = 28;  // RIFF size, data size, sample count, empty table

}  // namespace

uint64_t WAV_HEADER::HeaderBytes() const {
    return 56 + fmt_extension(*this) + fmt_pad(*this) + (is_rf64(*this) ? 8 + kDs64Size : 0);
}

void WAV_HEADER::SaveToFile(FILE *file) {
    const uint64_t extension = fmt_extension(*this) + fmt_pad(*this);
    const bool rf64 = is_rf64(*this);
    unsigned char ds64[8 + kDs64Size] = {};
    if (rf64) {
        // As in the classic header: the file's length less 8 once
        // DataSize64 bytes of samples follow.
        const uint64_t riff = HeaderBytes() - 8 + DataSize64;
        std::memcpy(ds64, "ds64", 4);
        put32(ds64 + 4, kDs64Size);
        put32(ds64 + 8, static_cast<uint32_t>(riff));
        put32(ds64 + 12, static_cast<uint32_t>(riff >> 32));
        put32(ds64 + 16, static_cast<uint32_t>(DataSize64));
        put32(ds64 + 20, static_cast<uint32_t>(DataSize64 >> 32));
        // The sample count stays 0, as the fact chunk's; the table is empty.
    }
    unsigned char head[12];
    std::memcpy(head, rf64 ? "RF64" : "RIFF", 4);
    put32(head + 4, rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(SubChunk_fmtSize + fmt_pad(*this) + DataSize + 32));
    std::memcpy(head + 8, "WAVE", 4);
    unsigned char fmt[24];
    std::memcpy(fmt, "fmt ", 4);
    put32(fmt + 4, static_cast<uint32_t>(SubChunk_fmtSize));
    put16(fmt + 8, AudioFormat);
    put16(fmt + 10, Channels);
    put32(fmt + 12, SampleRate);
    put32(fmt + 16, ByteRate);
    put16(fmt + 20, BlockAlign);
    put16(fmt + 22, BitsPerSample);

    unsigned char tail[20];
    std::memcpy(tail, "fact", 4);
    put32(tail + 4, 4);
    put32(tail + 8, 0);
    std::memcpy(tail + 12, "data", 4);
    put32(tail + 16, DataSize);

    // Write errors stay on the stream for the caller's ferror().
    if (std::fwrite(head, 1, 12, file) != 12) return;
    if (rf64 && std::fwrite(ds64, 1, sizeof ds64, file) != sizeof ds64) return;
    if (std::fwrite(fmt, 1, sizeof fmt, file) != sizeof fmt) return;
    if (!write_zeros(file, extension)) return;
    std::fwrite(tail, 1, sizeof tail, file);
}

char WAV_HEADER::openAll(const char *file_name, unsigned int *num_Samples, short **Buf16b) {
    *num_Samples = 0;
    FILE *f = std::fopen(file_name, "rb");
    if (!f) return 0;
    try {
        LoadFromFile(f);
    } catch (...) {
        std::fclose(f);
        throw;
    }

    const bool pcm = AudioFormat == 1 && BitsPerSample == 16;
    const bool g711 = (AudioFormat == 6 || AudioFormat == 7) && BitsPerSample == 8;
    if (!(pcm || g711) || BlockAlign == 0 || Channels == 0) {
        std::fclose(f);
        return 0;
    }

    // Size the buffer from what the file holds, not from what it announces.
    const uint64_t sample_bytes = pcm ? 2 : 1;
    const uint64_t frame_bytes = sample_bytes * Channels;
    const off_t here = ftello(f);
    // No more than *num_Samples can count (which also keeps the byte counts
    // below from overflowing for an RF64 size of up to 64 bits).
    uint64_t frames = std::min<uint64_t>(DataBytes() / BlockAlign, UINT_MAX);
    if (here >= 0 && fseeko(f, 0, SEEK_END) == 0) {
        const off_t end = ftello(f);
        const uint64_t held = end > here ? static_cast<uint64_t>(end - here) : 0;
        if (frames > held / frame_bytes) frames = held / frame_bytes;
        fseeko(f, here, SEEK_SET);
    }
    const size_t samples = static_cast<size_t>(frames) * Channels;
    const size_t want = static_cast<size_t>(frames * frame_bytes);

    short *out = static_cast<short *>(std::malloc(samples ? samples * sizeof(short) : 1));
    unsigned char *codes = nullptr;
    if (out && g711) codes = static_cast<unsigned char *>(std::malloc(want ? want : 1));
    if (!out || (g711 && !codes)) {
        std::free(out);
        std::fclose(f);
        return 0;
    }

    void *target = pcm ? static_cast<void *>(out) : static_cast<void *>(codes);
    const size_t got = std::fread(target, 1, want, f);
    const uint64_t frames_read = got / frame_bytes;
    const size_t samples_read = static_cast<size_t>(frames_read) * Channels;
    if (g711) {
        const std::array<long, 256> &table = AudioFormat == 6 ? alaw2linear : ulaw2linear;
        for (size_t k = 0; k < samples_read; ++k)
            out[k] = static_cast<short>(static_cast<uint16_t>(table[codes[k]]));
        std::free(codes);
    }
    std::fclose(f);

    std::free(*Buf16b);
    *Buf16b = out;
    *num_Samples = static_cast<unsigned int>(frames_read);
    return 1;
}

char WAV_HEADER::saveAll(const char *file_name, unsigned int num_Samples, const short *Buf16b) {
    if (num_Samples == 0) return 0;
    FILE *f = std::fopen(file_name, "wb");
    if (!f) return 0;
    SaveToFile(f);
    const size_t count = static_cast<size_t>(num_Samples) * Channels;
    bool ok = std::fwrite(Buf16b, sizeof(short), count, f) == count;
    ok = !std::ferror(f) && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok ? 1 : 0;
}
