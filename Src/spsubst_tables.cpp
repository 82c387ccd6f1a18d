// The suppressor's analysis windows, computed while the library is built.
#include "exact.h"

#include "spsubst_tables.h"

#include "table_rules.h"

namespace {

constexpr SpsubstTables make_tables() {
    SpsubstTables t{};
    unsigned at = 0;
    for (const nr_geometry::Frame &f : nr_geometry::kFrames)
        for (unsigned i = 0; i < f.len; ++i) t.win[at++] = nr_rules::hann(f.len, i);
    return t;
}

constexpr SpsubstTables kTables = make_tables();

}  // namespace

const SpsubstTables nr_spsubst_tables = kTables;
