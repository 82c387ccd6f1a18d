// The FFT's constant tables, computed while the library is built.
#include "exact.h"

#include "FFTnrc_tables.h"

#include "table_rules.h"

namespace {

constexpr FftTables make_tables() {
    FftTables t{};
    unsigned at = 0, stage_at = 0;
    for (unsigned i = 0; i < nr_geometry::kFftCount; ++i) {
        const unsigned n = nr_geometry::fft_size(i);
        for (unsigned k = 0; k <= n / 4; ++k) t.cos[at++] = nr_rules::quarter_cos(n, k);
        // Point j of a stage whose spans hold `span` points turns by
        // index = j N / (2 span).
        for (unsigned span = 8; span < n / 2; span *= 2) {
            for (unsigned j = 0; j < span; ++j) {
                float wr = 0.0f, wi = 0.0f;
                nr_rules::twiddle(n, j * (n / (2 * span)), &wr, &wi);
                t.stage_cos[stage_at] = wr;
                t.stage_cos[stage_at + 1] = wr;
                t.stage_sin[stage_at] = wi;
                t.stage_sin[stage_at + 1] = -wi;
                stage_at += 2;
            }
        }
    }
    return t;
}

constexpr FftTables kTables = make_tables();

}  // namespace

const FftTables nr_fft_tables = kTables;
