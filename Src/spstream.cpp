// The host layer: the accepted values and their checks, and any-length
// streaming around one suppressor, where whole blocks are gathered,
// cleaned, and queued in a small ring until the host takes them.
#include "spstream.h"

#include "fpenv.h"

namespace {

constexpr float kFactorMin = static_cast<float>(SPSTREAM_FACTOR_MIN);
constexpr float kFactorEnd = static_cast<float>(SPSTREAM_FACTOR_END);
constexpr float kLimitMax = static_cast<float>(SPSTREAM_LIMIT_MAX);

// The comparisons are written so that a NaN fails every one of them.
bool factor_valid(mfloat v) { return v >= kFactorMin && v < kFactorEnd; }

int check_parameters(int kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    if (!(kind_subst >= SPSTREAM_MODE_MIN && kind_subst <= SPSTREAM_MODE_MAX)) return SPSTREAM_BAD_MODE;
    if (!(pSdb <= kLimitMax)) return SPSTREAM_BAD_LIMIT;
    if (!factor_valid(pNn)) return SPSTREAM_BAD_ADAPTATION;
    if (!factor_valid(pMn)) return SPSTREAM_BAD_SMOOTHING;
    return SPSTREAM_OK;
}

bool rate_valid(uint32 rate) { return rate >= SPSTREAM_MIN_RATE && rate <= SPSTREAM_MAX_RATE; }

bool delivery_valid(int d) {
    return d == SPSTREAM_FIXED_DELAY || d == SPSTREAM_ALIGNED || d == SPSTREAM_BLOCKS;
}

#define SPSTREAM_TEXT(x) #x
#define SPSTREAM_NUMBER(x) SPSTREAM_TEXT(x)

struct Parameter {
    const char *name;
    TSpectRange range;
};

const Parameter kParameters[] = {
    {"rate", {SPSTREAM_MIN_RATE, SPSTREAM_MAX_RATE, SPSTREAM_MIN_RATE, SPSTREAM_MAX_RATE, 0, 0}},
    {"channels", {1, SPSTREAM_MAX_CHANNELS, 1, SPSTREAM_MAX_CHANNELS, 1, 0}},
    {"mode",
     {SPSTREAM_MODE_MIN, SPSTREAM_MODE_MAX, SPSTREAM_MODE_MIN, SPSTREAM_MODE_MAX, SPSTREAM_MODE_DEFAULT, 0}},
    {"limit_db",
     {-__builtin_inf(), SPSTREAM_LIMIT_MAX, SPSTREAM_LIMIT_LOW, SPSTREAM_LIMIT_MAX, SPSTREAM_LIMIT_DEFAULT, 0}},
    {"adaptation",
     {SPSTREAM_FACTOR_MIN, SPSTREAM_FACTOR_END, SPSTREAM_FACTOR_MIN, SPSTREAM_FACTOR_HIGH,
      SPSTREAM_ADAPTATION_DEFAULT, 1}},
    {"smoothing",
     {SPSTREAM_FACTOR_MIN, SPSTREAM_FACTOR_END, SPSTREAM_FACTOR_MIN, SPSTREAM_FACTOR_HIGH,
      SPSTREAM_SMOOTHING_DEFAULT, 1}},
};

const char *const kMessages[] = {
    "ok",
    "rate must be " SPSTREAM_NUMBER(SPSTREAM_MIN_RATE) " to " SPSTREAM_NUMBER(SPSTREAM_MAX_RATE) " Hz",
    "channels must be 1 to " SPSTREAM_NUMBER(SPSTREAM_MAX_CHANNELS),
    "mode must be 0, 1, 2 or 3",
    "limit_db must be a number <= " SPSTREAM_NUMBER(SPSTREAM_LIMIT_MAX) " dB",
    "adaptation must be in [" SPSTREAM_NUMBER(SPSTREAM_FACTOR_MIN) ", " SPSTREAM_NUMBER(
        SPSTREAM_FACTOR_END) ") (single precision)",
    "smoothing must be in [" SPSTREAM_NUMBER(SPSTREAM_FACTOR_MIN) ", " SPSTREAM_NUMBER(
        SPSTREAM_FACTOR_END) ") (single precision)",
    "delivery must be fixed, aligned or blocks",
};

const char *const kDeliveries[] = {"fixed", "aligned", "blocks"};

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
// block's output has been dropped; nothing in the block loop's mode.
template <class Conv, class T>
uint32 flush(TSpectStream *s, T *out) {
    if (s->flushing || block_of(s) == 0) return 0;
    const uint32 B = block_of(s);
    T silence[SPSTREAM_MAX_BLOCK] = {};
    uint32 owed = SpectStream_Latency(s);
    if (s->delivery == SPSTREAM_ALIGNED) owed = s->skip > 0 ? s->gathered : s->gathered + B;
    if (s->delivery == SPSTREAM_BLOCKS) owed = 0;
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

NR_NOINLINE int open(TSpectStream *s, uint32 SampleRate, int kind_subst, mfloat pSdb, mfloat pNn,
                     mfloat pMn, int delivery) {
    if (!rate_valid(SampleRate)) return SPSTREAM_BAD_RATE;
    const int status = check_parameters(kind_subst, pSdb, pNn, pMn);
    if (status != SPSTREAM_OK) return status;
    if (!delivery_valid(delivery)) return SPSTREAM_BAD_DELIVERY;
    SpectSubtract_Init(&s->ns, SampleRate, static_cast<int8>(kind_subst), pSdb, pNn, pMn);
    s->ns.stateVad = 0;
    s->delivery = delivery;
    s->gathered = 0;
    s->fifo_head = 0;
    s->flushing = 0;
    const uint32 B = block_of(s);
    // The suppressor's first output block belongs to the silence before the
    // stream and is dropped, except by the block loop; the fixed delay
    // starts with the silence it needs instead.
    s->queued = delivery == SPSTREAM_FIXED_DELAY ? 2 * B - 1 : 0;
    s->skip = delivery == SPSTREAM_BLOCKS ? 0 : B;
    for (uint32 j = 0; j < s->queued; ++j) s->fifo[j] = 0;
    return SPSTREAM_OK;
}

NR_NOINLINE int retune(TSpectStream *s, int kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    const int status = check_parameters(kind_subst, pSdb, pNn, pMn);
    if (status == SPSTREAM_OK) SpectSubtract_Reset(&s->ns, static_cast<int8>(kind_subst), pSdb, pNn, pMn);
    return status;
}

NR_NOINLINE int check_parameters_work(int kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    return check_parameters(kind_subst, pSdb, pNn, pMn);
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

const char *SpectStream_Range(int param, TSpectRange *range) {
    if (param < 0 || param >= static_cast<int>(sizeof kParameters / sizeof kParameters[0])) return nullptr;
    *range = kParameters[param].range;
    return kParameters[param].name;
}

int SpectStream_CheckFormat(uint32 SampleRate, uint32 channels) {
    if (!rate_valid(SampleRate)) return SPSTREAM_BAD_RATE;
    if (channels < 1 || channels > SPSTREAM_MAX_CHANNELS) return SPSTREAM_BAD_CHANNELS;
    return SPSTREAM_OK;
}

int SpectStream_CheckParameters(int kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    return nr::exact(check_parameters_work, kind_subst, pSdb, pNn, pMn);
}

const char *SpectStream_Message(int status) {
    if (status < 0 || status >= static_cast<int>(sizeof kMessages / sizeof kMessages[0]))
        return "unknown status";
    return kMessages[status];
}

const char *SpectStream_DeliveryName(int delivery) {
    return delivery_valid(delivery) ? kDeliveries[delivery] : nullptr;
}

int SpectStream_Open(TSpectStream *s, uint32 SampleRate, int kind_subst, mfloat pSdb, mfloat pNn,
                     mfloat pMn, int delivery) {
    return nr::exact(open, s, SampleRate, kind_subst, pSdb, pNn, pMn, delivery);
}

int SpectStream_Init(TSpectStream *s, uint32 SampleRate, int8 kind_subst, mfloat pSdb, mfloat pNn,
                     mfloat pMn, int delivery) {
    return SpectStream_Open(s, SampleRate, kind_subst, pSdb, pNn, pMn, delivery) == SPSTREAM_OK;
}

int SpectStream_Retune(TSpectStream *s, int kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    return nr::exact(retune, s, kind_subst, pSdb, pNn, pMn);
}

int SpectStream_Reset(TSpectStream *s, int8 kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn) {
    return SpectStream_Retune(s, kind_subst, pSdb, pNn, pMn) == SPSTREAM_OK;
}

uint32 SpectStream_Block(const TSpectStream *s) { return block_of(s); }

uint32 SpectStream_Latency(const TSpectStream *s) {
    return block_of(s) > 0 ? 2 * block_of(s) - 1 : 0;
}

int SpectStream_Speech(const TSpectStream *s) { return s->ns.stateVad == 1 ? 1 : 0; }

uint32 SpectStream_ToBlockEnd(const TSpectStream *s) {
    return s->flushing ? 0 : block_of(s) - s->gathered;
}

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
