/* The host layer under every front end (the command-line tool, audio
   plugins, language bindings): the parameter ranges and their checks, with
   status codes that name what is wrong, and any-length streaming around
   one suppressor record, for hosts whose buffers are not whole blocks.

   A TSpectStream gathers the samples it is given into whole blocks of
   lenHalf samples, runs SpectSubtract_Frame and SpectSubtract_Restore on
   each, and hands the cleaned samples back in one of three ways, chosen at
   Init:

   - SPSTREAM_FIXED_DELAY: every Process call returns exactly as many
     samples as it is given, out[t] being the cleaned in[t - latency]
     (zeros before the stream's start). latency is 2 lenHalf - 1 samples:
     the last sample of a block and the whole next block must arrive before
     its first sample comes out. Plugins report it to their host.
   - SPSTREAM_ALIGNED: Process returns the cleaned samples that are ready,
     in input order and starting with the first input sample; Flush returns
     the rest, so that the whole output is exactly as long as the input and
     sample i is the cleaned input sample i. The block delay is gone: for
     16-bit input the output equals what the block-by-block loop writes,
     shifted by one block.
   - SPSTREAM_BLOCKS: the block loop itself. Process returns whole cleaned
     blocks, each the one before the block just completed (the first is
     the cleaned silence before the stream), and Flush returns nothing: an
     incomplete last block is dropped, as the command-line tool does.

   Float samples use the scale +-1.0 <-> +-32768: a float is multiplied by
   32768, rounded to the nearest integer (ties to even) and saturated to
   [-32768, 32767]; NaN and infinities become 0 (silence), so they never
   reach the suppressor's state. 16-bit samples pass unchanged. A float
   that holds k / 32768 for an integer k is therefore taken exactly, and
   subnormal floats cost no more than others.

   The record owns no memory and allocates nothing; it may be copied. One
   record is used by one thread at a time; records are independent. Every
   function that computes runs in the IEEE default floating-point
   environment whatever the caller (a plugin host with flush-to-zero on,
   say) has set, and hands the caller's environment back unchanged
   (spsubst.h). */
#ifndef SPSTREAM_H
#define SPSTREAM_H

#include "spsubst.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The accepted values, in one place. Front ends ask for them (the macros,
   or SpectStream_Range at run time) instead of repeating them.
   Sampling rates, in Hz: the suppressor itself takes any rate; outside
   this range its frames stop making acoustic sense. */
#define SPSTREAM_MIN_RATE 6000
#define SPSTREAM_MAX_RATE 192000
/* Channels a front end cleans side by side, one record each. */
#define SPSTREAM_MAX_CHANNELS 8
/* kind_subst: the suppression modes. */
#define SPSTREAM_MODE_MIN 0
#define SPSTREAM_MODE_MAX 3
#define SPSTREAM_MODE_DEFAULT 2
/* pSdb, in dB: at most SPSTREAM_LIMIT_MAX; there is no lower bound, but
   nothing below SPSTREAM_LIMIT_LOW is worth offering on a control. */
#define SPSTREAM_LIMIT_MAX 0.0
#define SPSTREAM_LIMIT_LOW (-80.0)
#define SPSTREAM_LIMIT_DEFAULT (-20.0)
/* pNn and pMn: from SPSTREAM_FACTOR_MIN up to, not including,
   SPSTREAM_FACTOR_END, compared in single precision (so 0.99999999, which
   rounds to 1, is refused); controls offer up to SPSTREAM_FACTOR_HIGH. */
#define SPSTREAM_FACTOR_MIN 0.8
#define SPSTREAM_FACTOR_END 1.0
#define SPSTREAM_FACTOR_HIGH 0.999
#define SPSTREAM_ADAPTATION_DEFAULT 0.95
#define SPSTREAM_SMOOTHING_DEFAULT 0.98

/* Delivery modes (above). */
#define SPSTREAM_FIXED_DELAY 0
#define SPSTREAM_ALIGNED 1
#define SPSTREAM_BLOCKS 2

#define SPSTREAM_MAX_BLOCK (SPSUBST_MAX_FRAME / 2)

/* Status codes: what a check found wrong, the first of them in the order
   below (rate, channels, then the parameters in the command line's order). */
#define SPSTREAM_OK 0
#define SPSTREAM_BAD_RATE 1
#define SPSTREAM_BAD_CHANNELS 2
#define SPSTREAM_BAD_MODE 3
#define SPSTREAM_BAD_LIMIT 4
#define SPSTREAM_BAD_ADAPTATION 5
#define SPSTREAM_BAD_SMOOTHING 6
#define SPSTREAM_BAD_DELIVERY 7

/* Parameters SpectStream_Range describes. */
#define SPSTREAM_PARAM_RATE 0
#define SPSTREAM_PARAM_CHANNELS 1
#define SPSTREAM_PARAM_MODE 2
#define SPSTREAM_PARAM_LIMIT 3
#define SPSTREAM_PARAM_ADAPTATION 4
#define SPSTREAM_PARAM_SMOOTHING 5

/* A parameter's accepted values: minimum <= v <= maximum, or v < maximum
   when maximum_excluded; low .. high is the span a control offers, and
   fallback the default (0 for the rate, which has none). Doubles first, so
   that the layout is the same in every ABI. */
