#include "simd.h"

namespace {

int g_force_plain = 0;

int cpu_has_avx2() {
#if SIMD_HAVE_AVX2_BUILD
    // -1 until asked; every thread that races here stores the same answer.
    static int known = -1;
    int v = __atomic_load_n(&known, __ATOMIC_RELAXED);
    if (v < 0) {
        __builtin_cpu_init();
        v = __builtin_cpu_supports("avx2") ? 1 : 0;
        __atomic_store_n(&known, v, __ATOMIC_RELAXED);
    }
    return v;
#else
    return 0;
#endif
}

}  // namespace

extern "C" {

int Simd_Avx2(void) { return !__atomic_load_n(&g_force_plain, __ATOMIC_RELAXED) && cpu_has_avx2(); }

void Simd_ForcePlain(int on) { __atomic_store_n(&g_force_plain, on != 0, __ATOMIC_RELAXED); }

}  // extern "C"
