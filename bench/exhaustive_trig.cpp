// Checks the transcendental functions of the core on every one of the 2^32
// float inputs. Run by hand (see bench/run.sh); ctest runs a sparse sweep.
//
//   exhaustive_trig [threads] [--digests FILE]
//     Every kernel table this processor runs: each arctangent, cosine and
//     sine must have exactly the bits of the C library's double function
//     rounded to float (about nine minutes per table on two cores). Then the
//     fallbacks (fallback.cpp), which compute those and the exponential
//     without the C library: against the C library too, and how close each
//     result comes to a point where its double rounding would flip (none
//     may come within the evaluation's error, 2^-100); about half an hour
//     on two cores. FILE receives the digests below.
//
//   exhaustive_trig --digest FIRST END
//     One thread, inputs with bit patterns FIRST .. END-1 (multiples of
//     2^24): a line per 2^24 inputs with digests of the results of the
//     table in use and of the fallbacks' unrounded values. A build for
//     another machine (WebAssembly under node: bench/exhaustive_wasm.sh)
//     computes the same bits where it prints the same lines.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kernels/kernels.h"

namespace {

uint32_t bits_of(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

float float_of(uint32_t b) {
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

// The same bits, or NaN in both: no sign or payload of a NaN is promised.
bool same(float a, float b) { return bits_of(a) == bits_of(b) || (a != a && b != b); }

struct Digest {
    uint64_t h = 1469598103934665603ull;  // FNV-1a, word by word
    void add(uint64_t word) {
        h ^= word;
        h *= 1099511628211ull;
    }
    void add(float v) { add(uint64_t(v != v ? 0x7fc00000u : bits_of(v))); }
    void add(double v) {
        uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        add(b);
    }
};

// Digests of each 2^24 inputs: the arctangent, cosine and sine of the table
// in use, and the fallbacks' unrounded values of the four functions.
const int kBlocks = 256;
Digest g_table[kBlocks], g_parts[kBlocks];

// Splits [0, 2^32) among threads; each runs body(first, end, index).
template <class Body>
double on_threads(unsigned threads, Body body) {
    const uint64_t total = uint64_t(1) << 32, share = total / threads;
    const auto start = std::chrono::steady_clock::now();
    if (threads == 1) {
        body(0, total, 0u);
    } else {
        std::vector<std::thread> pool;
        for (unsigned k = 0; k < threads; ++k) {
            const uint64_t end = k + 1 == threads ? total : (k + 1) * share;
            pool.emplace_back(body, k * share, end, k);
        }
        for (std::thread &th : pool) th.join();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ------------------------------------------------- kernels vs C library

struct Tally {
    uint64_t values = 0, mismatches = 0, atan_redone = 0, sincos_redone = 0;
};

void check_range(const NrKernels *K, uint64_t first, uint64_t end, Tally *t) {
    const uint32 block = 4096;
    std::vector<float> x(block), y(block), c(block), s(block);
    for (uint64_t base = first; base < end; base += block) {
        const uint32 n = static_cast<uint32>(std::min<uint64_t>(block, end - base));
        for (uint32 i = 0; i < n; ++i) x[i] = float_of(static_cast<uint32_t>(base + i));
        t->atan_redone += K->atan_array(x.data(), y.data(), n);
        t->sincos_redone += K->sincos_array(x.data(), c.data(), s.data(), n);
        Digest *digest = K == Nr_Kernels() ? &g_table[base >> 24] : nullptr;
        for (uint32 i = 0; i < n; ++i) {
            if (digest) {
                digest->add(y[i]);
                digest->add(c[i]);
                digest->add(s[i]);
            }
            const double d = x[i];
            const bool ok = bits_of(y[i]) == bits_of(static_cast<float>(std::atan(d))) &&
                            bits_of(c[i]) == bits_of(static_cast<float>(std::cos(d))) &&
                            bits_of(s[i]) == bits_of(static_cast<float>(std::sin(d)));
            if (!ok) {
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
    std::vector<Tally> tallies(threads);
    const double secs = on_threads(threads, [&](uint64_t first, uint64_t end, unsigned k) {
        check_range(K, first, end, &tallies[k]);
    });
    Tally sum;
    for (const Tally &t : tallies) {
        sum.values += t.values;
        sum.mismatches += t.mismatches;
        sum.atan_redone += t.atan_redone;
        sum.sincos_redone += t.sincos_redone;
    }
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

// ------------------------------------------------ fallbacks vs C library

const char *const kNames[4] = {"atan", "cos", "sin", "exp"};
// Relative errors at which undecided results are counted; the first is
// the evaluation's bound, the others show the margin.
const int kMarginExponents[4] = {100, 90, 80, 70};

struct FallbackTally {
    uint64_t mismatches[4] = {}, undecided[4][4] = {};
};

double c_library(int f, double d) {
    switch (f) {
        case 0: return std::atan(d);
        case 1: return std::cos(d);
        case 2: return std::sin(d);
        default: return std::exp(d);
    }
}

// Where hi + lo (hi the sum rounded to double) is off by at most |hi| eps,
// whether rounding to double and then to float can give two results.
bool undecided(double hi, double lo, double eps) {
    const double err = std::fabs(hi) * eps;
    return static_cast<float>(hi + (lo - err)) != static_cast<float>(hi + (lo + err));
}

void check_fallback_range(uint64_t first, uint64_t end, FallbackTally *t) {
    for (uint64_t b = first; b < end; ++b) {
        const float x = float_of(static_cast<uint32_t>(b));
        float got[4];
        double parts[8];
        Nr_FallbackParts(x, parts);
        for (double v : parts) g_parts[b >> 24].add(v);
        const bool special = x != x || x - x != 0.0f || x == 0.0f;
        // The functions round the parts; they are called for the inputs they
        // handle apart, and for a sample of the others.
        if (special || b % 97 == 0) {
            got[0] = Nr_AtanFallback(x);
            Nr_SinCosFallback(x, &got[1], &got[2]);
            got[3] = Nr_Exp(x);
        }
        for (int f = 0; f < 4; ++f) {
            const bool evaluated = parts[2 * f] != 0.0;
            if (evaluated) {
                const float rounded = static_cast<float>(parts[2 * f]);
                if ((special || b % 97 == 0) && !same(got[f], rounded)) {
                    std::printf("%s(%a): the function gives %a, its parts %a\n", kNames[f],
                                static_cast<double>(x), static_cast<double>(got[f]),
                                static_cast<double>(rounded));
                    ++t->mismatches[f];
                }
                got[f] = rounded;
                for (int m = 0; m < 4; ++m)
                    t->undecided[f][m] += undecided(parts[2 * f], parts[2 * f + 1],
                                                    std::ldexp(1.0, -kMarginExponents[m]));
            }
            const float want = static_cast<float>(c_library(f, x));
            if (!same(got[f], want)) {
                if (t->mismatches[f] < 20)
                    std::printf("%s(%a) [bits %08x]: %a here, %a from the C library\n", kNames[f],
                                static_cast<double>(x), static_cast<uint32_t>(b),
                                static_cast<double>(got[f]), static_cast<double>(want));
                ++t->mismatches[f];
            }
        }
    }
}

uint64_t check_fallbacks(unsigned threads) {
    std::vector<FallbackTally> tallies(threads);
    const double secs = on_threads(threads, [&](uint64_t first, uint64_t end, unsigned k) {
        check_fallback_range(first, end, &tallies[k]);
    });
    uint64_t bad = 0;
    for (int f = 0; f < 4; ++f) {
        uint64_t mismatches = 0, undecided[4] = {};
        for (const FallbackTally &t : tallies) {
            mismatches += t.mismatches[f];
            for (int m = 0; m < 4; ++m) undecided[m] += t.undecided[f][m];
        }
        std::printf("fallback %s: %llu mismatches with the C library; undecided at 2^-%d: %llu "
                    "(at 2^-%d: %llu, 2^-%d: %llu, 2^-%d: %llu)\n",
                    kNames[f], static_cast<unsigned long long>(mismatches), kMarginExponents[0],
                    static_cast<unsigned long long>(undecided[0]), kMarginExponents[1],
                    static_cast<unsigned long long>(undecided[1]), kMarginExponents[2],
                    static_cast<unsigned long long>(undecided[2]), kMarginExponents[3],
                    static_cast<unsigned long long>(undecided[3]));
        bad += mismatches + undecided[0];
    }
    std::printf("fallbacks: %.0f s on %u threads\n", secs, threads);
    return bad;
}

// ------------------------------------------------------------ digests

void print_digest_line(FILE *out, uint64_t block) {
    std::fprintf(out, "%08llx %s %016llx fallbacks %016llx\n",
                 static_cast<unsigned long long>(block << 24), Nr_Kernels()->name,
                 static_cast<unsigned long long>(g_table[block].h),
                 static_cast<unsigned long long>(g_parts[block].h));
}

void digest_range(uint64_t first, uint64_t end) {
    const NrKernels *K = Nr_Kernels();
    const uint32 block = 4096;
    std::vector<float> x(block), y(block), c(block), s(block);
    double parts[8];
    for (uint64_t base = first; base < end; base += block) {
        const uint32 n = static_cast<uint32>(std::min<uint64_t>(block, end - base));
        for (uint32 i = 0; i < n; ++i) x[i] = float_of(static_cast<uint32_t>(base + i));
        K->atan_array(x.data(), y.data(), n);
        K->sincos_array(x.data(), c.data(), s.data(), n);
        Digest &table = g_table[base >> 24], &fallbacks = g_parts[base >> 24];
        for (uint32 i = 0; i < n; ++i) {
            table.add(y[i]);
            table.add(c[i]);
            table.add(s[i]);
            Nr_FallbackParts(x[i], parts);
            for (double v : parts) fallbacks.add(v);
        }
        if ((base + n) % (uint64_t(1) << 24) == 0) {
            print_digest_line(stdout, base >> 24);
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::string(argv[1]) == "--digest") {
        digest_range(std::strtoull(argv[2], nullptr, 0), std::strtoull(argv[3], nullptr, 0));
        return 0;
    }
    unsigned threads = 2;
    const char *digests = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--digests" && i + 1 < argc)
            digests = argv[++i];
        else
            threads = static_cast<unsigned>(std::max(1, std::atoi(argv[i])));
    }
    const NrKernels *tables[4];
    const uint32 count = Nr_AvailableKernels(tables);
    uint64_t bad = 0;
    for (uint32 t = 0; t < count; ++t) bad += check_table(tables[t], threads);
    bad += check_fallbacks(threads);
    if (digests) {
        // Each thread's share must be whole digest blocks.
        FILE *out = kBlocks % threads == 0 ? std::fopen(digests, "w") : nullptr;
        if (!out) {
            std::fprintf(stderr, "digests not written to %s\n", digests);
            return 1;
        }
        for (uint64_t block = 0; block < kBlocks; ++block) print_digest_line(out, block);
        std::fclose(out);
    }
    return bad == 0 ? 0 : 1;
}
