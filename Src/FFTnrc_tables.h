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

/* Bit-reversal partners: entry k of a segment is 2 r(k) when the reversed
   index r(k) > k, else 0, so that each pair is exchanged once
   (128 + 256 + 512 + 1024 entries). */
#define FFTNRC_SWAP_ENTRIES 1920
extern const unsigned short m_adwSwapTab[FFTNRC_SWAP_ENTRIES];

#ifdef __cplusplus
}
#endif

#endif