typedef struct TSpectRange {
    double minimum, maximum;
    double low, high;
    double fallback;
    int maximum_excluded;
} TSpectRange;

typedef struct TSpectStream {
    TSpectSubtract ns;     /* the suppressor; hosts may read stateVad, lenHalf */
    int32 delivery;        /* SPSTREAM_FIXED_DELAY, SPSTREAM_ALIGNED or SPSTREAM_BLOCKS */
    uint32 gathered;       /* input samples waiting in `block` */
    uint32 queued;         /* cleaned samples waiting in `fifo`, from fifo_head */
    uint32 fifo_head;
    uint32 skip;           /* leading cleaned samples still to drop */
    uint32 flushing;       /* nonzero once Flush has ended the stream */
    int16 block[SPSTREAM_MAX_BLOCK];
    int16 fifo[2 * SPSTREAM_MAX_BLOCK];
} TSpectStream;

/* Describes parameter `param` (SPSTREAM_PARAM_*) in *range and returns its
   name ("rate", "channels", "mode", "limit_db", "adaptation",
   "smoothing"); NULL, leaving *range alone, past the last. */
TARNWELNC_API const char *SpectStream_Range(int param, TSpectRange *range);
/* The checks every front end makes: SPSTREAM_OK, or the status of the
   first value outside its range (NaN is outside every range). */
TARNWELNC_API int SpectStream_CheckFormat(uint32 SampleRate, uint32 channels);
TARNWELNC_API int SpectStream_CheckParameters(int kind_subst, mfloat pSdb, mfloat pNn, mfloat pMn);
/* One line in English saying what a status means ("mode must be 0, 1, 2
   or 3"); "unknown status" for codes not listed above. */
TARNWELNC_API const char *SpectStream_Message(int status);
/* The name of a delivery mode ("fixed", "aligned", "blocks"), NULL for
   other values. */
TARNWELNC_API const char *SpectStream_DeliveryName(int delivery);

/* Starts a stream: SpectSubtract_Init with the same meaning of the
   parameters. Returns SPSTREAM_OK, or the status of what is wrong (the
   sampling rate, a parameter, the delivery mode) without touching the
   record. kind_subst is taken as an int, so no wider value wraps into
   range. */
TARNWELNC_API int SpectStream_Open(TSpectStream *s, uint32 SampleRate, int kind_subst, mfloat pSdb,
                                   mfloat pNn, mfloat pMn, int delivery);
/* SpectStream_Open answering 1 for SPSTREAM_OK and 0 otherwise. */
TARNWELNC_API int SpectStream_Init(TSpectStream *s, uint32 SampleRate, int8 kind_subst,
                                   mfloat pSdb, mfloat pNn, mfloat pMn, int delivery);
/* Replaces the four parameters from the next block on, keeping the noise
   estimate (SpectSubtract_Reset). Returns SPSTREAM_OK, or the status of
   the first value Open would refuse, changing nothing. */
TARNWELNC_API int SpectStream_Retune(TSpectStream *s, int kind_subst, mfloat pSdb, mfloat pNn,
                                     mfloat pMn);
/* SpectStream_Retune answering 1 for SPSTREAM_OK and 0 otherwise. */
TARNWELNC_API int SpectStream_Reset(TSpectStream *s, int8 kind_subst, mfloat pSdb, mfloat pNn,
                                    mfloat pMn);

/* Samples per block, and the delay of SPSTREAM_FIXED_DELAY in samples. */
TARNWELNC_API uint32 SpectStream_Block(const TSpectStream *s);
TARNWELNC_API uint32 SpectStream_Latency(const TSpectStream *s);
/* Speech flag (0 or 1) of the last block processed; 0 before the first. */
TARNWELNC_API int SpectStream_Speech(const TSpectStream *s);
/* Samples Process takes before the next block is cleaned: from lenHalf
   (at a block end, where Speech is that block's flag) down to 1; 0 once
   Flush has ended the stream. Hosts that read every block's speech flag
   cut their input here. */
TARNWELNC_API uint32 SpectStream_ToBlockEnd(const TSpectStream *s);

/* Takes n samples and writes the cleaned samples that became ready to out,
   returning their count: exactly n with SPSTREAM_FIXED_DELAY (out may then
   be in itself), at most n + lenHalf - 1 with the other modes (out must
   not overlap in). After Flush, takes nothing and returns 0. */
TARNWELNC_API uint32 SpectStream_Process16(TSpectStream *s, const int16 *in, uint32 n,
                                           int16 *out);
TARNWELNC_API uint32 SpectStream_ProcessFloat(TSpectStream *s, const float *in, uint32 n,
                                              float *out);

/* Ends the stream: completes the last block with silence and writes every
   cleaned sample still owed (at most 2 lenHalf; with SPSTREAM_FIXED_DELAY
   exactly latency of them; with SPSTREAM_BLOCKS none), returning the
   count. Later calls return 0; Init starts a new stream. */
TARNWELNC_API uint32 SpectStream_Flush16(TSpectStream *s, int16 *out);
TARNWELNC_API uint32 SpectStream_FlushFloat(TSpectStream *s, float *out);

/* The sample conversions named above. */
TARNWELNC_API int16 SpectStream_FromFloat(float x);
TARNWELNC_API float SpectStream_ToFloat(int16 v);

#ifdef __cplusplus
}
#endif

#endif
