/* Constant tables of the real FFT, computed by the compiler from the rules
   in table_rules.h. Internal to the core. */
#ifndef FFTNRC_TABLES_H
#define FFTNRC_TABLES_H

/* Quarter-wave cosines cos(2 pi k / N), k = 0 .. N/4, one segment per size
   256, 512, 1024, 2048 (65 + 129 + 257 + 513 entries); each segment ends
   in exactly 0. */
#define FFTNRC_COS_ENTRIES 964

/* Twiddles of the radix-2 stages with spans of 8 points and more: per size
   (256 .. 2048) and per stage (span 8, 16, .., N/4 points), for each point
   j of the span, (wr, wr) in the cosine array and (wi, -wi) in the sine
   array, wr and wi read from the size's cosine segment. A size's stages
   take N - 16 entries, the stage of span s starting at entry 2 s - 16. */
#define FFTNRC_STAGE_ENTRIES ((256 - 16) + (512 - 16) + (1024 - 16) + (2048 - 16))

struct FftTables {
    float cos[FFTNRC_COS_ENTRIES];
    float stage_cos[FFTNRC_STAGE_ENTRIES];
    float stage_sin[FFTNRC_STAGE_ENTRIES];
};
extern const FftTables nr_fft_tables;

static const float *const m_arCosTable32f = nr_fft_tables.cos;

#endif
