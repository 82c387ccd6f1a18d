// The kernels for x86-64 processors with AVX2 (compiled with -mavx2 and
// without FMA; chosen at run time only where the processor has AVX2).
#include "../exact.h"

#include <immintrin.h>

#include "kernels.h"

namespace nr_avx2 {

namespace {  // internal linkage: nothing here can stand in for another set's

#include "lanes_scalar.inc"
#include "lanes_avx2.inc"

}  // namespace

using V = F32x8;
using C = F32x8;
#define NR_TARGET_NAME "avx2"
#include "kernels.inc"

}  // namespace nr_avx2
