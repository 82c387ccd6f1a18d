/* Cleans a long recording on two threads with the same output, bit for bit,
   as the block loop on one: for programs that hold a whole file or array
   (the command-line tool, the Python package's denoise), not for real-time
   hosts, which use the stream layer (spstream.h).

   The samples come from a read callback and go to a write callback, both
   called on the thread that runs Cleaner_Run, in order, so a host reads
   and writes its files there and needs no lock. Between them the samples
   travel in batches of whole blocks, about four seconds each, through a
   ring of three: while one batch is read or written, the others are
   cleaned. Several channels: channels are independent, so each of the two
   threads cleans every other channel. One channel: the analysis of a
   block (window, transform, magnitudes and phases) depends on the input
   alone, so it is shared out in chunks to whichever thread is free, while
   the two serial chains, the noise estimator and the synthesis, keep a
   thread each; the synthesis takes nothing from the estimator but the
   block's magnitudes and phases, which travel with the batch.

   Delivery, as the stream layer names it:
   - SPSTREAM_BLOCKS: the block loop. Every complete block of the input
     gives one cleaned block, the one before it (the first is the cleaned
     silence before the recording); an incomplete last block is dropped.
   - SPSTREAM_ALIGNED: output sample i is the cleaned input sample i, and
     the output is exactly as long as the input; the last partial block is
     completed with silence.

   Memory: a few batches and one suppressor record per channel (four for
   one channel), allocated by Cleaner_New. Samples are 16-bit, interleaved,
   channel 0 first. Interface in C; the implementation uses the C++
   runtime and its threads. */
#ifndef HOST_CLEANER_H
#define HOST_CLEANER_H

#include <stddef.h>

#include "spstream.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Fills frames with up to `count` sample frames and returns how many; fewer
   than count ends the input. Must not throw. */
typedef size_t (*TCleanerRead)(void *context, int16 *frames, size_t count);
/* Takes `count` cleaned sample frames; returns 0 to stop the run (a failed
   write). Must not throw. */
typedef int (*TCleanerWrite)(void *context, const int16 *frames, size_t count);

typedef struct TCleaner TCleaner;

/* Statuses beyond the stream layer's (SPSTREAM_OK, SPSTREAM_BAD_*). */
#define CLEANER_WRITE_FAILED 100
#define CLEANER_NO_MEMORY 101

/* A cleaner for `channels` channels (1 to SPSTREAM_MAX_CHANNELS) at
   SampleRate Hz (any rate, as SpectSubtract_Init takes; front ends that
   keep to the layer's range check it first), with the suppressor's four
   parameters, delivery SPSTREAM_BLOCKS or SPSTREAM_ALIGNED, on `threads`
   threads (1 or 2; 0 for two where the machine has two cores). Returns it,
   or NULL with *status saying why (a parameter, the channels, the delivery
   mode, CLEANER_NO_MEMORY). */
TCleaner *Cleaner_New(uint32 SampleRate, uint32 channels, int kind_subst, mfloat pSdb, mfloat pNn,
                      mfloat pMn, int delivery, unsigned threads, int *status);
/* Samples per block at the cleaner's rate. */
uint32 Cleaner_Block(const TCleaner *c);
/* Cleans everything `read` gives and hands it to `write`. Returns
   SPSTREAM_OK, or CLEANER_WRITE_FAILED when write refused (nothing more is
   read or written then). Each run starts fresh. */
int Cleaner_Run(TCleaner *c, TCleanerRead read, TCleanerWrite write, void *context);
void Cleaner_Free(TCleaner *c);

#ifdef __cplusplus
}
#endif

#endif
