#include <algorithm>
#include <ostream>
#include <string>

#include "test_support.h"

namespace testsupport {

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes cat(const std::vector<Bytes> &parts) {
    Bytes b;
    for (const Bytes &p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

void set_u16(Bytes &b, size_t at, uint16_t v) {
    b.at(at) = static_cast<uint8_t>(v);
    b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}

void set_u32(Bytes &b, size_t at, uint32_t v) {
    set_u16(b, at, static_cast<uint16_t>(v));
    set_u16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

Bytes chunk_sized(const std::string &id, uint32_t size, const Bytes &body) {
    Bytes c = chunk(id, body);
    set_u32(c, 4, size);
    return c;
}

Bytes rf64(const std::vector<Bytes> &chunks) {
    Bytes b = riff(chunks);
    std::copy_n("RF64", 4, b.begin());
    set_u32(b, 4, 0xFFFFFFFF);
    return b;
}

Bytes ds64(uint64_t bytes, size_t extra) {
    Bytes body(24 + 4 + extra, 0);
    set_u32(body, 8, static_cast<uint32_t>(bytes));
    set_u32(body, 12, static_cast<uint32_t>(bytes >> 32));
    return chunk("ds64", body);
}

namespace {

using namespace std::string_literals;

// Mono 16-bit PCM at 8 kHz, with `extra` bytes after the 16 of fields.
Bytes fmt(size_t extra = 0) {
    Bytes body = fmt_body(1, 1, 8000, 16);
    body.resize(16 + extra, 0x5A);
    return chunk("fmt ", body);
}

Bytes data() { return chunk("data", wav_case_samples()); }

// The tool's own header shape, RIFF, fmt (16), fact, data, with one field
// changed. Offsets: fmt size 16, format 20, channels 22, rate 24, block
// align 32, bits 34, data size 52.
Bytes base() { return riff({fmt(), chunk("fact", Bytes(4, 0)), data()}); }
Bytes with_u16(size_t at, uint16_t v) {
    Bytes b = base();
    set_u16(b, at, v);
    return b;
}
Bytes with_u32(size_t at, uint32_t v) {
    Bytes b = base();
    set_u32(b, at, v);
    return b;
}
Bytes with_format(uint16_t format, uint16_t channels, uint16_t bits) {
    return riff({chunk("fmt ", fmt_body(format, channels, 8000, bits)), data()});
}

Bytes rf64_data() { return chunk_sized("data", 0xFFFFFFFF, wav_case_samples()); }

}  // namespace

const Bytes &wav_case_samples() {
    static const Bytes samples = [] {
        Bytes b;
        append_samples(b, white_noise(2000, 3000.0, 11));
        return b;
    }();
    return samples;
}

const std::vector<WavCase> &wav_cases() {
    using T = WavCase::Takes;
    static const std::vector<WavCase> cases = [] {
        const Bytes info = chunk("LIST", text("INFOICMT"));
        const Bytes info_odd = chunk("LIST", text("INFOICMTx"));
        const Bytes huge = text("\xFF\xFF\xFF\xFF");
        const size_t n = wav_case_samples().size();
        Bytes riff_size_zero = riff({fmt(), data()});
        set_u32(riff_size_zero, 4, 0);
        Bytes rifx = base(), not_wave = base();
        std::copy_n("RIFX", 4, rifx.begin());
        std::copy_n("AVI ", 4, not_wave.begin() + 8);
        Bytes fmt_odd_padded[3], fmt_odd[3];
        for (size_t i = 0; i < 3; ++i) {
            fmt_odd[i] = riff({fmt(1 + 2 * i), chunk("fact", Bytes(4, 0)), data()});
            fmt_odd_padded[i] = riff({fmt(1 + 2 * i), {0}, chunk("fact", Bytes(4, 0)), data()});
        }
        return std::vector<WavCase>{
            {"canonical", riff({fmt(), data()}), T::Cleaned},
            {"tool_shape", base(), T::Cleaned},
            {"riff_size_zero", riff_size_zero, T::Cleaned},
            {"rifx", rifx, T::Unknown},
            {"not_wave", not_wave, T::Unknown},
            {"rf64_without_ds64", rf64({fmt(), data()}), T::Unknown},
            {"empty", {}, T::Unknown},
            {"text", text("just some text, no sound"), T::Unknown},
            {"riff_only", riff({}), T::Unknown},

            // Chunks before fmt: one LIST, padded or not, is passed over.
            {"list_before_fmt", riff({info, fmt(), data()}), T::Cleaned},
            {"odd_list_before_fmt_padded", riff({info_odd, {0}, fmt(), data()}), T::Cleaned},
            {"odd_list_before_fmt_unpadded", riff({info_odd, fmt(), data()}), T::Cleaned},
            // The fmt size 40 reads as '(' and so makes "mt (" look like an id.
            {"odd_list_before_long_fmt_unpadded", riff({info_odd, fmt(24), data()}), T::Cleaned, 40},
            {"two_lists_before_fmt", riff({info, info, fmt(), data()}), T::Unknown},
            {"junk_before_fmt", riff({chunk("JUNK", Bytes(6, 0)), fmt(), data()}), T::Unknown},
            {"list_before_fmt_past_end", riff({chunk_sized("LIST", 10000, Bytes(4)), fmt(), data()}),
             T::Unknown},
            {"huge_list_before_fmt", riff({chunk_sized("LIST", 0xFFFFFFFF, huge), fmt(), data()}),
             T::Unknown},

            // The fmt chunk's size.
            {"fmt_18", riff({fmt(2), data()}), T::Cleaned, 18},
            {"fmt_17_unpadded", fmt_odd[0], T::Cleaned, 17},
            {"fmt_17_padded", fmt_odd_padded[0], T::Cleaned, 17},
            {"fmt_19_unpadded", fmt_odd[1], T::Cleaned, 19},
            {"fmt_19_padded", fmt_odd_padded[1], T::Cleaned, 19},
            {"fmt_21_unpadded", fmt_odd[2], T::Cleaned, 21},
            {"fmt_size_17_over_fact", with_u32(16, 17), T::Cleaned, 17},
            {"fmt_size_0", with_u32(16, 0), T::Unknown},
            {"fmt_size_2", with_u32(16, 2), T::Unknown},
            {"fmt_size_14", with_u32(16, 14), T::Unknown},
            {"fmt_size_all_ones", with_u32(16, 0xFFFFFFFF), T::Unknown},

            // Chunks between fmt and data.
            {"fact_holding_data_id", riff({fmt(), chunk("fact", text("data")), data()}), T::Cleaned},
            {"metadata_in_list_after_fmt",
             riff({fmt(), chunk("LIST", text("INFOICMT\x08\0\0\0metadata"s)), data()}), T::Cleaned},
            {"odd_list_after_fmt_padded", riff({fmt(), info_odd, {0}, data()}), T::Cleaned},
            // Without the pad, the next chunk's size 'A' makes "UNKA" look like an id.
            {"odd_chunks_after_fmt_unpadded",
             riff({fmt(), chunk("LIST", text("INFOmetadata!")), chunk("JUNK", Bytes(65, 0xFF)), data()}),
             T::Cleaned},
            {"stray_bytes_only_byte_search_finds", riff({fmt(), {1, 2, 3}, data()}), T::Cleaned},
            {"overlong_chunk_only_byte_search_finds",
             riff({fmt(), chunk_sized("JUNK", 1000, Bytes(4)), data()}), T::Cleaned},
            {"huge_fact", riff({fmt(), chunk_sized("fact", 0xFFFFFFFF, huge), data()}), T::Unknown},
            {"huge_chunk_no_data", riff({fmt(), chunk_sized("JUNK", 0xFFFFFFFF, huge)}), T::Unknown},
            {"no_data_chunk", riff({fmt(), chunk("LIST", text("INFO"))}), T::Unknown},
            {"data_size_cut_off", cat({riff({fmt()}), text("data"), {6, 0}}), T::Unknown},

            // Fields: only 16-bit linear PCM in one or two channels is
            // cleaned; the format code 0 passes, and the rate, block align
            // and byte rate are taken as found. An announced data size the
            // file does not hold ends the data at the file's end; an odd
            // one at its last whole block.
            {"format_0", with_u16(20, 0), T::Cleaned},
            {"format_adpcm", with_format(2, 1, 16), T::Format},
            {"format_float", with_format(3, 1, 16), T::Format},
            {"format_alaw", with_u16(20, 6), T::Format},
            {"format_mulaw", with_u16(20, 7), T::Format},
            {"format_extensible", with_u16(20, 0xFFFE), T::Format},
            {"no_channel", with_format(1, 0, 16), T::Format},
            {"three_channels", with_format(1, 3, 16), T::Format},
            {"channels_65535", with_u16(22, 65535), T::Format},
            {"bits_8", with_format(1, 1, 8), T::Format},
            {"bits_24", with_format(1, 2, 24), T::Format},
            {"bits_32", with_u16(34, 32), T::Format},
            {"rate_0", with_u32(24, 0), T::Cleaned},
            {"rate_1", with_u32(24, 1), T::Cleaned},
            {"rate_max", with_u32(24, 0xFFFFFFFF), T::Cleaned},
            {"block_align_0", with_u16(32, 0), T::Cleaned},
            {"data_size_odd", with_u32(52, 3001), T::Cleaned},

            // RF64: the ds64 size counts where the data chunk has 0xFFFFFFFF.
            {"rf64", rf64({ds64(n), fmt(), rf64_data()}), T::Cleaned},
            {"rf64_classic_data_size", rf64({ds64(99), fmt(), data()}), T::Cleaned},
            {"rf64_odd_ds64_unpadded", rf64({ds64(n, 1), fmt(), rf64_data()}), T::Cleaned},
            // Through a pipe, which cannot tell, the provisional header is RF64.
            {"rf64_announcing_5_gb", rf64({ds64(5000000000), fmt(), rf64_data()}), T::Cleaned},
            {"rf64_short_ds64", rf64({chunk("ds64", Bytes(16)), fmt(), data()}), T::Unknown},
        };
    }();
    return cases;
}

void PrintTo(const WavCase &c, std::ostream *os) { *os << c.name; }

}  // namespace testsupport
