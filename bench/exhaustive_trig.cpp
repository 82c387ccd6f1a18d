// Checks the arctangent, cosine and sine kernels of the spectrum conversions
// on every one of the 2^32 float inputs, for every kernel table this
// processor runs: each result must have exactly the bits of the C library's
// double function rounded to float. Run by hand (a few minutes per table on
// two cores); ctest runs a sparse sweep of the same comparison.
//
//   exhaustive_trig [threads]
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "kernels/kernels.h"

namespace {

struct Tally {
    uint64_t values = 0, mismatches = 0, atan_redone = 0, sincos_redone = 0;
};

uint32_t bits_of(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

void check_range(const NrKernels *K, uint64_t first, uint64_t end, Tally *t) {
    const uint32 block = 4096;
    std::vector<float> x(block), y(block), c(block), s(block);
    for (uint64_t base = first; base < end; base += block) {
        const uint32 n = static_cast<uint32>(std::min<uint64_t>(block, end - base));
        for (uint32 i = 0; i < n; ++i) {
            const uint32_t b = static_cast<uint32_t>(base + i);
            std::memcpy(&x[i], &b, sizeof b);
        }
        t->atan_redone += K->atan(x.data(), y.data(), n);
        t->sincos_redone += K->sincos(x.data(), c.data(), s.data(), n);
        for (uint32 i = 0; i < n; ++i) {
            const double d = x[i];
            const bool same = bits_of(y[i]) == bits_of(static_cast<float>(std::atan(d))) &&
                              bits_of(c[i]) == bits_of(static_cast<float>(std::cos(d))) &&
                              bits_of(s[i]) == bits_of(static_cast<float>(std::sin(d)));
            if (!same) {
                if (t->mismatches < 10)
                    std::printf("mismatch at %a (bits %08x)\n", d, bits_of(x[i]));
                ++t->mismatches;
            }
        }
        t->values += n;
    }
}

// All inputs through one table; returns its mismatches.
uint64_t check_table(const NrKernels *K, unsigned threads) {
    const uint64_t total = uint64_t(1) << 32, share = total / threads;
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> pool;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned k = 0; k < threads; ++k) {
        const uint64_t end = k + 1 == threads ? total : (k + 1) * share;
        pool.emplace_back(check_range, K, k * share, end, &tallies[k]);
    }
    for (std::thread &th : pool) th.join();
    Tally sum;
    for (const Tally &t : tallies) {
        sum.values += t.values;
        sum.mismatches += t.mismatches;
        sum.atan_redone += t.atan_redone;
        sum.sincos_redone += t.sincos_redone;
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %llu inputs, %llu mismatches, %.0f s on %u threads\n", K->name,
                static_cast<unsigned long long>(sum.values),
                static_cast<unsigned long long>(sum.mismatches), secs, threads);
    std::printf(
        "%s: left to the fallback: atan %llu, cos/sin %llu (this includes every |x| > 8, NaN "
        "and infinity)\n",
        K->name, static_cast<unsigned long long>(sum.atan_redone),
        static_cast<unsigned long long>(sum.sincos_redone));
    return sum.mismatches;
}

}  // namespace

int main(int argc, char **argv) {
    const unsigned threads = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 2;
    const NrKernels *tables[4];
    const uint32 count = Nr_AvailableKernels(tables);
    uint64_t mismatches = 0;
    for (uint32 t = 0; t < count; ++t) mismatches += check_table(tables[t], threads);
    return mismatches == 0 ? 0 : 1;
}
