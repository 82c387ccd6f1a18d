// Per-frame pieces of the suppressor: the FFT sizes, the spectrum
// conversions, SpectSubtract_Frame, SpectSubtract_Restore and one full block
// per frame geometry, on noise and on digital silence.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "FFTnrc.h"
#include "spsubst.h"

namespace {

// Deterministic noise with a tone, as 16-bit samples.
std::vector<int16> test_signal(size_t n, uint32 rate) {
    std::vector<int16> s(n);
    uint32_t x = 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        const double noise = static_cast<double>(static_cast<int32_t>(x)) / 2147483648.0 * 1500.0;
        s[i] = static_cast<int16>(noise + 3000.0 * std::sin(2.0 * M_PI * 440.0 * i / rate));
    }
    return s;
}

std::vector<float> test_frame(uint32 n) {
    std::vector<float> p(n);
    const std::vector<int16> s = test_signal(n, 16000);
    for (uint32 i = 0; i < n; ++i) p[i] = s[i];
    return p;
}

void BM_FftForward(benchmark::State &state) {
    const uint32 n = static_cast<uint32>(state.range(0));
    TFFTnRC f;
    FFTnRC_Init(&f, n);
    const std::vector<float> x = test_frame(n);
    std::vector<float> p(n);
    for (auto _ : state) {
        p = x;
        FFTnRC_fft(&f, p.data(), 1);
        benchmark::DoNotOptimize(p.data());
    }
}

void BM_FftInverse(benchmark::State &state) {
    const uint32 n = static_cast<uint32>(state.range(0));
    TFFTnRC f;
    FFTnRC_Init(&f, n);
    std::vector<float> x = test_frame(n);
    FFTnRC_fft(&f, x.data(), 1);
    std::vector<float> p(n);
    for (auto _ : state) {
        p = x;
        FFTnRC_fft(&f, p.data(), -1);
        benchmark::DoNotOptimize(p.data());
    }
}

// A spectrum of the test frame in both forms, packed and polar.
struct Spectrum {
    TFFTnRC f;
    std::vector<float> p, R, F;
    explicit Spectrum(uint32 n) : p(test_frame(n)), R(n / 2 + 1), F(n / 2 + 1) {
        FFTnRC_Init(&f, n);
        FFTnRC_fft(&f, p.data(), 1);
        FFTnRC_fftbuf2RF(&f, p.data(), R.data(), F.data());
    }
};

void BM_SpectrumToPolar(benchmark::State &state) {
    Spectrum s(static_cast<uint32>(state.range(0)));
    for (auto _ : state) {
        FFTnRC_fftbuf2RF(&s.f, s.p.data(), s.R.data(), s.F.data());
        benchmark::DoNotOptimize(s.F.data());
    }
}

void BM_PolarToSpectrum(benchmark::State &state) {
    Spectrum s(static_cast<uint32>(state.range(0)));
    for (auto _ : state) {
        FFTnRC_RF2fftbuf(&s.f, s.R.data(), s.F.data(), s.p.data());
        benchmark::DoNotOptimize(s.p.data());
    }
}

// A suppressor that has run for a while on the signal (or on silence), and
// the blocks that keep feeding it.
struct Stream {
    static TSpectSubtract ns;
    std::vector<int16> samples;
    size_t at = 0;

    Stream(uint32 rate, bool silent) {
        SpectSubtract_Init(&ns, rate, 2, -20.0f, 0.95f, 0.98f);
        samples = silent ? std::vector<int16>(rate * 4, 0) : test_signal(rate * 4, rate);
        std::vector<int16> out(ns.lenHalf);
        for (int i = 0; i < 400; ++i) {
            SpectSubtract_Frame(&ns, 1, next());
            SpectSubtract_Restore(&ns, out.data());
        }
    }
    const int16 *next() {
        if (at + ns.lenHalf > samples.size()) at = 0;
        const int16 *b = samples.data() + at;
        at += ns.lenHalf;
        return b;
    }
};
TSpectSubtract Stream::ns;

void BM_Frame(benchmark::State &state) {
    Stream s(static_cast<uint32>(state.range(0)), false);
    for (auto _ : state) SpectSubtract_Frame(&Stream::ns, 1, s.next());
}

void BM_Restore(benchmark::State &state) {
    Stream s(static_cast<uint32>(state.range(0)), false);
    std::vector<int16> out(Stream::ns.lenHalf);
    SpectSubtract_Frame(&Stream::ns, 1, s.next());
    for (auto _ : state) {
        // Restore only reads the spectrum Frame left, so it can repeat.
        SpectSubtract_Restore(&Stream::ns, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

// One block through the whole suppressor; range(1) = 1 for silence.
void BM_Block(benchmark::State &state) {
    Stream s(static_cast<uint32>(state.range(0)), state.range(1) != 0);
    std::vector<int16> out(Stream::ns.lenHalf);
    for (auto _ : state) {
        SpectSubtract_Frame(&Stream::ns, 1, s.next());
        SpectSubtract_Restore(&Stream::ns, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Stream::ns.lenHalf));
}

#if defined(__x86_64__)
// BM_Block with the caller's flush-to-zero and denormals-are-zero on, as
// audio hosts set them: each call then saves the caller's MXCSR, sets the
// defaults and puts the caller's back. Against BM_Block/silent:0, the cost of
// that switch per block.
void BM_BlockCallerFlushToZero(benchmark::State &state) {
    Stream s(static_cast<uint32>(state.range(0)), false);
    std::vector<int16> out(Stream::ns.lenHalf);
    const unsigned caller = _mm_getcsr();
    _mm_setcsr(caller | 0x8040u);
    for (auto _ : state) {
        SpectSubtract_Frame(&Stream::ns, 1, s.next());
        SpectSubtract_Restore(&Stream::ns, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    _mm_setcsr(caller);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(Stream::ns.lenHalf));
}
#endif

// One rate per frame geometry.
void Rates(benchmark::internal::Benchmark *b) {
    for (int rate : {6000, 8000, 16000, 22050, 32000, 44100}) b->Arg(rate);
}

void RatesNoiseAndSilence(benchmark::internal::Benchmark *b) {
    for (int rate : {6000, 8000, 16000, 22050, 32000, 44100})
        for (int silent : {0, 1}) b->Args({rate, silent});
}

BENCHMARK(BM_FftForward)->RangeMultiplier(2)->Range(256, 2048);
BENCHMARK(BM_FftInverse)->RangeMultiplier(2)->Range(256, 2048);
BENCHMARK(BM_SpectrumToPolar)->RangeMultiplier(2)->Range(512, 2048);
BENCHMARK(BM_PolarToSpectrum)->RangeMultiplier(2)->Range(512, 2048);
BENCHMARK(BM_Frame)->Apply(Rates);
BENCHMARK(BM_Restore)->Apply(Rates);
BENCHMARK(BM_Block)->Apply(RatesNoiseAndSilence)->ArgNames({"rate", "silent"});
#if defined(__x86_64__)
BENCHMARK(BM_BlockCallerFlushToZero)->Apply(Rates);
#endif

}  // namespace

BENCHMARK_MAIN();
