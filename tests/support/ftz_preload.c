/* Loaded with LD_PRELOAD, switches on flush-to-zero and denormals-are-zero
 * before the program's main, as hosts and libraries built with fast math do
 * in their audio threads. The results must not change. x86-64 only. */
#include <xmmintrin.h>
#include <pmmintrin.h>

__attribute__((constructor)) static void ftz_daz_on(void) {
    _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_ON);
    _MM_SET_DENORMALS_ZERO_MODE(_MM_DENORMALS_ZERO_ON);
}
