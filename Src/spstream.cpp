// Any-length streaming around one suppressor: whole blocks are gathered,
// cleaned, and queued in a small ring until the host takes them.
#include "spstream.h"

#include "fpenv.h"

namespace {

bool parameters_valid(int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    // The comparisons are written so that a NaN fails every one of them.
    const bool rates = pNn >= 0.8f && pNn < 1.0f && pMn >= 0.8f && pMn < 1.0f;
    return kind_subst >= 0 && kind_subst <= 3 && pSdb <= 0.0f && rates;
}

uint32 block_of(const TSpectStream *s) { return s->ns.lenHalf; }

// Cleans the gathered block and queues the result, dropping what `skip`
// still asks for.
void clean_block(TSpectStream *s) {
    SpectSubtract_Frame(&s->ns, 1, s->block);
    SpectSubtract_Restore(&s->ns, s->block);
    const uint32 B = block_of(s), capacity = 2 * SPSTREAM_MAX_BLOCK;
    uint32 from = 0;
    if (s->skip > 0) {
        from = s->skip < B ? s->skip : B;
        s->skip -= from;
    }
    for (uint32 j = from; j < B; ++j) s->fifo[(s->fifo_head + s->queued++) % capacity] = s->block[j];
    s->gathered = 0;
}

int16 take(TSpectStream *s) {
    const int16 v = s->fifo[s->fifo_head];
    s->fifo_head = (s->fifo_head + 1) % (2 * SPSTREAM_MAX_BLOCK);
    --s->queued;
    return v;
}

struct Pcm16 {
    static int16 in(int16 v) { return v; }
    static int16 out(int16 v) { return v; }
};

int16 from_float(float x) {
    // Everything up to half a step rounds to 0; taking it out first keeps
    // subnormal input, many times slower in arithmetic, out of it.
    if (__builtin_fabsf(x) <= 0x1p-16f) return 0;
    const float v = x * 32768.0f;
    if (!(v - v == 0.0f)) return 0;  // NaN or infinite: silence
    if (v >= 32767.0f) return 32767;
    if (v <= -32768.0f) return -32768;
    // Adding and removing 1.5 * 2^23 rounds to the nearest integer, ties to
    // even, for every |v| < 2^22, without depending on the C library.
    const float rounded = (v + 12582912.0f) - 12582912.0f;
    return static_cast<int16>(rounded);
}

// Exact: an integer times a power of two, never subnormal.
float to_float(int16 v) { return static_cast<float>(v) * (1.0f / 32768.0f); }

struct Float32 {
    static int16 in(float v) { return from_float(v); }
    static float out(int16 v) { return to_float(v); }
};

// Inputs of a segment are all read before any output of it is written, so
// that a fixed-delay stream may work in place. A segment never runs past
// the end of a block; in fixed-delay mode the queue holds enough samples
// for it (lenHalf - 1 - gathered before, lenHalf more once the block is
// cleaned).
template <class Conv, class T>
uint32 process(TSpectStream *s, const T *in, uint32 n, T *out) {
    if (s->flushing || block_of(s) == 0) return 0;
    const uint32 B = block_of(s);
    uint32 written = 0;
    for (uint32 i = 0; i < n;) {
        uint32 m = B - s->gathered;
        if (m > n - i) m = n - i;
        for (uint32 k = 0; k < m; ++k) s->block[s->gathered + k] = Conv::in(in[i + k]);
        s->gathered += m;
        i += m;
        if (s->gathered == B) clean_block(s);
        const uint32 give = s->delivery == SPSTREAM_FIXED_DELAY ? m : s->queued;
        for (uint32 k = 0; k < give; ++k) out[written++] = Conv::out(take(s));
    }
    return written;
}

// Silence after the last sample until everything owed has come out:
// `latency` samples in fixed-delay mode; in aligned mode the samples
// gathered plus the block still inside the suppressor, once the first
// block's output has been dropped.
template <class Conv, class T>
uint32 flush(TSpectStream *s, T *out) {
    if (s->flushing || block_of(s) == 0) return 0;
    const uint32 B = block_of(s);
    T silence[SPSTREAM_MAX_BLOCK] = {};
    uint32 owed = SpectStream_Latency(s);
    if (s->delivery == SPSTREAM_ALIGNED) owed = s->skip > 0 ? s->gathered : s->gathered + B;
    uint32 written = 0;
    while (written < owed) {
        const uint32 want = owed - written;
        if (s->delivery == SPSTREAM_FIXED_DELAY) {
            written += process<Conv>(s, silence, want < B ? want : B, out + written);
            continue;
        }
        T spill[2 * SPSTREAM_MAX_BLOCK];
        const uint32 got = process<Conv>(s, silence, B - s->gathered, spill);
        for (uint32 k = 0; k < got && written < owed; ++k) out[written++] = spill[k];
    }
    s->flushing = 1;
    return written;
}

// ------------------------------------------------------------ entry points
// The work of each entry point that computes, run by it in the IEEE default
// floating-point environment whatever the caller has set (fpenv.h).

NR_NOINLINE int init(TSpectStream *s, uint32 SampleRate, int8 kind_subst, mfloat pSdb, mfloat pNn,
                     mfloat pMn, int delivery) {
    if (!parameters_valid(kind_subst, pSdb, pNn, pMn)) return 0;
    if (SampleRate < SPSTREAM_MIN_RATE || SampleRate > SPSTREAM_MAX_RATE) return 0;
    if (delivery != SPSTREAM_FIXED_DELAY && delivery != SPSTREAM_ALIGNED) return 0;
    SpectSubtract_Init(&s->ns, SampleRate, kind_subst, pSdb, pNn, pMn);
    s->ns.stateVad = 0;
    s->delivery = delivery;
    s->gathered = 0;
    s->fifo_head = 0;
    s->flushing = 0;
    const uint32 B = block_of(s);
    // The suppressor's first output block belongs to the silence before the
    // stream and is dropped; the fixed delay starts with the silence it
    // needs instead.
    s->queued = delivery == SPSTREAM_FIXED_DELAY ? 2 * B - 1 : 0;
    s->skip = B;
    for (uint32 j = 0; j < s->queued; ++j) s->fifo[j] = 0;
    return 1;
}

NR_NOINLINE int reset(TSpectStream *s, int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    if (!parameters_valid(kind_subst, pSdb, pNn, pMn)) return 0;
    SpectSubtract_Reset(&s->ns, kind_subst, pSdb, pNn, pMn);
    return 1;
}

NR_NOINLINE uint32 process16(TSpectStream *s, const int16 *in, uint32 n, int16 *out) {
    return process<Pcm16>(s, in, n, out);
}

NR_NOINLINE uint32 process_float(TSpectStream *s, const float *in, uint32 n, float *out) {
    return process<Float32>(s, in, n, out);
}

NR_NOINLINE uint32 flush16(TSpectStream *s, int16 *out) { return flush<Pcm16>(s, out); }

NR_NOINLINE uint32 flush_float(TSpectStream *s, float *out) { return flush<Float32>(s, out); }

NR_NOINLINE int16 from_float_work(float x) { return from_float(x); }

}  // namespace

