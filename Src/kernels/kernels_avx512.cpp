// The kernels for x86-64 processors with AVX-512 (F, VL, DQ): sixteen floats
// a vector over bins and samples, the transform's points as with AVX2.
// Without FMA contraction, as everywhere; chosen at run time only where the
// processor has these extensions.
#include "../exact.h"

// GCC 12's AVX-512 intrinsics start some vectors from a deliberately
// uninitialised value (_mm512_undefined_*), and warn about it wherever they
// are inlined; the warning is about the header, not this code.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include "kernels.h"

namespace nr_avx512 {

namespace {  // internal linkage: nothing here can stand in for another set's

#include "lanes_scalar.inc"
#include "lanes_avx2.inc"
#include "lanes_avx512.inc"

}  // namespace

using V = F32x16;
using C = F32x8;
#define NR_TARGET_NAME "avx512"
#include "kernels.inc"

}  // namespace nr_avx512
