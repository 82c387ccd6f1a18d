/* Constant tables of the suppressor, generated at build time. */
#ifndef SPSUBST_TABLES_H
#define SPSUBST_TABLES_H

#ifdef __cplusplus
extern "C" {
#endif

/* Periodic Hann windows 0.5 - 0.5 cos(2 pi i / N) for the frame lengths
   180, 240, 380, 600, 960 and 2048, stored one after another. */
#define SPSUBST_WIN_ENTRIES 4408
extern const float winTable32f[SPSUBST_WIN_ENTRIES];

#ifdef __cplusplus
}
#endif

#endif
