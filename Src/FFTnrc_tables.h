/* Constant tables of the real FFT, generated at build time. */
#ifndef FFTNRC_TABLES_H
#define FFTNRC_TABLES_H

#ifdef __cplusplus
extern "C" {
#endif

/* Quarter-wave cosines cos(2 pi k / N), k = 0 .. N/4, one segment per size
   256, 512, 1024, 2048 (65 + 129 + 257 + 513 entries); each segment ends
   in exactly 0. */
#define FFTNRC_COS_ENTRIES 964
extern const float m_arCosTable32f[FFTNRC_COS_ENTRIES];

/* Twiddles of the radix-2 stages with spans of 8 points and more, for
   butterflies taken four at a time: per size (256 .. 2048) and per stage
   (span 8, 16, .., N/4 points), for each point j of the span, (wr, wr) in
   the first array and (wi, -wi) in the second, with wr and wi read from the
   size's cosine segment exactly as the one-at-a-time stages read them. A
   size's stages take N - 16 entries, the stage of span s starting at entry
   2 s - 16 of its size. */
#define FFTNRC_STAGE_ENTRIES ((256 - 16) + (512 - 16) + (1024 - 16) + (2048 - 16))
extern const float m_arStageCos32f[FFTNRC_STAGE_ENTRIES];
extern const float m_arStageSin32f[FFTNRC_STAGE_ENTRIES];

/* Bit-reversal partners: entry k of a segment is 2 r(k) when the reversed
   index r(k) > k, else 0, so that each pair is exchanged once
   (128 + 256 + 512 + 1024 entries). */
#define FFTNRC_SWAP_ENTRIES 1920
extern const unsigned short m_adwSwapTab[FFTNRC_SWAP_ENTRIES];

#ifdef __cplusplus
}
#endif

#endif
