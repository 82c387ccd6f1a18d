/* Constant tables of the suppressor, computed by the compiler from the
   rules in table_rules.h. Internal to the core. */
#ifndef SPSUBST_TABLES_H
#define SPSUBST_TABLES_H

/* Periodic Hann windows 0.5 - 0.5 cos(2 pi i / N) for the frame lengths
   180, 240, 380, 600, 960 and 2048, stored one after another. */
#define SPSUBST_WIN_ENTRIES 4408

struct SpsubstTables {
    float win[SPSUBST_WIN_ENTRIES];
};
extern const SpsubstTables nr_spsubst_tables;

static const float *const winTable32f = nr_spsubst_tables.win;

#endif
