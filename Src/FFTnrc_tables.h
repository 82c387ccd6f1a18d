/* Constant tables of the real FFT, computed by the compiler from the rules
   in table_rules.h. Internal to the core. */
#ifndef FFTNRC_TABLES_H
#define FFTNRC_TABLES_H

#include "geometry.h"

/* Per FFT size (geometry.h), one after another:
   - cos: the quarter-wave cosines cos(2 pi k / N), k = 0 .. N/4, ending in
     exactly 0;
   - stage_cos, stage_sin: the twiddles of the radix-2 stages with spans of
     8 points and more, per stage (span 8, 16, .., N/4 points) and for each
     point j of the span, (wr, wr) in the cosine array and (wi, -wi) in the
     sine array, wr and wi read from the size's cosine segment. A size's
     stages take N - 16 entries, the stage of span s starting at entry
     2 s - 16. */
struct FftTables {
    float cos[nr_geometry::kCosEntries];
    float stage_cos[nr_geometry::kStageEntries];
    float stage_sin[nr_geometry::kStageEntries];
};
extern const FftTables nr_fft_tables;

static const float *const m_arCosTable32f = nr_fft_tables.cos;

#endif
