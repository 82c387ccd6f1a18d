// The choice of kernels, made once from what the build holds and what the
// processor can run.
#include "../exact.h"

#include "kernels.h"

namespace nr_plain {
extern const NrKernels kKernels;
}
#if NR_HAVE_AVX2
namespace nr_avx2 {
extern const NrKernels kKernels;
}
#endif
#if NR_HAVE_AVX512
namespace nr_avx512 {
extern const NrKernels kKernels;
}
#endif
#if NR_HAVE_NEON
namespace nr_neon {
extern const NrKernels kKernels;
}
#endif
#if NR_HAVE_WASM_SIMD
namespace nr_wasm {
extern const NrKernels kKernels;
}
#endif

namespace {

// The vector table this processor can run, or the plain one.
const NrKernels *best_for_processor() {
#if NR_HAVE_AVX512
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512dq"))
        return &nr_avx512::kKernels;
#endif
#if NR_HAVE_AVX2
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return &nr_avx2::kKernels;
#endif
#if NR_HAVE_NEON
    return &nr_neon::kKernels;
#endif
#if NR_HAVE_WASM_SIMD
    return &nr_wasm::kKernels;
#endif
    return &nr_plain::kKernels;
}

const NrKernels *g_best = nullptr;  // set once; racing threads store the same
const NrKernels *g_forced = nullptr;

const NrKernels *best() {
    const NrKernels *k = __atomic_load_n(&g_best, __ATOMIC_ACQUIRE);
    if (!k) {
        k = best_for_processor();
        __atomic_store_n(&g_best, k, __ATOMIC_RELEASE);
    }
    return k;
}

}  // namespace

extern "C" {

const NrKernels *Nr_Kernels(void) {
    const NrKernels *forced = __atomic_load_n(&g_forced, __ATOMIC_RELAXED);
    return forced ? forced : best();
}

const NrKernels *Nr_ForceKernels(const NrKernels *k) {
    return __atomic_exchange_n(&g_forced, k, __ATOMIC_RELAXED);
}

uint32 Nr_AvailableKernels(const NrKernels **out) {
    out[0] = &nr_plain::kKernels;
    uint32 n = 1;
#if NR_HAVE_AVX2 && NR_HAVE_AVX512
    // The AVX-512 set is the AVX2 set with wider doubles: a processor that
    // takes the first also tests the second.
    if (best() == &nr_avx512::kKernels) out[n++] = &nr_avx2::kKernels;
#endif
    if (best() != &nr_plain::kKernels) out[n++] = best();
    return n;
}

}  // extern "C"
