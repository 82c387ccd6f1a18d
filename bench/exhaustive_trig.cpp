// Checks the fast arctangent, cosine and sine of the spectrum conversions on
// every one of the 2^32 float inputs: each result must have exactly the bits
// of the C library's double function rounded to float. Run by hand (a few
// minutes on two cores); ctest runs a sparse sweep of the same comparison.
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

#include "FFTnrc_avx2.h"
#include "simd.h"

namespace {

struct Tally {
    uint64_t values = 0, mismatches = 0, atan_redone = 0, sincos_redone = 0;
};

uint32_t bits_of(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

void check_range(uint64_t first, uint64_t end, Tally *t) {
    const uint32 block = 4096;
    std::vector<float> x(block), y(block), c(block), s(block);
    for (uint64_t base = first; base < end; base += block) {
        const uint32 n = static_cast<uint32>(std::min<uint64_t>(block, end - base));
        for (uint32 i = 0; i < n; ++i) {
            const uint32_t b = static_cast<uint32_t>(base + i);
            std::memcpy(&x[i], &b, sizeof b);
        }
        t->atan_redone += FFTnRCAvx2_atan(x.data(), y.data(), n);
        t->sincos_redone += FFTnRCAvx2_sincos(x.data(), c.data(), s.data(), n);
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

}  // namespace

int main(int argc, char **argv) {
    if (!Simd_Avx2()) {
        std::puts("no AVX2 on this processor: the conversions use the C library directly");
        return 0;
    }
    const unsigned threads = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 2;
    const uint64_t total = uint64_t(1) << 32, share = total / threads;
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> pool;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned k = 0; k < threads; ++k) {
        const uint64_t end = k + 1 == threads ? total : (k + 1) * share;
        pool.emplace_back(check_range, k * share, end, &tallies[k]);
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
    std::printf("%llu inputs, %llu mismatches, %.0f s on %u threads\n",
                static_cast<unsigned long long>(sum.values),
                static_cast<unsigned long long>(sum.mismatches), secs, threads);
    std::printf(
        "left to the C library: atan %llu, cos/sin %llu (this includes every |x| > 8, NaN "
        "and infinity)\n",
        static_cast<unsigned long long>(sum.atan_redone),
        static_cast<unsigned long long>(sum.sincos_redone));
    return sum.mismatches == 0 ? 0 : 1;
}
