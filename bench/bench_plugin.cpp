// CPU time of the LADSPA plugin through its real interface (dlopen,
// ladspa_descriptor, run with a host's buffer length) next to the core
// called directly (SpectSubtract_Frame and SpectSubtract_Restore on whole
// blocks), per channel and per second of audio, at 16 and 48 kHz.
//   bench_plugin [--seconds S] [--reps R] [--buffer N] [--module PATH]
#include <dlfcn.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ladspa.h>

#include "spsubst.h"

namespace {

double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Noise with a tone every other half second, on the 16-bit grid.
std::vector<int16> signal(uint32_t rate, uint32_t seconds) {
    std::vector<int16> s(static_cast<size_t>(rate) * seconds);
    uint32_t x = 12345;
    for (size_t i = 0; i < s.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        int v = static_cast<int>(x >> 22) - 512;
        if ((i / (rate / 2)) % 2 == 1) v += (i % 40 < 20) ? 3000 : -3000;
        s[i] = static_cast<int16>(v);
    }
    return s;
}

template <class F> double best_of(int reps, F run) {
    double best = 1e30;
    for (int r = 0; r < reps; ++r) {
        const double t0 = cpu_seconds();
        run();
        const double t = cpu_seconds() - t0;
        if (t < best) best = t;
    }
    return best;
}

double core_direct(const std::vector<int16> &pcm, uint32_t rate, int reps) {
    static TSpectSubtract ns;
    std::vector<int16> block(SPSUBST_MAX_FRAME);
    return best_of(reps, [&] {
        SpectSubtract_Init(&ns, rate, 2, -20.0f, 0.95f, 0.98f);
        const size_t h = ns.lenHalf;
        for (size_t at = 0; at + h <= pcm.size(); at += h) {
            std::memcpy(block.data(), pcm.data() + at, h * sizeof(int16));
            SpectSubtract_Frame(&ns, 1, block.data());
            SpectSubtract_Restore(&ns, block.data());
        }
    });
}

// `subnormal`: the same length of subnormal samples, which the plugin takes
// as silence and must not be slowed down by.
double through_plugin(const LADSPA_Descriptor *d, const std::vector<int16> &pcm, uint32_t rate,
                      unsigned long buffer, int reps, bool subnormal) {
    std::vector<float> in(pcm.size()), out(buffer);
    for (size_t i = 0; i < pcm.size(); ++i) in[i] = subnormal ? pcm[i] * 1e-42f : pcm[i] / 32768.0f;
    float controls[6] = {2.0f, -20.0f, 0.95f, 0.98f, 0.0f, 0.0f};
    return best_of(reps, [&] {
        LADSPA_Handle h = d->instantiate(d, rate);
        if (h == nullptr) std::exit(1);
        for (unsigned long p = 0; p < 6; ++p) d->connect_port(h, p, &controls[p]);
        d->connect_port(h, 7, out.data());
        d->activate(h);
        for (size_t at = 0; at < in.size(); at += buffer) {
            const unsigned long n = in.size() - at < buffer ? in.size() - at : buffer;
            d->connect_port(h, 6, in.data() + at);
            d->run(h, n);
        }
        d->deactivate(h);
        d->cleanup(h);
    });
}

}  // namespace

int main(int argc, char **argv) {
    uint32_t seconds = 60;
    int reps = 5;
    unsigned long buffer = 256;
    std::string module = TNC_PLUGIN_PATH;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--seconds") seconds = static_cast<uint32_t>(std::atoi(argv[i + 1]));
        else if (opt == "--reps") reps = std::atoi(argv[i + 1]);
        else if (opt == "--buffer") buffer = std::strtoul(argv[i + 1], nullptr, 10);
        else if (opt == "--module") module = argv[i + 1];
    }
    if (seconds < 1 || reps < 1 || buffer < 1) {
        std::fprintf(stderr, "usage: bench_plugin [--seconds S] [--reps R] [--buffer N] [--module PATH]\n");
        return 2;
    }
    void *lib = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto descriptor = lib ? reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(lib, "ladspa_descriptor")) : nullptr;
    const LADSPA_Descriptor *mono = descriptor ? descriptor(0) : nullptr;
    if (mono == nullptr) {
        std::fprintf(stderr, "cannot load the mono plugin from %s: %s\n", module.c_str(), dlerror());
        return 1;
    }
    std::printf("CPU time per channel per second of audio (mode 2, %u s, best of %d; plugin buffer %lu)\n",
                seconds, reps, buffer);
    std::printf("| Rate | Core direct | Plugin (LADSPA) | Plugin / core | Plugin, subnormal input |\n"
                "|---|---:|---:|---:|---:|\n");
    for (uint32_t rate : {16000u, 48000u}) {
        const std::vector<int16> pcm = signal(rate, seconds);
        const double core = core_direct(pcm, rate, reps) / seconds;
        const double plugin = through_plugin(mono, pcm, rate, buffer, reps, false) / seconds;
        const double tiny = through_plugin(mono, pcm, rate, buffer, reps, true) / seconds;
        std::printf("| %u Hz | %.3f ms (%.0fx real time) | %.3f ms (%.0fx real time) | %.2f | %.3f ms |\n", rate,
                    core * 1e3, 1.0 / core, plugin * 1e3, 1.0 / plugin, plugin / core, tiny * 1e3);
    }
    return 0;
}
