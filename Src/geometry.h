// The frame geometries of the suppressor, as one list, and what follows from
// it: the rate table's rows, the sizes the FFT supports and where each
// geometry's part of the constant tables starts. The suppressor, the FFT,
// their tables and the tests all read them here. Internal to the core.
#ifndef NR_GEOMETRY_H
#define NR_GEOMETRY_H

#include "nrtypes.h"

namespace nr_geometry {

// A frame of `len` samples, of which len / 2 are new in each block, taken
// into a transform of `nfft` points.
struct Frame {
    unsigned len;
    unsigned nfft;
};

// The rows of the rate table, in the order of their windows in the window
// table.
constexpr Frame kFrames[] = {
    {180, 512},    // 6 kHz
    {240, 512},    // 8 kHz
    {380, 512},    // 10 to 20 kHz, and any rate not listed below 20 kHz
    {600, 1024},   // 20 to 30 kHz
    {960, 1024},   // 30 to 44 kHz
    {2048, 2048},  // 44 kHz and above
};
constexpr unsigned kFrameCount = sizeof kFrames / sizeof kFrames[0];

// The row of a sampling rate: exact rates first; the first two rows are
// reached by nothing else.
constexpr unsigned row_for_rate(uint32 rate) {
    switch (rate) {
        case 6000: return 0;
        case 8000: return 1;
        case 10000: case 11025: case 12000: case 16000: return 2;
        case 22000: case 22050: return 3;
        case 32000: return 4;
        case 44000: case 44100: return 5;
        default: break;
    }
    if (rate > 44000) return 5;
    if (rate > 30000) return 4;
    if (rate > 20000) return 3;
    return 2;
}

// Where a row's window starts in the window table, and the table's size.
constexpr unsigned window_offset(unsigned row) {
    unsigned at = 0;
    for (unsigned r = 0; r < row; ++r) at += kFrames[r].len;
    return at;
}
constexpr unsigned kWindowEntries = window_offset(kFrameCount);

// The FFT's sizes: every power of two from 256 (the smallest its kernels
// take) up to the largest transform of a frame.
constexpr unsigned kSmallestFft = 256;
constexpr unsigned largest_transform() {
    unsigned n = 0;
    for (const Frame &f : kFrames) n = f.nfft > n ? f.nfft : n;
    return n;
}
constexpr unsigned fft_count() {
    unsigned count = 1;
    while ((kSmallestFft << (count - 1)) < largest_transform()) ++count;
    return count;
}
constexpr unsigned kFftCount = fft_count();
constexpr unsigned fft_size(unsigned i) { return kSmallestFft << i; }

// Sums of a per-size count over the sizes before size i.
template <class Count>
constexpr unsigned sum_before(unsigned i, Count count) {
    unsigned at = 0;
    for (unsigned s = 0; s < i; ++s) at += count(fft_size(s));
    return at;
}
// Per size: a quarter-wave cosine segment of n/4 + 1 entries, n/2 entries
// of the bit-reversal (swap) table, and n - 16 twiddles of the stages with
// spans of 8 points and more.
constexpr unsigned cos_offset(unsigned i) {
    return sum_before(i, [](unsigned n) { return n / 4 + 1; });
}
constexpr unsigned swap_offset(unsigned i) {
    return sum_before(i, [](unsigned n) { return n / 2; });
}
constexpr unsigned stage_offset(unsigned i) {
    return sum_before(i, [](unsigned n) { return n - 16; });
}
constexpr unsigned kCosEntries = cos_offset(kFftCount);
constexpr unsigned kStageEntries = stage_offset(kFftCount);

// The tables' layout is part of the records hosts keep (offset_wn,
// offset_cs, offset_sw): it must not move.
static_assert(kFrameCount == 6 && window_offset(1) == 180 && window_offset(2) == 420 &&
                  window_offset(3) == 800 && window_offset(4) == 1400 &&
                  window_offset(5) == 2360 && kWindowEntries == 4408,
              "window offsets moved");
static_assert(kFftCount == 4 && fft_size(3) == 2048, "FFT sizes changed");
static_assert(cos_offset(1) == 65 && cos_offset(2) == 194 && cos_offset(3) == 451 &&
                  kCosEntries == 964,
              "cosine segments moved");
static_assert(swap_offset(1) == 128 && swap_offset(2) == 384 && swap_offset(3) == 896,
              "swap segments moved");
static_assert(kStageEntries == (256 - 16) + (512 - 16) + (1024 - 16) + (2048 - 16),
              "stage tables resized");
// The rates of each row, and the borders between rows.
static_assert(row_for_rate(6000) == 0 && row_for_rate(8000) == 1, "exact rates");
static_assert(row_for_rate(0) == 2 && row_for_rate(5999) == 2 && row_for_rate(6001) == 2 &&
                  row_for_rate(8001) == 2 && row_for_rate(11025) == 2 &&
                  row_for_rate(20000) == 2,
              "rates of row 2");
static_assert(row_for_rate(20001) == 3 && row_for_rate(22050) == 3 && row_for_rate(30000) == 3,
              "rates of row 3");
static_assert(row_for_rate(30001) == 4 && row_for_rate(32000) == 4 && row_for_rate(43999) == 4,
              "rates of row 4");
static_assert(row_for_rate(44000) == 5 && row_for_rate(44100) == 5 && row_for_rate(48000) == 5 &&
                  row_for_rate(4294967295u) == 5,
              "rates of row 5");

}  // namespace nr_geometry

#endif
