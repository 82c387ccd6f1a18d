// The kernels for x86-64 processors with AVX-512 (F, VL, DQ): sixteen floats
// a vector over bins and samples, the transform's points as with AVX2.
// Without FMA contraction, as everywhere; chosen at run time only where the
// processor has these extensions.
#include <immintrin.h>

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
