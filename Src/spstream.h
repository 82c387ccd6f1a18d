/* Any-length streaming around one suppressor record, for hosts whose
   buffers are not whole blocks: audio plugins, language bindings.

   A TSpectStream gathers the samples it is given into whole blocks of
   lenHalf samples, runs SpectSubtract_Frame and SpectSubtract_Restore on
   each, and hands the cleaned samples back in one of two ways, chosen at
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

   Float samples use the scale +-1.0 <-> +-32768: a float is multiplied by
   32768, rounded to the nearest integer (ties to even) and saturated to
   [-32768, 32767]; NaN and infinities become 0 (silence), so they never
   reach the suppressor's state. 16-bit samples pass unchanged. A float
   that holds k / 32768 for an integer k is therefore taken exactly, and
   subnormal floats cost no more than others.

   The record owns no memory and allocates nothing; it may be copied. One
   record is used by one thread at a time; records are independent. Every
   function runs in the IEEE default floating-point environment whatever
   the caller (a plugin host with flush-to-zero on, say) has set, and hands
   the caller's environment back unchanged (spsubst.h). */
#ifndef SPSTREAM_H
#define SPSTREAM_H

#include "spsubst.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sampling rates, in Hz, that stream records accept. The suppressor itself
   takes any rate; outside this range its frames stop making acoustic sense. */
#define SPSTREAM_MIN_RATE 6000
#define SPSTREAM_MAX_RATE 192000

#define SPSTREAM_FIXED_DELAY 0
#define SPSTREAM_ALIGNED 1

#define SPSTREAM_MAX_BLOCK (SPSUBST_MAX_FRAME / 2)

typedef struct TSpectStream {
    TSpectSubtract ns;     /* the suppressor; hosts may read stateVad, lenHalf */
    int32 delivery;        /* SPSTREAM_FIXED_DELAY or SPSTREAM_ALIGNED */
    uint32 gathered;       /* input samples waiting in `block` */
    uint32 queued;         /* cleaned samples waiting in `fifo`, from fifo_head */
    uint32 fifo_head;
    uint32 skip;           /* leading cleaned samples still to drop */
    uint32 flushing;       /* nonzero once Flush has ended the stream */
    int16 block[SPSTREAM_MAX_BLOCK];
    int16 fifo[2 * SPSTREAM_MAX_BLOCK];
} TSpectStream;

/* Starts a stream: SpectSubtract_Init with the same meaning of the
   parameters (kind_subst 0 .. 3, pSdb <= 0 dB, pNn and pMn in [0.8, 1)).
   Returns 1, or 0 without touching the record when a value is outside
   those ranges (NaN included), the rate is outside [SPSTREAM_MIN_RATE,
   SPSTREAM_MAX_RATE] or delivery is neither of the two modes. */
TARNWELNC_API int SpectStream_Init(TSpectStream *s, uint32 SampleRate, int8 kind_subst,
                                   mfloat pSdb, mfloat pNn, mfloat pMn, int delivery);
/* Replaces the four parameters from the next block on, keeping the noise
   estimate (SpectSubtract_Reset). Returns 0 and changes nothing for values
   Init would refuse. */
TARNWELNC_API int SpectStream_Reset(TSpectStream *s, int8 kind_subst, mfloat pSdb, mfloat pNn,
                                    mfloat pMn);

/* Samples per block, and the delay of SPSTREAM_FIXED_DELAY in samples. */
TARNWELNC_API uint32 SpectStream_Block(const TSpectStream *s);
TARNWELNC_API uint32 SpectStream_Latency(const TSpectStream *s);
/* Speech flag (0 or 1) of the last block processed; 0 before the first. */
TARNWELNC_API int SpectStream_Speech(const TSpectStream *s);

/* Takes n samples and writes the cleaned samples that became ready to out,
   returning their count: exactly n with SPSTREAM_FIXED_DELAY (out may then
   be in itself), at most n + lenHalf - 1 with SPSTREAM_ALIGNED (out must
   not overlap in). After Flush, takes nothing and returns 0. */
TARNWELNC_API uint32 SpectStream_Process16(TSpectStream *s, const int16 *in, uint32 n,
                                           int16 *out);
TARNWELNC_API uint32 SpectStream_ProcessFloat(TSpectStream *s, const float *in, uint32 n,
                                              float *out);

/* Ends the stream: completes the last block with silence and writes every
   cleaned sample still owed (at most 2 lenHalf; with SPSTREAM_FIXED_DELAY
   exactly latency of them), returning the count. Later calls return 0;
   Init starts a new stream. */
TARNWELNC_API uint32 SpectStream_Flush16(TSpectStream *s, int16 *out);
TARNWELNC_API uint32 SpectStream_FlushFloat(TSpectStream *s, float *out);

/* The sample conversions named above. */
TARNWELNC_API int16 SpectStream_FromFloat(float x);
TARNWELNC_API float SpectStream_ToFloat(int16 v);

#ifdef __cplusplus
}
#endif

#endif
