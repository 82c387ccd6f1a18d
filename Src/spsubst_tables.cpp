// The suppressor's analysis windows, computed while the library is built.
#include "exact.h"

#include "spsubst_tables.h"

#include "table_rules.h"

namespace {

constexpr SpsubstTables make_tables() {
    SpsubstTables t{};
    unsigned at = 0;
    constexpr unsigned kLengths[] = {180, 240, 380, 600, 960, 2048};
    for (unsigned n : kLengths)
        for (unsigned i = 0; i < n; ++i) t.win[at++] = nr_rules::hann(n, i);
    return t;
}

constexpr SpsubstTables kTables = make_tables();

}  // namespace

const SpsubstTables nr_spsubst_tables = kTables;