extern "C" {

int SpectStream_Init(TSpectStream *s, uint32 SampleRate, int8 kind_subst, mfloat pSdb, mfloat pNn,
                     mfloat pMn, int delivery) {
    return nr::exact(init, s, SampleRate, kind_subst, pSdb, pNn, pMn, delivery);
}

int SpectStream_Reset(TSpectStream *s, int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    return nr::exact(reset, s, kind_subst, pSdb, pNn, pMn);
}

uint32 SpectStream_Block(const TSpectStream *s) { return block_of(s); }

uint32 SpectStream_Latency(const TSpectStream *s) {
    return block_of(s) > 0 ? 2 * block_of(s) - 1 : 0;
}

int SpectStream_Speech(const TSpectStream *s) { return s->ns.stateVad == 1 ? 1 : 0; }

uint32 SpectStream_Process16(TSpectStream *s, const int16 *in, uint32 n, int16 *out) {
    return nr::exact(process16, s, in, n, out);
}

uint32 SpectStream_ProcessFloat(TSpectStream *s, const float *in, uint32 n, float *out) {
    return nr::exact(process_float, s, in, n, out);
}

uint32 SpectStream_Flush16(TSpectStream *s, int16 *out) { return nr::exact(flush16, s, out); }

uint32 SpectStream_FlushFloat(TSpectStream *s, float *out) { return nr::exact(flush_float, s, out); }

int16 SpectStream_FromFloat(float x) { return nr::exact(from_float_work, x); }

float SpectStream_ToFloat(int16 v) { return to_float(v); }

}  // extern "C"
