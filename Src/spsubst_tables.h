/* Constant tables of the suppressor, computed by the compiler from the
   rules in table_rules.h. Internal to the core. */
#ifndef SPSUBST_TABLES_H
#define SPSUBST_TABLES_H

#include "geometry.h"

/* Periodic Hann windows 0.5 - 0.5 cos(2 pi i / N), one for each frame
   length of the rate table (geometry.h), stored one after another. */
struct SpsubstTables {
    float win[nr_geometry::kWindowEntries];
};
extern const SpsubstTables nr_spsubst_tables;

static const float *const winTable32f = nr_spsubst_tables.win;

#endif
